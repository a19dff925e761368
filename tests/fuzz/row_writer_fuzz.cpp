// The `get` row writer on random columns and values. Each value is written
// alone and read back by its type's rule: integers exactly, floats to 15
// significant digits (non-finite values by name), booleans by name, text
// unquoted, blobs and memos unhexed; NULL gives "0" or the byte 0xFF. A
// whole row is the values joined by "," and one 0x00, and the client
// library's row decoder reads it back, by the columns of the server's own
// field-definition document, to the values written.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "client/row_decoder.h"
#include "client_expectation.h"
#include "commands/row_writer.h"
#include "commands/text_stream.h"
#include "common/exceptions.h"
#include "dataset/field.h"
#include "fuzz_query.h"

namespace {

using namespace velquarn;

// The field being checked, shown when a check fails.
int checked_type = -1;
std::string_view checked_text;

void Check(bool condition) {
  if (condition) return;
  std::fprintf(stderr, "field type %d written as [%s]\n", checked_type,
               fuzz::Escaped(checked_text).c_str());
  std::abort();
}

std::string Unquoted(std::string_view text) {
  Check(text.size() >= 2 && text.front() == '"' && text.back() == '"');
  std::string out;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    out += text[i];
    if (text[i] == '"') {
      Check(text[i + 1] == '"');
      ++i;
    }
  }
  return out;
}

std::string Unhexed(std::string_view text) {
  Check(text.size() % 2 == 0);
  std::string out;
  for (size_t i = 0; i < text.size(); i += 2) {
    Check(std::strchr("0123456789ABCDEF", text[i]) && std::strchr("0123456789ABCDEF", text[i + 1]));
    out += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
  }
  return out;
}

void CheckValue(std::string_view written, TcsQuery& query, TField& field) {
  const char* data = query.GetFieldDataPtr(field);
  const TFieldType type = field.DataType();
  checked_type = type;
  checked_text = written;
  if (data == nullptr && type != ftBlob && type != ftMemo) {
    Check(written == "0" || written == "\xFF");
    return;
  }
  switch (type) {
    case ftSmallint:
      Check(written == std::to_string(LoadSlot<int16_t>(data)));
      break;
    case ftInteger:
    case ftAutoInc:
      Check(written == std::to_string(LoadSlot<int32_t>(data)));
      break;
    case ftLargeint:
      Check(written == std::to_string(LoadSlot<int64_t>(data)));
      break;
    case ftBoolean:
      Check(written == (LoadSlot<int16_t>(data) != 0 ? "True" : "False"));
      break;
    case ftFloat:
    case ftCurrency: {
      const double value = LoadSlot<double>(data);
      if (std::isnan(value)) {
        Check(written == "NAN");
      } else if (std::isinf(value)) {
        Check(written == (value < 0 ? "-INF" : "INF"));
      } else {
        // Read as long double: the largest doubles round up past the
        // double range at 15 digits.
        const long double read = std::strtold(std::string(written).c_str(), nullptr);
        Check(std::fabs(read - value) <= 1e-14L * std::fabs(value) + 5e-324L);
      }
      break;
    }
    case ftString:
    case ftWideString:
      Check(Unquoted(written) == std::string_view(data, strnlen(data, field.DataSize())));
      break;
    case ftBlob:
    case ftMemo:
      if (data == nullptr) {
        Check(written == "\xFF");
      } else {
        Check(Unhexed(written) == query.BlobView(field));
      }
      break;
    case ftBytes:
    case ftVarBytes:
      Check(written.size() == static_cast<size_t>(field.DataSize()));
      break;
    default:  // dates and times: regional text in quotes
      Check(written.size() >= 2 && written.front() == '"' && written.back() == '"');
      break;
  }
}

// Whether a number's token reads as the value the client decoded: the
// decoder takes any spelling of a float ("1.50", "01E1"), not only the
// server's own.
bool TokenReadsAs(const std::string& token, const TClientValue& value) {
  if (value.Kind == TValueKind::kInteger) return token == std::to_string(value.Integer);
  if (std::isnan(value.Float)) return token == "NAN";
  if (std::isinf(value.Float)) return token == (value.Float < 0 ? "-INF" : "INF");
  const long double read = std::strtold(token.c_str(), nullptr);
  return std::fabs(read - value.Float) <= 1e-14L * std::fabs(value.Float) + 5e-324L;
}

// Whether a row the client read spells the bytes of text from at on, its
// zero byte included; at moves past them. Another reading of the same bytes
// is allowed where the format has no escapes (raw bytes next to
// separators), but it must spell those bytes.
bool SpellsRow(const TClientRow& row, const std::vector<TColumnDef>& columns,
               std::string_view text, size_t& at) {
  TTextStream piece;
  for (size_t i = 0; i < row.size(); ++i) {
    const TClientValue& value = row[i];
    piece.Clear();
    switch (value.Kind) {
      case TValueKind::kInteger:
      case TValueKind::kFloat: {
        const size_t end = text.find_first_of(std::string_view(",\0", 2), at);
        if (end == std::string_view::npos ||
            !TokenReadsAs(std::string(text.substr(at, end - at)), value)) {
          return false;
        }
        piece.AppendText(text.substr(at, end - at));
        break;
      }
      case TValueKind::kNull:
        piece.AppendChar('\xFF');
        break;
      case TValueKind::kBoolean:
        piece.AppendText(value.Boolean ? "True" : "False");
        break;
      case TValueKind::kDecimal:
        piece.AppendText(value.Text);
        break;
      case TValueKind::kText:
        if (columns[i].Kind == TColumnKind::kMemo) {
          AppendHex(piece, value.Text);
        } else {
          AppendQuoted(piece, value.Text);
        }
        break;
      case TValueKind::kBytes:
        if (columns[i].Kind == TColumnKind::kBlob) {
          AppendHex(piece, value.Text);
        } else {
          piece.AppendText(value.Text);
        }
        break;
      default: {  // a date or time: its quoted token must read as the value
        const size_t close = text.find('"', at + 1);
        TCivilTime time;
        if (at >= text.size() || text[at] != '"' || close == std::string_view::npos ||
            !ParseIsoTime(text.substr(at + 1, close - at - 1), value.Kind, time) ||
            !(time == value.Time)) {
          return false;
        }
        piece.AppendText(text.substr(at, close + 1 - at));
        break;
      }
    }
    piece.AppendChar(i + 1 < row.size() ? ',' : '\0');
    if (text.substr(at, piece.Bytes().size()) != piece.Bytes()) return false;
    at += piece.Bytes().size();
  }
  return true;
}

void CheckDecoded(TcsQuery& query, std::string_view row_text,
                  const std::vector<TColumnDef>& columns) {
  std::vector<TClientRow> rows;
  try {
    rows = DecodeRows(columns, row_text);
  } catch (const Exception& e) {
    std::fprintf(stderr, "row not decoded: %s\n", e.what());
    for (const TColumnDef& column : columns) {
      std::fprintf(stderr, "column %s size %d\n", column.DataType.c_str(), column.Size);
    }
    checked_text = row_text;
    Check(false);
  }
  if (rows.size() != 1 || rows[0].size() != static_cast<size_t>(query.FieldCount())) {
    // The format has no escapes: raw bytes that begin and end with a quote
    // also read as quoted text, and a zero byte among them as a row's end
    // (row_decoder.h). Another reading is a right one when it spells the
    // same bytes.
    checked_text = row_text;
    size_t at = 0;
    for (const TClientRow& decoded : rows) {
      Check(decoded.size() == columns.size() && SpellsRow(decoded, columns, row_text, at));
    }
    Check(at == row_text.size());
    return;
  }
  for (int i = 0; i < query.FieldCount(); ++i) {
    const TClientValue& value = rows[0][static_cast<size_t>(i)];
    if (fuzz::Matches(value, query, query.Fields(i), false)) continue;
    size_t at = 0;
    if (!SpellsRow(rows[0], columns, row_text, at) || at != row_text.size()) {
      fuzz::FailRoundTrip("row", i, value, row_text);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::TFuzzQuery* source = new fuzz::TFuzzQuery();
  FuzzedDataProvider input(data, size);
  TcsQuery& query = source->Open(input);
  const std::vector<TColumnDef> columns = fuzz::ClientColumns(query);
  TTextStream row;
  TTextStream value;
  while (!query.Eof()) {
    row.Clear();
    WriteRow(row, query);
    std::string joined;
    for (int i = 0; i < query.FieldCount(); ++i) {
      value.Clear();
      WriteRowValue(value, query, query.Fields(i));
      CheckValue(value.Bytes(), query, query.Fields(i));
      if (i > 0) joined += ',';
      joined += value.Bytes();
    }
    joined += '\0';
    Check(row.Bytes() == joined);
    CheckDecoded(query, row.Bytes(), columns);
    query.Next();
  }
  return 0;
}
