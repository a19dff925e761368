#include "dataset/sql_errors.h"

#include <utility>

namespace velquarn {

EcsSQLError::EcsSQLError(TcsError first) : EDatabaseError(first.ErrorText) {
  errors_.push_back(std::move(first));
}

EcsSQLError::EcsSQLError(int native_error, std::string error_text, int aux1, int aux2)
    : EcsSQLError(TcsError(native_error, std::move(error_text), aux1, aux2)) {}

TcsError DriverRecord(int native_error, std::string sql_state, std::string message) {
  TcsError record(native_error, sql_state + ":" + message);
  record.SqlState = std::move(sql_state);
  record.Message = std::move(message);
  return record;
}

void EcsSQLError::AddError(TcsError record) { errors_.push_back(std::move(record)); }

namespace {

// The MySQL-family client library reports a connection the server ended
// (KILL, a restart, wait_timeout) under the general state HY000 with one of
// its own codes: 2006 server gone away, 2013 lost during a query, 2055 lost
// (extended message), 5013 and 5014 read and write errors on the socket
// (the MariaDB driver's first answer after a KILL is "Write error: Broken
// pipe", 5014; only the next one is 08S01); and the server's 1927
// connection killed and 1053 shutdown in progress.
bool IsMySqlConnectionLost(const TcsError& record) {
  if (record.SqlState != "HY000") return false;
  switch (record.NativeError) {
    case 2006:
    case 2013:
    case 2055:
    case 5013:
    case 5014:
    case 1927:
    case 1053:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsConnectionLostError(const std::exception& error) {
  const auto* sql_error = dynamic_cast<const EcsSQLError*>(&error);
  if (sql_error == nullptr) return false;
  for (const TcsError& record : sql_error->Errors()) {
    const std::string& state = record.SqlState;
    if (state.rfind("08", 0) == 0 || state == "57P01") return true;
    if (IsMySqlConnectionLost(record)) return true;
  }
  return false;
}

}  // namespace velquarn
