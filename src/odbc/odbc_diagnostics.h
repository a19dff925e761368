// Result checks of ODBC calls. SQL_SUCCESS and SQL_SUCCESS_WITH_INFO are
// success everywhere (the records of SQL_SUCCESS_WITH_INFO are never read);
// anything else, SQL_NO_DATA included, raises EcsSQLError with the
// diagnostic records of the failed call. Callers that expect SQL_NO_DATA
// test for it before they check.
#pragma once

#include <sql.h>

#include <string>

namespace velquarn {

class TcsODBCDriver;

// Raise through RaiseDiagnostics unless code is a success.
void CheckDbcResult(TcsODBCDriver& driver, SQLHDBC handle, SQLRETURN code);
void CheckStmtResult(TcsODBCDriver& driver, SQLHSTMT handle, SQLRETURN code);

// Always raises EcsSQLError. For SQL_ERROR it reads the handle's records in
// order, each as its own native error and "SQLSTATE:message" (message in
// code page 1252, read whole however long); when not even the first record
// can be read, one record (-1, "General SQL Error"). For any other code it
// reads nothing and raises one record (code, ReturnCodeName(code)).
[[noreturn]] void RaiseDiagnostics(TcsODBCDriver& driver, SQLSMALLINT handle_type, SQLHANDLE handle,
                                   SQLRETURN code);

// "SQL_SUCCESS", ..., "General SQL Error" for -1, "unknown SQL result: <n>".
std::string ReturnCodeName(SQLRETURN code);

}  // namespace velquarn
