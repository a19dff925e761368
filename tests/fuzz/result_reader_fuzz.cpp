// The client library's statement and result readers (result_reader.h) on
// whatever a server answers: the `sql` reply with its field definitions or
// affected-row count, the `get` counted block, `info` and `getJSON`. The
// loopback listener of fuzz_listener.h plays the server with the input
// after its first two bytes, which choose the calls; every call ends in a
// result, an error reply or the client's exception, never a hang, a crash
// or an overrun.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "client/result_reader.h"
#include "common/exceptions.h"
#include "fuzz_check.h"
#include "fuzz_listener.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velquarn;
  static auto* listener = new fuzz::TListener();
  if (size < 2 || size > fuzz::kMaxWire) return 0;
  const unsigned ops = data[0] | data[1] << 8;
  const std::string_view wire(reinterpret_cast<const char*>(data) + 2, size - 2);

  TVelquarnClient client;
  listener->Serve(client, wire);
  std::vector<TColumnDef> columns;
  try {
    for (int step = 0;; ++step) {
      switch ((ops >> (2 * (step % 8))) & 3) {
        case 0: {
          const TStatementResult result = RunSql(client, "select 1");
          Check(result.HasResultSet == (result.Reply.Code == 200));
          Check(result.Reply.Code == 201 || result.RowsAffected == -1);
          if (result.HasResultSet) columns = result.Columns;
          break;
        }
        case 1: {
          if (columns.empty()) columns.push_back({"c", "", "string", 4});
          const TFetchResult result = FetchRows(client, columns, 3);
          Check(result.Rows.empty() || result.Reply.Code == 200);
          for (const TClientRow& row : result.Rows) Check(row.size() == columns.size());
          break;
        }
        case 2:
          columns = ReadColumns(client);
          break;
        case 3:
          if (columns.empty())
            columns.push_back({"c", "", "int32", 4, -1, false, false, TColumnKind::kInteger});
          for (const TClientRow& row : ReadJsonRows(client, columns, 1)) {
            Check(row.size() == columns.size());
          }
          break;
      }
    }
  } catch (const Exception&) {
    // The stream's end, a malformed reply or an undecodable result.
  }
  return 0;
}
