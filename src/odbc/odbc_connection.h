// TConnectionHandle: one ODBC connection with its single statement handle,
// reused for every statement run on the connection. The environment handle
// is the driver's, borrowed.
//
// Thread-safety: a connection is used by one thread at a time (the dataset
// that holds it, or the owner of the database for the main connection).
#pragma once

#include <sql.h>

#include <functional>

namespace velquarn {

class TConnectionHandle {
 public:
  explicit TConnectionHandle(SQLHENV environment) : environment_(environment) {}
  TConnectionHandle(const TConnectionHandle&) = delete;
  TConnectionHandle& operator=(const TConnectionHandle&) = delete;
  // Frees whatever handles are still held: the statement, then the
  // connection (disconnected first when it was connected). Never throws.
  ~TConnectionHandle();

  SQLHDBC Dbc() const { return dbc_; }
  SQLHSTMT Stmt() const { return stmt_; }
  SQLHENV Environment() const { return environment_; }

  // Allocates the connection handle; returns the ODBC result.
  SQLRETURN AllocDbc();
  // Allocates the statement handle on the connection; returns the result.
  SQLRETURN AllocStmt();
  // Records that SQLDriverConnect succeeded on the handle; on_disconnect
  // (may be empty) runs once when the connection is disconnected.
  void MarkConnected(std::function<void()> on_disconnect = {}) {
    connected_ = true;
    on_disconnect_ = std::move(on_disconnect);
  }
  // Frees the statement handle; result not tested.
  void FreeStmt() noexcept;
  // Frees the statement, disconnects (when connected; an open transaction
  // is rolled back when it blocks the disconnect) and frees the connection
  // handle, so nothing of the connection outlives the call.
  void FreeDbc() noexcept;

 private:
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  SQLHENV environment_;  // borrowed from the driver
  bool connected_ = false;
  std::function<void()> on_disconnect_;
};

}  // namespace velquarn
