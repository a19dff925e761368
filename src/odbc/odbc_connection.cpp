#include "odbc/odbc_connection.h"

#include "odbc/odbc_entry_points.h"

namespace velquarn {

namespace {

bool Succeeded(SQLRETURN result) {
  return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO;
}

}  // namespace

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
  // The statement goes first: the SQLite driver refuses SQLDisconnect while
  // a statement has an unfinished result ("unfinished statements"), and a
  // connection that is still connected cannot be freed, so both handles and
  // the database file's descriptor would stay behind for good.
  FreeStmt();
  if (connected_ && !Succeeded(ODBC().SQLDisconnect(dbc_))) {
    // An open transaction (SQLSTATE 25000) also blocks the disconnect; its
    // work is abandoned, as a dropped connection's is on the server.
    ODBC().SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    ODBC().SQLDisconnect(dbc_);
  }
  ODBC().SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  dbc_ = SQL_NULL_HDBC;
  if (connected_ && on_disconnect_) {
    try {
      on_disconnect_();
    } catch (...) {
      // Bookkeeping only; the handles are gone either way.
    }
  }
  on_disconnect_ = nullptr;
  connected_ = false;
}

}  // namespace velquarn
