#include "commands/open_commands.h"

#include <charconv>

namespace velquarn {

namespace {

bool BeginsWithBang(const std::vector<std::string>& params, size_t index) {
  return index < params.size() && !params[index].empty() && params[index][0] == '!';
}

// The module date travels as a decimal integer; anything else counts as 0.
int32_t ParseModuleDate(std::string_view text) {
  int32_t value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto result = std::from_chars(begin, end, value);
  if (result.ec != std::errc() || result.ptr != end) return 0;
  return value;
}

}  // namespace

TOpenParams ParseOpenParams(const std::vector<std::string>& params) {
  TOpenParams open;
  if (!params.empty()) open.open_name = params[0];
  if (params.size() > 1 && !BeginsWithBang(params, 1)) open.user_id = params[1];
  if (params.size() > 2 && !BeginsWithBang(params, 2)) open.password = params[2];

  std::string module;
  std::string date;
  if (BeginsWithBang(params, 1)) module = params[1];
  if (BeginsWithBang(params, 3)) module = params[3];
  if (BeginsWithBang(params, 2)) date = params[2];
  if (BeginsWithBang(params, 4)) date = params[4];

  open.has_module = !module.empty();
  if (open.has_module) {
    open.module_name = module.substr(1);
    if (!date.empty()) open.module_date = ParseModuleDate(std::string_view(date).substr(1));
  }
  return open;
}

std::string BuildDatabaseComponentName(std::string_view open_name, uint64_t connection_number,
                                       uint32_t tick_count) {
  std::string name(open_name);
  name += std::to_string(connection_number);
  name += std::to_string(tick_count);
  return name;
}

std::string ClientVersionRejectedText(std::string_view module_name) {
  std::string text = "Felaktig klientversion av modulen \"";
  text += module_name;
  text += "\". Kontakta IT-avdelningen f\xF6r hj\xE4lp.";
  return text;
}

}  // namespace velquarn
