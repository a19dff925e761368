// TContext: the command server's per-connection context. It owns the
// connection; the server keeps every live context in its locked list.
// The service's commands extend it with the connection's database state
// (commands/db_context.h).
// Used by the connection's own thread only, except that the server may call
// Connection().Shutdown() and Activity() from another thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

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

  // The command line that the connection's thread is running, and since
  // when, so that a stop that cannot finish can say what each stuck session
  // was doing. Set by the server around each command; Activity may be read
  // from any thread.
  struct TActivity {
    std::string command;  // empty between commands
    std::chrono::steady_clock::time_point since;
  };
  // False, and nothing recorded, once the context is draining: the command
  // must not start.
  bool BeginCommand(const std::string& line);
  void EndCommand();
  TActivity Activity() const;

  // A graceful stop: from now on no command may begin. True when no command
  // runs, so that the connection can be closed at once; false when one runs
  // and may finish first. Any thread may call it.
  bool Drain();
  bool Draining() const;

  // Work for the quiet moment after a command (a result's next rows read
  // ahead): the server runs it once, before it waits for the next command,
  // and hands it give_way, which turns true as soon as the client has sent
  // anything or the connection is being closed; the work then stops at
  // once. A command sets it; it runs only after that command.
  using TIdleWork = std::function<void(const std::function<bool()>& give_way)>;
  void SetIdleWork(TIdleWork work) { idle_work_ = std::move(work); }
  TIdleWork TakeIdleWork() { return std::exchange(idle_work_, nullptr); }

 private:
  std::unique_ptr<TConnection> connection_;
  TIdleWork idle_work_;
  mutable std::mutex activity_mutex_;
  TActivity activity_;     // Guarded by activity_mutex_
  bool draining_ = false;  // Guarded by activity_mutex_
};

}  // namespace velquarn
