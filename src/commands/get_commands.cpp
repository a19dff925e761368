#include "commands/get_commands.h"

#include <exception>
#include <functional>
#include <string>

#include "commands/command_table.h"
#include "commands/context_access.h"
#include "commands/db_context.h"
#include "commands/json_writer.h"
#include "commands/row_writer.h"
#include "commands/text_stream.h"
#include "commands/xml_field_defs.h"
#include "common/text.h"
#include "dataset/query.h"
#include "dataset/sql_errors.h"
#include "metrics/gateway_metrics.h"
#include "protocol/command_invocation.h"

namespace velquarn {

namespace {

constexpr const char* kGetPrefix = "[Velquarn.Get]:";
// A payload buffer that grew beyond this for one large reply (a getJSON of
// a big result) is given back afterwards instead of being kept for the
// connection's life.
constexpr size_t kKeptPayloadCapacity = 4 * 1024 * 1024;

// One payload buffer per connection thread, reused by every reply of the
// connection: once it has grown to the usual batch size, building a reply
// allocates nothing.
class TPayload {
 public:
  TPayload() : stream_(Buffer()) { stream_.Clear(); }
  TPayload(const TPayload&) = delete;
  TPayload& operator=(const TPayload&) = delete;
  ~TPayload() {
    if (stream_.Capacity() > kKeptPayloadCapacity) {
      stream_.Clear();
      stream_.ShrinkToFit();
    }
  }
  TTextStream& Stream() { return stream_; }

 private:
  static TTextStream& Buffer() {
    thread_local TTextStream buffer;
    return buffer;
  }
  TTextStream& stream_;
};

// Sends the reply now and the payload after it as one counted block.
// Applies Settings/MaxResultMB (as the last reload left it) to the rows the
// reply is about to fetch.
void LimitResult(TcsQuery& query, const TCommandEnvironment& environment) {
  const auto live = environment.Live();
  query.SetMaxHeldBytes(live != nullptr ? int64_t{live->MaxResultMB} * 1024 * 1024 : 0);
}

// The reply to a result that outgrew Settings/MaxResultMB: the result is
// closed, so its memory comes back, and the session goes on.
void RefuseLargeResult(TCommandInvocation& invocation, TcsQuery& query,
                       const EResultTooLarge& error) {
  try {
    query.Close();
  } catch (const std::exception&) {
  }
  invocation.SetReply(500, std::string(kGetPrefix) +
                               Format("Result larger than Settings/MaxResultMB (%lld MiB); the "
                                      "result was closed",
                                      static_cast<long long>(error.LimitBytes() / (1024 * 1024))));
}

// Lets the next block's rows be fetched while the client reads this one and
// asks again: the fetch overlaps the client's side instead of following it.
// The rows are held in the query as they would be for getJSON; the read
// gives way as soon as the client sends anything, so a `close` or `quit`
// is never kept waiting for more than a row.
void ReadAheadAfter(TCommandInvocation& invocation, TcsQuery& query, int32_t count,
                    const TCommandEnvironment& environment) {
  const auto live = environment.Live();
  if ((live != nullptr && !live->ReadAhead) || query.Eof() || query.EndOfResult()) return;
  invocation.Context().SetIdleWork(
      [&query, count](const std::function<bool()>& give_way) { query.ReadAhead(count, give_way); });
}

void SendPayload(TCommandInvocation& invocation, TTextStream& stream) {
  const std::string_view block = stream.CountedBlock();
  invocation.SetReply(200, "OK");
  invocation.SendReplyWith(block);
}

// Once per reply, after it went out: the row loop itself touches no
// shared counter.
void CountRowsSent(const TCommandEnvironment& environment, uint64_t rows) {
  if (environment.Metrics != nullptr) environment.Metrics->rows_sent.Add(rows);
}

}  // namespace

void GetCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment) {
  TcsQuery* query = DBContextOf(invocation).Query();
  if (query == nullptr) {
    invocation.SetReply(521, "No query active");
    return;
  }
  if (!query->Active() || query->Eof()) {
    invocation.SetReply(522, "EOF");
    return;
  }
  const std::string& count_text = invocation.UnparsedParams();
  const int32_t count = count_text.empty() ? 1 : StrToInt32(count_text);

  TPayload payload;
  TTextStream& stream = payload.Stream();
  int32_t written = 0;
  LimitResult(*query, environment);
  try {
    for (; written < count && !query->Eof(); ++written) {
      WriteRow(stream, *query);
      query->Next();
    }
    stream.CountedBlock();  // a payload too large to count fails here, before the reply
  } catch (const EResultTooLarge& error) {
    RefuseLargeResult(invocation, *query, error);
    return;
  } catch (const std::exception& error) {
    invocation.SetReply(500, std::string(kGetPrefix) + error.what());
    return;
  }
  SendPayload(invocation, stream);
  CountRowsSent(environment, static_cast<uint64_t>(written));
  ReadAheadAfter(invocation, *query, count, environment);
}

void InfoCommand(TCommandInvocation& invocation) {
  TcsQuery& query = RequireQuery(invocation);
  if (query.FieldCount() == 0) {
    invocation.SetReply(523, "No result set");
    return;
  }
  TPayload payload;
  payload.Stream().AppendText(BuildFieldDefsXml(query));
  SendPayload(invocation, payload.Stream());
}

void GetJsonCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment) {
  TcsQuery* query = DBContextOf(invocation).Query();
  if (query == nullptr) {
    invocation.SetReply(521, "No query active");
    return;
  }
  query->First();  // a closed query fails here, through the general error reply
  TPayload payload;
  TTextStream& stream = payload.Stream();
  size_t rows = 0;
  LimitResult(*query, environment);
  try {
    rows = WriteJsonRows(stream, *query, DBContextOf(invocation).ServerTimeZone());
    stream.CountedBlock();
  } catch (const EResultTooLarge& error) {
    RefuseLargeResult(invocation, *query, error);
    return;
  } catch (const std::exception& error) {
    invocation.SetReply(500, std::string(kGetPrefix) + error.what());
    return;
  }
  SendPayload(invocation, stream);
  CountRowsSent(environment, rows);
}

void InfoJsonCommand(TCommandInvocation& invocation) {
  TcsQuery& query = RequireQuery(invocation);
  if (query.FieldCount() == 0) {
    invocation.SetReply(523, "No result set");
    return;
  }
  TPayload payload;
  WriteJsonColumns(payload.Stream(), query);
  SendPayload(invocation, payload.Stream());
}

}  // namespace velquarn
