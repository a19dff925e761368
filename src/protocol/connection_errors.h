// The failures of a connection itself. They end the connection's command
// loop instead of becoming a 500 reply, and the connection-exception
// handling passes over them silently (except ELineTooLong, which is logged).
#pragma once

#include <string>

#include "common/exceptions.h"

namespace velquarn {

// The peer closed the connection, or it was closed on this side.
class EConnectionClosed : public Exception {
 public:
  EConnectionClosed() : Exception("Connection Closed Gracefully.") {}
  const char* ClassName() const noexcept override { return "EConnectionClosed"; }
};

// A socket call failed: the operation, the system's text and "(Socket Error # %d)".
class ESocketError : public Exception {
 public:
  ESocketError(int error_code, const std::string& operation);
  int ErrorCode() const noexcept { return error_code_; }
  const char* ClassName() const noexcept override { return "ESocketError"; }

 private:
  int error_code_;
};

// An incoming line grew past the configured maximum; the connection is
// closed so that one client cannot exhaust the server's memory.
class ELineTooLong : public Exception {
 public:
  ELineTooLong(size_t max_length, const std::string& peer);
  const char* ClassName() const noexcept override { return "ELineTooLong"; }
};

}  // namespace velquarn
