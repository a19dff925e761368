#include "commands/sql_commands.h"

#include "common/text.h"

namespace velquarn {

namespace {

constexpr std::string_view kGuardMessage =
    "**Allvarligt fel vid uppdatering av data. Kontakta TESSIK.** ";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  // Not a hex digit: the low four bits stand in, so any text decodes to
  // something and the statement's own error reports it.
  return c & 0x0F;
}

}  // namespace

bool PassesWhereGuard(std::string_view statement) {
  const std::string trimmed = Trim(statement);
  const std::string_view head = std::string_view(trimmed).substr(0, 6);
  if (!SameText(head, "delete") && !SameText(head, "update")) return true;
  return LowerCase(statement).find(" where ") != std::string::npos;
}

std::string WhereGuardMessage(std::string_view statement) {
  std::string message(kGuardMessage);
  message += statement;
  return message;
}

bool IsConnectionLoss(std::string_view message, bool include_cwbco1047) {
  if (message.find(" CWBCO1003 ") != std::string_view::npos) return true;
  return include_cwbco1047 && message.find(" CWBCO1047 ") != std::string_view::npos;
}

std::string DecodeHexStatement(std::string_view hex) {
  std::string statement(hex.size() / 2, '\0');
  for (size_t i = 0; i < statement.size(); ++i) {
    statement[i] = static_cast<char>(HexValue(hex[2 * i]) << 4 | HexValue(hex[2 * i + 1]));
  }
  return statement;
}

}  // namespace velquarn
