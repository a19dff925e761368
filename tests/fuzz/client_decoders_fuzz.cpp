// The client library's decoders on bytes of any kind: the field-definition
// document, the `get` rows by columns the input chooses, and the `getJSON`
// document. Each either decodes or raises EDecodeError; what it decodes
// holds one value per column, and a raw byte value has its column's size.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/client_value.h"
#include "client/decode_error.h"
#include "client/field_defs.h"
#include "client/json_row_decoder.h"
#include "client/row_decoder.h"
#include "fuzz_check.h"

namespace {

using namespace velquarn;

constexpr const char* kDataTypes[] = {"string",   "int16",    "int32",   "int64", "double",
                                      "double",   "currency", "boolean", "date",  "time",
                                      "datetime", "bytes",    "blob",    "memo"};

std::vector<TColumnDef> ChosenColumns(FuzzedDataProvider& input) {
  std::vector<TColumnDef> columns(input.ConsumeIntegralInRange<size_t>(1, 6));
  for (size_t i = 0; i < columns.size(); ++i) {
    TColumnDef& column = columns[i];
    column.Name = "c" + std::to_string(i);
    const size_t type = input.ConsumeIntegralInRange<size_t>(0, std::size(kDataTypes) - 1);
    column.DataType = kDataTypes[type];
    column.Precision = type == 5 ? input.ConsumeIntegralInRange<int>(0, 20) : -1;
    column.Size = input.ConsumeIntegralInRange<int>(0, 12);
    column.Kind = ColumnKindOf(column.DataType, column.Precision >= 0);
  }
  return columns;
}

void CheckRows(const std::vector<TColumnDef>& columns, const std::vector<TClientRow>& rows,
               bool raw) {
  for (const TClientRow& row : rows) {
    Check(row.size() == columns.size());
    for (size_t i = 0; i < row.size(); ++i) {
      const TClientValue& value = row[i];
      if (raw && columns[i].Kind == TColumnKind::kBytes && !value.IsNull()) {
        Check(value.Kind == TValueKind::kBytes &&
              value.Text.size() == static_cast<size_t>(columns[i].Size));
      }
      value.ToString();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int mode = input.ConsumeIntegralInRange<int>(0, 3);
  try {
    if (mode == 0) {
      for (const TColumnDef& column : ParseFieldDefs(input.ConsumeRemainingBytesAsString())) {
        Check(column.Kind == ColumnKindOf(column.DataType, column.Precision >= 0));
        Check(column.Size >= 0);
      }
    } else if (mode == 3) {
      // A document of the input's own, then rows by its columns.
      const std::vector<TColumnDef> columns = ParseFieldDefs(input.ConsumeRandomLengthString());
      const std::string payload = input.ConsumeRemainingBytesAsString();
      if (!columns.empty()) CheckRows(columns, DecodeRows(columns, payload), true);
    } else {
      const std::vector<TColumnDef> columns = ChosenColumns(input);
      const int32_t zone = input.ConsumeIntegralInRange<int32_t>(-14, 14);
      const std::string payload = input.ConsumeRemainingBytesAsString();
      if (mode == 1) {
        const std::vector<TClientRow> rows = DecodeRows(columns, payload);
        size_t zeros = 0;
        for (char c : payload) zeros += c == '\0';
        Check(rows.size() <= zeros);
        CheckRows(columns, rows, true);
      } else {
        CheckRows(columns, DecodeJsonRows(columns, payload, zone), false);
      }
    }
  } catch (const EDecodeError&) {
    // Not a document or payload of these columns.
  }
  return 0;
}
