#include "odbc/odbc_diagnostics.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "dataset/sql_errors.h"
#include "odbc/odbc_driver.h"
#include "odbc/odbc_entry_points.h"

namespace velquarn {

namespace {

constexpr SQLSMALLINT kMessageBufferLength = 256;

// Reads diagnostic record `number`. Returns the SQLGetDiagRec result of the
// read that produced `text`: a message that does not fit the first buffer
// (SQL_SUCCESS_WITH_INFO) is read again with a buffer of its full length, so
// long messages of a data source reach the client whole.
SQLRETURN ReadRecord(const TcsODBCDriver& driver, SQLSMALLINT handle_type, SQLHANDLE handle,
                     SQLSMALLINT number, TcsError& record) {
  SQLINTEGER native_error = 0;
  SQLCHAR state[6] = {};
  std::vector<SQLCHAR> message(kMessageBufferLength, 0);
  SQLSMALLINT length = 0;
  SQLRETURN result = ODBC().SQLGetDiagRec(handle_type, handle, number, state, &native_error,
                                          message.data(), kMessageBufferLength, &length);
  if (result == SQL_SUCCESS_WITH_INFO && length >= kMessageBufferLength) {
    message.assign(static_cast<size_t>(length) + 1, 0);
    SQLSMALLINT full_length = 0;
    SQLRETURN again =
        ODBC().SQLGetDiagRec(handle_type, handle, number, state, &native_error, message.data(),
                             static_cast<SQLSMALLINT>(message.size()), &full_length);
    if (again == SQL_SUCCESS || again == SQL_SUCCESS_WITH_INFO) result = SQL_SUCCESS;
  } else if (result == SQL_SUCCESS_WITH_INFO) {
    result = SQL_SUCCESS;
  }
  if (result != SQL_SUCCESS) return result;
  state[5] = 0;
  message.back() = 0;
  std::string driver_text(reinterpret_cast<const char*>(message.data()));
  record = DriverRecord(native_error, std::string(reinterpret_cast<const char*>(state)),
                        driver.Charset().FromDriver(driver_text));
  return SQL_SUCCESS;
}

}  // namespace

std::string ReturnCodeName(SQLRETURN code) {
  switch (code) {
    case SQL_SUCCESS:
      return "SQL_SUCCESS";
    case SQL_SUCCESS_WITH_INFO:
      return "SQL_SUCCESS_WITH_INFO";
    case SQL_STILL_EXECUTING:
      return "SQL_STILL_EXECUTING";
    case SQL_NEED_DATA:
      return "SQL_NEED_DATA";
    case SQL_NO_DATA:
      return "SQL_NO_DATA";
    case SQL_INVALID_HANDLE:
      return "SQL_INVALID_HANDLE";
    case SQL_ERROR:
      return "General SQL Error";
    default:
      return "unknown SQL result: " + std::to_string(code);
  }
}

void RaiseDiagnostics(TcsODBCDriver& driver, SQLSMALLINT handle_type, SQLHANDLE handle,
                      SQLRETURN code) {
  bool recorded = false;
  if (code == SQL_ERROR || code == SQL_SUCCESS_WITH_INFO) {
    TcsError record;
    for (SQLSMALLINT number = 1;
         ReadRecord(driver, handle_type, handle, number, record) == SQL_SUCCESS; ++number) {
      driver.AddError(std::move(record));
      recorded = true;
      if (number == INT16_MAX) break;
    }
  }
  if (!recorded) driver.AddError(code, ReturnCodeName(code), 0, 0);
  driver.RaisePendingError();
  throw EcsSQLError(code, ReturnCodeName(code));  // not reached: an error was pending
}

void CheckDbcResult(TcsODBCDriver& driver, SQLHDBC handle, SQLRETURN code) {
  if (code == SQL_SUCCESS || code == SQL_SUCCESS_WITH_INFO) return;
  RaiseDiagnostics(driver, SQL_HANDLE_DBC, handle, code);
}

void CheckStmtResult(TcsODBCDriver& driver, SQLHSTMT handle, SQLRETURN code) {
  if (code == SQL_SUCCESS || code == SQL_SUCCESS_WITH_INFO) return;
  RaiseDiagnostics(driver, SQL_HANDLE_STMT, handle, code);
}

}  // namespace velquarn
