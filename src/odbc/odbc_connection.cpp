#include "odbc/odbc_connection.h"

#include "odbc/odbc_entry_points.h"

namespace velquarn {

TConnectionHandle::~TConnectionHandle() {
  FreeStmt();
  FreeDbc();
}

SQLRETURN TConnectionHandle::AllocDbc() {
  return ODBC().SQLAllocHandle(SQL_HANDLE_DBC, environment_, &dbc_);
}

SQLRETURN TConnectionHandle::AllocStmt() {
  return ODBC().SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
}

void TConnectionHandle::FreeStmt() noexcept {
  if (stmt_ == SQL_NULL_HSTMT) return;
  ODBC().SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  stmt_ = SQL_NULL_HSTMT;
}

void TConnectionHandle::FreeDbc() noexcept {
  if (dbc_ == SQL_NULL_HDBC) return;
  if (connected_) ODBC().SQLDisconnect(dbc_);
  ODBC().SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  dbc_ = SQL_NULL_HDBC;
  // The driver manager freed the statements with the connection.
  stmt_ = SQL_NULL_HSTMT;
  connected_ = false;
}

}  // namespace velquarn
