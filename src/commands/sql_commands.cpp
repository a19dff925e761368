#include "commands/sql_commands.h"

#include <exception>
#include <vector>

#include "commands/command_table.h"
#include "commands/context_access.h"
#include "commands/session_log.h"
#include "commands/xml_field_defs.h"
#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/query.h"
#include "dataset/sql_errors.h"
#include "metrics/gateway_metrics.h"
#include "odbc/odbc_database.h"
#include "odbc/odbc_driver.h"
#include "protocol/command_invocation.h"

namespace velquarn {

namespace {

constexpr std::string_view kGuardMessage =
    "**Allvarligt fel vid uppdatering av data. Kontakta TESSIK.** ";

constexpr const char* kSqlPrefix = "[Velquarn.sql]:";
constexpr const char* kExecSql2Prefix = "[Velquarn.ExecSQL2]:";
constexpr const char* kExecSql3Prefix = "[Velquarn.ExecSQL3]:";
// A statement block larger than this is read to its end but not kept, so a
// client cannot make the server hold unbounded memory.
constexpr size_t kMaxBatchBytes = 64 * 1024 * 1024;

// The guard's refusal: final, never taken for a lost connection even when
// the refused statement's text names a connection-loss code.
class EWhereGuard : public Exception {
 public:
  using Exception::Exception;
};

// Every statement starts from a closed query: the dataset fires its change
// of SQL (and with it the close) only for a different text, but a client
// that sends the same `sql` again expects it to run again.
void SetStatement(TcsQuery& query, std::string_view statement) {
  query.Close();
  query.SetSQLText(statement);
}

void CheckWhereGuard(const TCommandEnvironment& environment, const std::string& statement) {
  if (PassesWhereGuard(statement)) return;
  if (environment.LogEvent) environment.LogEvent(kEventSource, "Severe SQL Error in: " + statement);
  throw EWhereGuard(WhereGuardMessage(statement));
}

void AnswerError(TCommandInvocation& invocation, std::string_view prefix, const char* message) {
  std::string text(prefix);
  text += message;
  invocation.SetReply(512, text);
}

// `sql` answers the result's column description, or the rows affected for
// a statement without result columns.
void AnswerSqlResult(TCommandInvocation& invocation, TcsQuery& query) {
  if (query.FieldCount() == 0) {
    invocation.SetReply(201, "OK");
    invocation.AddResponse(IntToStr(query.RowsAffected()));
    return;
  }
  invocation.SetReply(200, BuildFieldDefsXml(query));
}

void AnswerRowsAffected(TCommandInvocation& invocation, TcsQuery& query) {
  invocation.SetReply(200, IntToStr(query.RowsAffected()));
  query.ClearSQL();
}

// Runs ExecSQL on the query's statement; on a lost connection it gives the
// connection up for good and runs the statement once more. The statement
// runs on the database's main connection, which is therefore replaced too,
// unless it held a transaction: a retry on a fresh connection would run
// outside it, so the loss is reported instead.
void ExecWithRetry(TCommandInvocation& invocation, const TCommandEnvironment& environment,
                   std::string_view prefix, const std::string& statement, bool guarded) {
  TcsQuery* query = nullptr;
  try {
    query = &RequireQuery(invocation);
    SetStatement(*query, statement);
    if (guarded) CheckWhereGuard(environment, query->SQL().Text());
    query->ExecSQL();
    AnswerRowsAffected(invocation, *query);
    return;
  } catch (const EWhereGuard& error) {
    AnswerError(invocation, prefix, error.what());
    return;
  } catch (const std::exception& error) {
    TcsODBCDriver* driver = query != nullptr ? RequireDatabase(invocation).ODBCDriver() : nullptr;
    if (query == nullptr || !IsConnectionLoss(error, true) ||
        (driver != nullptr && !driver->DiscardLostMainConnection())) {
      AnswerError(invocation, prefix, error.what());
      return;
    }
  }
  if (environment.Metrics != nullptr) environment.Metrics->retries.Add();
  try {
    query->ReleaseConnection(true);
    query->ExecSQL();
    AnswerRowsAffected(invocation, *query);
  } catch (const std::exception& error) {
    AnswerError(invocation, prefix, error.what());
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  // Not a hex digit: the low four bits stand in, so any text decodes to
  // something and the statement's own error reports it.
  return c & 0x0F;
}

}  // namespace

bool PassesWhereGuard(std::string_view statement) {
  const std::string trimmed = Trim(statement);
  const std::string_view head = std::string_view(trimmed).substr(0, 6);
  if (!SameText(head, "delete") && !SameText(head, "update")) return true;
  return LowerCase(statement).find(" where ") != std::string::npos;
}

std::string WhereGuardMessage(std::string_view statement) {
  std::string message(kGuardMessage);
  message += statement;
  return message;
}

bool IsConnectionLoss(const std::exception& error, bool include_cwbco1047) {
  if (IsConnectionLostError(error)) return true;
  const auto* sql_error = dynamic_cast<const EcsSQLError*>(&error);
  if (sql_error == nullptr) return false;
  for (const TcsError& record : sql_error->Errors()) {
    if (IsConnectionLoss(record.Message, include_cwbco1047)) return true;
  }
  return false;
}

bool IsConnectionLoss(std::string_view message, bool include_cwbco1047) {
  if (message.find(" CWBCO1003 ") != std::string_view::npos) return true;
  return include_cwbco1047 && message.find(" CWBCO1047 ") != std::string_view::npos;
}

std::string DecodeHexStatement(std::string_view hex) {
  std::string statement(hex.size() / 2, '\0');
  for (size_t i = 0; i < statement.size(); ++i) {
    statement[i] = static_cast<char>(HexValue(hex[2 * i]) << 4 | HexValue(hex[2 * i + 1]));
  }
  return statement;
}

void SqlCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment) {
  TcsQuery* query = nullptr;
  try {
    query = &RequireQuery(invocation);
    SetStatement(*query, invocation.UnparsedParams());
    CheckWhereGuard(environment, query->SQL().Text());
    query->Open();
    AnswerSqlResult(invocation, *query);
    return;
  } catch (const EWhereGuard& error) {
    AnswerError(invocation, kSqlPrefix, error.what());
    return;
  } catch (const std::exception& error) {
    if (query == nullptr || !IsConnectionLoss(error, false)) {
      AnswerError(invocation, kSqlPrefix, error.what());
      return;
    }
  }
  try {
    query->Close();
    query->ReleaseConnection(true);
    query->Open();
    AnswerSqlResult(invocation, *query);
  } catch (const std::exception& error) {
    AnswerError(invocation, kSqlPrefix, error.what());
  }
}

void ExecSql2Command(TCommandInvocation& invocation, const TCommandEnvironment& environment) {
  ExecWithRetry(invocation, environment, kExecSql2Prefix, invocation.UnparsedParams(), true);
}

void ExecSql3Command(TCommandInvocation& invocation, const TCommandEnvironment& environment) {
  const std::vector<std::string>& params = invocation.Params();
  if (params.empty()) {
    AnswerError(invocation, kExecSql3Prefix, EListError(0).what());
    return;
  }
  int32_t length = 0;
  if (!TryStrToInt32(params[0], length) || length == -1) {
    invocation.SetReply(512, "Illegal length parameter on execsql3 call");
    return;
  }
  if (params.size() < 2) {
    AnswerError(invocation, kExecSql3Prefix, EListError(1).what());
    return;
  }
  if (static_cast<int64_t>(length) != static_cast<int64_t>(params[1].size())) {
    invocation.SetReply(512, "Length parameter mismatch on execsql3 call");
    return;
  }
  const std::string statement = DecodeHexStatement(params[1]);
  ExecWithRetry(invocation, environment, kExecSql3Prefix, statement, false);
}

void SqlBatchCommand(TCommandInvocation& invocation, const TCommandEnvironment& /*environment*/) {
  // The whole block is read first, so the connection stays in step with the
  // client whatever happens to the statements.
  std::vector<std::string> lines;
  size_t kept_bytes = 0;
  bool too_large = false;
  for (std::string line = invocation.ReadLine(); line != "."; line = invocation.ReadLine()) {
    kept_bytes += line.size() + 1;
    if (kept_bytes > kMaxBatchBytes) too_large = true;
    if (!too_large) lines.push_back(std::move(line));
  }
  int run = 0;
  try {
    if (too_large) {
      throw Exception(Format("Statement block longer than %zu bytes", kMaxBatchBytes));
    }
    TcsQuery& query = RequireQuery(invocation);
    for (const std::string& line : lines) {
      SetStatement(query, line);
      query.ExecSQL();
      ++run;
    }
    invocation.SetReply(200, "OK");
  } catch (const std::exception& error) {
    AnswerError(invocation, IntToStr(run) + ":", error.what());
  }
}

}  // namespace velquarn
