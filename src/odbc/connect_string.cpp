#include "odbc/connect_string.h"

namespace velquarn {

namespace {

bool NeedsQuoting(std::string_view value) {
  if (value.empty()) return false;
  if (value.find_first_of(";{}=") != std::string_view::npos) return true;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  return blank(value.front()) || blank(value.back());
}

}  // namespace

bool IsBraceQuoted(std::string_view value) {
  if (value.size() < 2 || value.front() != '{' || value.back() != '}') return false;
  const std::string_view inner = value.substr(1, value.size() - 2);
  for (size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] != '}') continue;
    if (i + 1 >= inner.size() || inner[i + 1] != '}') return false;
    ++i;
  }
  return true;
}

std::string QuoteConnectValue(std::string_view value) {
  // A value that an operator (or a client, before quoting existed) already
  // wrote in braces keeps its meaning: it cannot add a keyword either.
  if (!NeedsQuoting(value) || IsBraceQuoted(value)) return std::string(value);
  std::string quoted = "{";
  for (char c : value) {
    quoted += c;
    if (c == '}') quoted += '}';
  }
  quoted += '}';
  return quoted;
}

std::string QuoteConnectPair(std::string_view line) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return std::string(line);
  return std::string(line.substr(0, equals + 1)) + QuoteConnectValue(line.substr(equals + 1));
}

bool ReadsAsOneValue(std::string_view value) {
  const size_t semicolon = value.find(';');
  return semicolon == std::string_view::npos ||
         value.find('=', semicolon) == std::string_view::npos;
}

}  // namespace velquarn
