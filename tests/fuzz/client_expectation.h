// What the client library must read back from a value the server wrote:
// the writers' output is decoded with the client's own decoders
// (row_decoder.h, json_row_decoder.h) by the columns of the server's own
// field-definition document, and each value compared with the slot it came
// from.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "client/client_value.h"
#include "client/field_defs.h"
#include "commands/xml_field_defs.h"
#include "dataset/field.h"
#include "dataset/query.h"
#include "dataset/slot_format.h"

namespace velquarn::fuzz {

// The columns as the client reads them from the server's document.
inline std::vector<TColumnDef> ClientColumns(TcsQuery& query) {
  return ParseFieldDefs(BuildFieldDefsXml(query));
}

// Floats travel as 15 significant digits.
inline bool SameFloat(double read, double written) {
  if (std::isnan(written)) return std::isnan(read);
  if (std::isinf(written)) return read == written;
  return std::fabs(read - written) <= 1e-14 * std::fabs(written) + 5e-324;
}

// True when value is what the client must read for field's current value.
// json: the value came from the `getJSON` document, where a NULL of any
// column is "null" and text is compared after the round trip through
// UTF-8; otherwise from the `get` rows, where numeric NULLs read as 0.
// Dates and times are checked for their kind only: the wire moves them by
// zone and year (JSON) or renders them by locale (rows).
inline bool Matches(const TClientValue& value, TcsQuery& query, TField& field, bool json) {
  const TFieldType type = field.DataType();
  const char* data = query.GetFieldDataPtr(field);
  const bool blob = type == ftBlob || type == ftMemo;
  if (data == nullptr) {
    if (json || value.IsNull()) return value.IsNull();
    switch (type) {
      case ftFloat:
      case ftCurrency:
        return value.Kind == TValueKind::kFloat && value.Float == 0;
      case ftSmallint:
      case ftInteger:
      case ftAutoInc:
      case ftLargeint:
        return value.Kind == TValueKind::kInteger && value.Integer == 0;
      default:
        return false;
    }
  }
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftLargeint:
      return value.Kind == TValueKind::kInteger && value.Integer == DecodeIntegerSlot(type, data);
    case ftFloat:
    case ftCurrency:
      return value.Kind == TValueKind::kFloat && SameFloat(value.Float, DecodeFloatSlot(data));
    case ftBoolean:
      return value.Kind == TValueKind::kBoolean && value.Boolean == DecodeBooleanSlot(data);
    case ftString:
    case ftWideString: {
      const std::string_view text = DecodeTextSlot(data, field.DataSize());
      if (json && text == "null") return value.IsNull();
      return value.Kind == TValueKind::kText && value.Text == text;
    }
    case ftBytes:
    case ftVarBytes: {
      // A var-bytes column is a "string" column: JSON gives it as text.
      const std::string_view bytes(data, static_cast<size_t>(field.DataSize()));
      if (json && bytes == "null") return value.IsNull();
      const bool as_text = json && type == ftVarBytes && value.Kind == TValueKind::kText;
      return (value.Kind == TValueKind::kBytes || as_text) && value.Text == bytes;
    }
    case ftDate:
      return value.Kind == TValueKind::kDate;
    case ftTime:
      return value.Kind == TValueKind::kTime;
    case ftDateTime:
      return value.Kind == TValueKind::kDateTime;
    default:
      if (!blob) return false;
      if (json && type == ftMemo && query.BlobView(field) == "null") return value.IsNull();
      return value.Kind == (type == ftBlob ? TValueKind::kBytes : TValueKind::kText) &&
             value.Text == query.BlobView(field);
  }
}

// The bytes as C escapes: a row holds zero bytes and raw binary.
inline std::string Escaped(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      out += c;
    } else {
      char code[5];
      std::snprintf(code, sizeof(code), "\\x%02X", byte);
      out += code;
    }
  }
  return out;
}

// Stops the run showing the row's column and the value read.
[[noreturn]] inline void FailRoundTrip(const char* format, int column, const TClientValue& value,
                                       std::string_view written) {
  std::fprintf(stderr, "%s: column %d read back as kind %d [%s] from [%s]\n", format, column,
               static_cast<int>(value.Kind), value.ToString().c_str(), Escaped(written).c_str());
  std::abort();
}

}  // namespace velquarn::fuzz
