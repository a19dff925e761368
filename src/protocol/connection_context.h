// TContext: the command server's per-connection context. It owns the
// connection; the server keeps every live context in its locked list.
// TDBContext (db_context.h) extends it with the connection's database state.
// Used by the connection's own thread only, except that the server may call
// Connection().Shutdown() from another thread.
#pragma once

#include <memory>

#include "protocol/connection.h"

namespace velquarn {

class TContext {
 public:
  TContext() = default;
  TContext(const TContext&) = delete;
  TContext& operator=(const TContext&) = delete;
  virtual ~TContext() = default;

  // REQUIRES: a connection has been attached (the server does it on accept).
  TConnection& Connection() { return *connection_; }
  const TConnection& Connection() const { return *connection_; }
  bool HasConnection() const { return connection_ != nullptr; }
  void AttachConnection(std::unique_ptr<TConnection> connection) {
    connection_ = std::move(connection);
  }

 private:
  std::unique_ptr<TConnection> connection_;
};

}  // namespace velquarn
