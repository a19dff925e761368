#include "odbc/odbc_catalog_names.h"

namespace velquarn {

namespace {

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

}  // namespace velquarn
