#include "client/field_defs.h"

#include <charconv>
#include <string>

#include "client/decode_error.h"

namespace velquarn {

namespace {

constexpr std::string_view kRootStart = "<fielddefs";
constexpr std::string_view kRootEnd = "</fielddefs>";

// The server escapes "&" and "<"; the other predefined entities are read
// too, so a hand-written document works.
std::string UnescapeXml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    const size_t semicolon = text.find(';', i);
    if (semicolon == std::string_view::npos) {
      throw EDecodeError("Field definitions: '&' without ';' in \"" + std::string(text) + "\"");
    }
    const std::string_view entity = text.substr(i + 1, semicolon - i - 1);
    if (entity == "amp") {
      out += '&';
    } else if (entity == "lt") {
      out += '<';
    } else if (entity == "gt") {
      out += '>';
    } else if (entity == "quot") {
      out += '"';
    } else if (entity == "apos") {
      out += '\'';
    } else {
      throw EDecodeError("Field definitions: unknown entity &" + std::string(entity) + ";");
    }
    i = semicolon;
  }
  return out;
}

int ParseNumber(std::string_view text, std::string_view element) {
  int value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value < 0) {
    throw EDecodeError("Field definitions: <" + std::string(element) +
                       "> expected a number, got \"" + std::string(text) + "\"");
  }
  return value;
}

TColumnDef ParseField(std::string_view body) {
  TColumnDef column;
  bool has_type = false;
  size_t at = 0;
  while (at < body.size()) {
    if (body[at] != '<') throw EDecodeError("Field definitions: expected '<' inside <field>");
    const size_t close = body.find('>', at);
    if (close == std::string_view::npos) {
      throw EDecodeError("Field definitions: unclosed tag inside <field>");
    }
    const std::string_view tag = body.substr(at + 1, close - at - 1);
    const std::string end_tag = "</" + std::string(tag) + ">";
    const size_t end = body.find(end_tag, close + 1);
    if (tag.empty() || tag[0] == '/' || end == std::string_view::npos) {
      throw EDecodeError("Field definitions: expected </" + std::string(tag) + ">");
    }
    const std::string value = UnescapeXml(body.substr(close + 1, end - close - 1));
    if (tag == "name") {
      column.Name = value;
    } else if (tag == "origin") {
      column.Origin = value;
    } else if (tag == "size") {
      column.Size = ParseNumber(value, tag);
    } else if (tag == "precision") {
      column.Precision = ParseNumber(value, tag);
    } else if (tag == "required") {
      column.Required = value == "true";
    } else if (tag == "readonly") {
      column.ReadOnly = value == "true";
    } else if (tag == "datatype") {
      column.DataType = value;
      has_type = true;
    }
    at = end + end_tag.size();
  }
  if (!has_type) throw EDecodeError("Field definitions: <field> without <datatype>");
  column.Kind = ColumnKindOf(column.DataType, column.Precision >= 0);
  return column;
}

}  // namespace

TColumnKind ColumnKindOf(std::string_view data_type, bool has_precision) {
  if (data_type == "int16" || data_type == "int32" || data_type == "int64") {
    return TColumnKind::kInteger;
  }
  if (data_type == "double") return has_precision ? TColumnKind::kDecimal : TColumnKind::kFloat;
  if (data_type == "currency") return TColumnKind::kFloat;
  if (data_type == "boolean") return TColumnKind::kBoolean;
  if (data_type == "date") return TColumnKind::kDate;
  if (data_type == "time") return TColumnKind::kTime;
  if (data_type == "datetime") return TColumnKind::kDateTime;
  if (data_type == "bytes") return TColumnKind::kBytes;
  if (data_type == "blob") return TColumnKind::kBlob;
  if (data_type == "memo") return TColumnKind::kMemo;
  return TColumnKind::kText;
}

std::vector<TColumnDef> ParseFieldDefs(std::string_view xml) {
  const size_t root = xml.find(kRootStart);
  if (root == std::string_view::npos) {
    throw EDecodeError("Field definitions: expected <fielddefs>, got \"" +
                       std::string(xml.substr(0, 80)) + "\"");
  }
  size_t at = xml.find('>', root);
  const size_t root_end = xml.rfind(kRootEnd);
  if (at == std::string_view::npos || root_end == std::string_view::npos || root_end < at) {
    throw EDecodeError("Field definitions: expected </fielddefs> at the end");
  }
  ++at;
  std::vector<TColumnDef> columns;
  constexpr std::string_view kFieldStart = "<field>";
  constexpr std::string_view kFieldEnd = "</field>";
  while (at < root_end) {
    if (xml.substr(at, kFieldStart.size()) != kFieldStart) {
      throw EDecodeError("Field definitions: expected <field> at offset " + std::to_string(at));
    }
    const size_t end = xml.find(kFieldEnd, at);
    if (end == std::string_view::npos || end > root_end) {
      throw EDecodeError("Field definitions: expected </field>");
    }
    columns.push_back(
        ParseField(xml.substr(at + kFieldStart.size(), end - at - kFieldStart.size())));
    at = end + kFieldEnd.size();
  }
  return columns;
}

}  // namespace velquarn
