#include "protocol/param_split.h"

#include "common/text.h"

namespace velquarn {

namespace {

std::vector<std::string> SplitAtSpaces(std::string_view raw) {
  std::vector<std::string> params;
  size_t start = 0;
  while (start <= raw.size()) {
    size_t space = raw.find(' ', start);
    if (space == std::string_view::npos) space = raw.size();
    if (space > start) params.emplace_back(raw.substr(start, space - start));
    start = space + 1;
  }
  return params;
}

std::vector<std::string> SplitAndTrim(std::string_view raw, char delimiter) {
  std::vector<std::string> params;
  std::string text = Trim(raw);
  if (text.empty()) return params;
  size_t start = 0;
  while (start <= text.size()) {
    size_t next = text.find(delimiter, start);
    if (next == std::string::npos) next = text.size();
    if (next > start) params.push_back(Trim(std::string_view(text).substr(start, next - start)));
    start = next + 1;
  }
  return params;
}

}  // namespace

std::vector<std::string> SplitParams(std::string_view raw, char delimiter) {
  if (delimiter == ' ') return SplitAtSpaces(raw);
  return SplitAndTrim(raw, delimiter);
}

}  // namespace velquarn
