// Running a statement and reading its result through a TVelquarnClient:
// `sql` with its field definitions or affected-row count, `get` pages
// decoded into typed rows, and `getJSON`. Same thread-safety as the client:
// one thread per client.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "client/client_value.h"
#include "client/velquarn_client.h"

namespace velquarn {

struct TStatementResult {
  TClientReply Reply;
  // 200 with the field definitions: the statement opened a result set.
  bool HasResultSet = false;
  std::vector<TColumnDef> Columns;
  // 201: the rows the statement changed; -1 otherwise.
  int64_t RowsAffected = -1;
  // 1xx or 2xx.
  bool Ok() const { return Reply.Code >= 100 && Reply.Code < 300; }
};

// Sends `sql statement`; reads the reply, the 201 data block and the field
// definitions. An error reply (512, 521, ...) is returned, not raised;
// transport faults and undecodable replies raise Exception / EDecodeError.
TStatementResult RunSql(TVelquarnClient& client, std::string_view statement);

struct TFetchResult {
  TClientReply Reply;
  std::vector<TClientRow> Rows;
  // 522 EOF, or fewer rows than asked for: no more rows follow.
  bool AtEnd = false;
};

// Sends `get count` and decodes the counted block by columns. A 522 reply
// gives no rows and AtEnd; other error replies are returned with no rows.
TFetchResult FetchRows(TVelquarnClient& client, const std::vector<TColumnDef>& columns, int count);

// Sends `info` and parses the document; raises EDecodeError when the reply
// is not 200 with a field-definition document.
std::vector<TColumnDef> ReadColumns(TVelquarnClient& client);

// Sends `getJSON` and decodes the document (json_row_decoder.h); raises
// EDecodeError on an error reply.
std::vector<TClientRow> ReadJsonRows(TVelquarnClient& client,
                                     const std::vector<TColumnDef>& columns,
                                     int32_t zone_hours = 0);

}  // namespace velquarn
