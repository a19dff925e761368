// The `infoJSON` and `getJSON` documents on random columns and values: both
// must be valid JSON (RFC 8259, UTF-8) whatever the names and values hold,
// with one object per row and, for text columns, the value's cp1252 text
// back after decoding; and the client library's JSON row decoder reads the
// document, by the columns of the server's own field-definition document,
// back to the values written. A date before 1970 may fail the document with the
// documented conversion error, nothing else.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "client/json_row_decoder.h"
#include "client_expectation.h"
#include "commands/json_writer.h"
#include "commands/text_stream.h"
#include "common/cp1252.h"
#include "common/exceptions.h"
#include "dataset/field.h"
#include "fuzz_check.h"
#include "fuzz_query.h"

namespace {

using namespace velquarn;

// A document that does not parse is shown before the run stops.
nlohmann::ordered_json Parsed(std::string_view text) {
  auto document = nlohmann::ordered_json::parse(text, nullptr, false);
  if (document.is_discarded()) {
    std::fprintf(stderr, "not JSON: %.*s\n", static_cast<int>(text.size()), text.data());
    std::abort();
  }
  return document;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::TFuzzQuery* source = new fuzz::TFuzzQuery();
  FuzzedDataProvider input(data, size);
  const int32_t zone = input.ConsumeIntegralInRange<int32_t>(-14, 14);
  TcsQuery& query = source->Open(input);

  TTextStream columns;
  WriteJsonColumns(columns, query);
  const auto column_list = Parsed(columns.Bytes());
  Check(column_list["columns"].size() == static_cast<size_t>(query.FieldCount()));

  TTextStream rows;
  query.First();
  try {
    WriteJsonRows(rows, query, zone);
  } catch (const EConvertError&) {
    return 0;  // a date before 1970: the command answers 500
  }
  const auto document = Parsed(rows.Bytes());
  const auto& row_list = document["rows"];
  query.First();
  for (size_t r = 0; r < row_list.size(); ++r, query.Next()) {
    Check(!query.Eof());
    const auto& row = row_list[r];
    // Names may repeat after conversion; compare by position when they do not.
    if (row.size() != static_cast<size_t>(query.FieldCount())) continue;
    size_t i = 0;
    for (const auto& item : row.items()) {
      TField& field = query.Fields(static_cast<int>(i++));
      const char* slot = query.GetFieldDataPtr(field);
      if (slot == nullptr) continue;
      if (field.DataType() == ftString || field.DataType() == ftWideString) {
        Check(Utf8ToCp1252(item.value().get<std::string>()) ==
              std::string_view(slot, strnlen(slot, field.DataSize())));
      } else if (field.DataType() == ftMemo) {
        Check(Utf8ToCp1252(item.value().get<std::string>()) == query.BlobView(field));
      }
    }
  }
  Check(query.Eof());

  const std::vector<TColumnDef> client_columns = fuzz::ClientColumns(query);
  std::vector<TClientRow> decoded;
  try {
    decoded = DecodeJsonRows(client_columns, rows.Bytes(), zone);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\nin %.*s\n", e.what(), static_cast<int>(rows.Bytes().size()),
                 rows.Bytes().data());
    std::abort();
  }
  Check(decoded.size() == row_list.size());
  query.First();
  for (const TClientRow& row : decoded) {
    for (int i = 0; i < query.FieldCount(); ++i) {
      if (!fuzz::Matches(row[static_cast<size_t>(i)], query, query.Fields(i), true)) {
        fuzz::FailRoundTrip("json", i, row[static_cast<size_t>(i)], rows.Bytes());
      }
    }
    query.Next();
  }
  return 0;
}
