#include "odbc/odbc_catalog_names.h"

#include <string_view>
#include <utility>

#include "common/text.h"

namespace velquarn {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// The maximum number of parts: catalog, schema, procedure.
constexpr size_t kMaxNameParts = 3;

std::string Dequote(const std::string& text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return text;
  std::string result;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '"') {
      if (i + 2 < text.size() && text[i + 1] == '"') {
        result += '"';
        ++i;
        continue;
      }
      return text;  // a lone quote inside: not properly quoted
    }
    result += text[i];
  }
  return result;
}

}  // namespace

TQualifiedName SplitQualifiedName(const std::string& name) {
  TQualifiedName result;
  std::string rest = name;
  const size_t quote = rest.find('"');
  if (quote != std::string::npos) {
    result.table = Dequote(rest.substr(quote));
    if (quote == 0) return result;
    rest.resize(quote);
  } else if (rest.find('.') == std::string::npos) {
    result.table = rest;
    return result;
  }
  const size_t last_dot = rest.rfind('.');
  if (last_dot == std::string::npos) {
    // A quoted table after a prefix without a dot: the prefix is the schema.
    result.schema = rest;
    return result;
  }
  if (last_dot + 1 < rest.size()) result.table = rest.substr(last_dot + 1);
  rest.resize(last_dot);
  const size_t first_dot = rest.find('.');
  if (first_dot != std::string::npos) {
    result.catalog = rest.substr(0, first_dot);
    result.schema = rest.substr(first_dot + 1);
  } else {
    result.schema = rest;
  }
  return result;
}

std::vector<TNamePart> SplitProcedureName(const std::string& name, char identifier_quote) {
  std::vector<TNamePart> parts;
  const size_t size = name.size();
  size_t i = 0;
  auto is_quote = [identifier_quote](char c) { return c == '"' || c == identifier_quote; };
  while (true) {
    while (i < size && IsBlank(name[i])) ++i;
    TNamePart part;
    if (i < size && is_quote(name[i])) {
      const char quote = name[i++];
      bool closed = false;
      while (i < size && !closed) {
        if (name[i] != quote) {
          part.text += name[i++];
        } else if (i + 1 < size && name[i + 1] == quote) {
          part.text += quote;
          i += 2;
        } else {
          ++i;
          closed = true;
        }
      }
      if (!closed) return {};
      part.quoted = true;
      while (i < size && IsBlank(name[i])) ++i;
    } else {
      const size_t dot = name.find('.', i);
      const size_t end = dot == std::string::npos ? size : dot;
      part.text = Trim(std::string_view(name).substr(i, end - i));
      for (char c : part.text) {
        if (is_quote(c)) return {};
      }
      i = end;
    }
    if (part.text.empty()) return {};
    parts.push_back(std::move(part));
    if (parts.size() > kMaxNameParts) return {};
    if (i >= size) return parts;
    if (name[i] != '.') return {};
    ++i;
  }
}

}  // namespace velquarn
