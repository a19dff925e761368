#include "commands/prep_text.h"

namespace velquarn {

namespace {

// Reads a quoted string that starts at text[pos] (a double quote). Returns
// its content and leaves pos just after the closing quote, or at the end of
// the text when the closing quote is missing.
std::string TakeQuoted(std::string_view text, size_t& pos) {
  std::string content;
  ++pos;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"') {
      if (pos + 1 < text.size() && text[pos + 1] == '"') {
        content += '"';
        pos += 2;
        continue;
      }
      ++pos;
      return content;
    }
    content += c;
    ++pos;
  }
  return content;
}

}  // namespace

std::string ExecParamValue(std::string_view value) {
  if (value.empty() || value.front() != '"') return std::string(value);
  size_t pos = 0;
  std::string content = TakeQuoted(value, pos);
  // An empty quoted string is kept as sent, so that a client can still pass
  // the two quote characters themselves.
  if (content.empty()) return std::string(value);
  return content;
}

std::vector<std::string> SplitCallList(std::string_view text) {
  std::vector<std::string> items;
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == '"') {
      items.push_back(TakeQuoted(text, pos));
      // What follows the closing quote up to the next comma is an item of its
      // own; a comma right after the quote only separates.
      if (pos < text.size() && text[pos] != ',') {
        const size_t comma = text.find(',', pos);
        const size_t end = comma == std::string_view::npos ? text.size() : comma;
        items.emplace_back(text.substr(pos, end - pos));
        pos = end;
      }
    } else {
      const size_t comma = text.find(',', pos);
      const size_t end = comma == std::string_view::npos ? text.size() : comma;
      items.emplace_back(text.substr(pos, end - pos));
      pos = end;
    }
    if (pos < text.size()) {
      ++pos;  // the comma
      if (pos == text.size()) items.emplace_back();
    }
  }
  return items;
}

std::vector<std::string> CallStatementLines(std::string_view procedure, int argument_count) {
  std::vector<std::string> lines;
  lines.push_back("call " + std::string(procedure));
  if (argument_count > 0) {
    lines.emplace_back("(");
    lines.emplace_back(":p1");
    for (int k = 2; k <= argument_count; ++k) lines.push_back(",:p" + std::to_string(k));
    lines.emplace_back(")");
  }
  return lines;
}

}  // namespace velquarn
