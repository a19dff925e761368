#include "commands/xml_field_defs.h"

#include "dataset/field.h"
#include "dataset/query.h"

namespace velquarn {

namespace {

constexpr std::string_view kHeader =
    "<?xml version = \"1.0\" ?><fielddefs datetimeformat=\"iso\" decimalseparator=\".\">";

// "&" and "<" cannot stand literally in XML text; ">" and quotes can.
void AppendXmlText(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else {
      out += c;
    }
  }
}

void AppendFieldDef(std::string& out, const TField& field) {
  const bool bcd = field.DataType() == ftBCD;
  out += "<field><name>";
  AppendXmlText(out, field.FieldName());
  out += "</name><size>";
  out += bcd ? std::string("0") : std::to_string(field.Size());
  out += "</size><origin>";
  AppendXmlText(out, field.Origin());
  out += "</origin>";
  if (bcd) {
    out += "<precision>";
    out += std::to_string(field.Precision());
    out += "</precision>";
  }
  if (field.Required()) out += "<required>true</required>";
  if (field.ReadOnly()) out += "<readonly>true</readonly>";
  out += "<datatype>";
  out += XmlDataTypeName(field.DataType());
  out += "</datatype></field>";
}

}  // namespace

std::string_view XmlDataTypeName(TFieldType type) {
  switch (type) {
    case ftSmallint:
      return "int16";
    case ftInteger:
      return "int32";
    case ftLargeint:
      return "int64";
    case ftBoolean:
      return "boolean";
    case ftFloat:
    case ftBCD:
      return "double";
    case ftCurrency:
      return "currency";
    case ftDate:
      return "date";
    case ftTime:
      return "time";
    case ftDateTime:
      return "datetime";
    case ftBytes:
      return "bytes";
    case ftBlob:
      return "blob";
    case ftMemo:
      return "memo";
    default:
      return "string";
  }
}

std::string BuildFieldDefsXml(const std::vector<const TField*>& fields) {
  std::string out(kHeader);
  for (const TField* field : fields) AppendFieldDef(out, *field);
  out += "</fielddefs>";
  return out;
}

std::string BuildFieldDefsXml(TcsQuery& query) {
  std::string out(kHeader);
  const int count = query.FieldCount();
  for (int i = 0; i < count; ++i) AppendFieldDef(out, query.Fields(i));
  out += "</fielddefs>";
  return out;
}

}  // namespace velquarn
