#include "client/result_reader.h"

#include <string>

#include "client/decode_error.h"
#include "client/field_defs.h"
#include "client/json_row_decoder.h"
#include "client/row_decoder.h"
#include "common/text.h"

namespace velquarn {

TStatementResult RunSql(TVelquarnClient& client, std::string_view statement) {
  TStatementResult result;
  result.Reply = client.Command("sql " + std::string(statement));
  if (result.Reply.Code == 200) {
    result.Columns = ParseFieldDefs(result.Reply.Text());
    result.HasResultSet = true;
  } else if (result.Reply.Code == 201) {
    const std::vector<std::string> lines = client.ReadDataBlock();
    if (lines.empty() || !TryStrToInt(lines[0], result.RowsAffected)) {
      throw EDecodeError("sql: expected the affected-row count after 201");
    }
  }
  return result;
}

TFetchResult FetchRows(TVelquarnClient& client, const std::vector<TColumnDef>& columns, int count) {
  TFetchResult result;
  result.Reply = client.Command("get " + std::to_string(count));
  if (result.Reply.Code == 522) {
    result.AtEnd = true;
    return result;
  }
  if (result.Reply.Code != 200) return result;
  result.Rows = DecodeRows(columns, client.ReadCountedBlock());
  result.AtEnd = static_cast<int>(result.Rows.size()) < count;
  return result;
}

std::vector<TColumnDef> ReadColumns(TVelquarnClient& client) {
  const TClientReply reply = client.Command("info");
  if (reply.Code != 200) {
    throw EDecodeError("info: expected 200 and field definitions, got " +
                       std::to_string(reply.Code) + " " + reply.Text());
  }
  return ParseFieldDefs(client.ReadCountedBlock());
}

std::vector<TClientRow> ReadJsonRows(TVelquarnClient& client,
                                     const std::vector<TColumnDef>& columns, int32_t zone_hours) {
  const TClientReply reply = client.Command("getJSON");
  if (reply.Code != 200) {
    throw EDecodeError("getJSON: expected 200 and a row document, got " +
                       std::to_string(reply.Code) + " " + reply.Text());
  }
  return DecodeJsonRows(columns, client.ReadCountedBlock(), zone_hours);
}

}  // namespace velquarn
