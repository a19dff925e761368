// The in-process ODBC baseline of the benchmarks: a connection made with
// the driver manager's own calls and nothing of the gateway between.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "common/exceptions.h"
#include "odbc/odbc_entry_points.h"

namespace velquarn {

// Raises Exception with the first diagnostic record unless result succeeded.
inline void Check(SQLRETURN result, SQLSMALLINT handle_type, SQLHANDLE handle, const char* what) {
  if (result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO) return;
  SQLCHAR state[6] = {};
  SQLCHAR message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  ODBC().SQLGetDiagRec(handle_type, handle, 1, state, &native, message, sizeof message, &length);
  throw Exception(std::string(what) + ": " + reinterpret_cast<char*>(state) + " " +
                  reinterpret_cast<char*>(message));
}

// One environment, connection and statement, freed in reverse order.
class TPlainConnection {
 public:
  // connection_string: "key=value;...;Driver={name}".
  explicit TPlainConnection(std::string connection_string) {
    LoadODBC();
    ODBC().SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    ODBC().SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                         0);
    ODBC().SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    Check(
        ODBC().SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(connection_string.data()),
                                SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc_, "connect");
    connected_ = true;
    Check(ODBC().SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_HANDLE_DBC, dbc_, "statement");
  }
  ~TPlainConnection() {
    if (stmt_ != SQL_NULL_HANDLE) ODBC().SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (connected_) ODBC().SQLDisconnect(dbc_);
    if (dbc_ != SQL_NULL_HANDLE) ODBC().SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_ != SQL_NULL_HANDLE) ODBC().SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  TPlainConnection(const TPlainConnection&) = delete;
  TPlainConnection& operator=(const TPlainConnection&) = delete;
  SQLHSTMT Stmt() const { return stmt_; }

 private:
  SQLHENV env_ = SQL_NULL_HANDLE;
  SQLHDBC dbc_ = SQL_NULL_HANDLE;
  SQLHSTMT stmt_ = SQL_NULL_HANDLE;
  bool connected_ = false;
};

}  // namespace velquarn
