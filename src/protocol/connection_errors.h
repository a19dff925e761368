// The failures of a connection itself, all of them EConnectionError. They
// end the connection's command loop instead of becoming a 500 reply, and the
// connection-exception handling passes over them silently (except
// ELineTooLong and EReadTimeout, which are logged).
#pragma once

#include <string>

#include "common/exceptions.h"

namespace velquarn {

// The base of every failure of the connection itself.
class EConnectionError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConnectionError"; }
};

// The peer closed the connection, or it was closed on this side.
class EConnectionClosed : public EConnectionError {
 public:
  EConnectionClosed() : EConnectionError("Connection Closed Gracefully.") {}
  const char* ClassName() const noexcept override { return "EConnectionClosed"; }
};

// A socket call failed: the operation, the system's text and "(Socket Error # %d)".
class ESocketError : public EConnectionError {
 public:
  ESocketError(int error_code, const std::string& operation);
  int ErrorCode() const noexcept { return error_code_; }
  const char* ClassName() const noexcept override { return "ESocketError"; }

 private:
  int error_code_;
};

// An incoming line grew past the configured maximum; the connection is
// closed so that one client cannot exhaust the server's memory.
class ELineTooLong : public EConnectionError {
 public:
  ELineTooLong(size_t max_length, const std::string& peer);
  const char* ClassName() const noexcept override { return "ELineTooLong"; }
};

// A TLS handshake or record that failed; the text says why.
class ETlsFailure : public EConnectionError {
 public:
  using EConnectionError::EConnectionError;
  const char* ClassName() const noexcept override { return "ETlsFailure"; }
};

// A client went silent in the middle of a block of lines that belongs to one
// command (an upload, a configuration, a statement block). The command
// cannot end in step with the client, so it fails and the connection is
// closed; nothing of the half-read block is used.
class EReadTimeout : public EConnectionError {
 public:
  EReadTimeout(int timeout_ms, const std::string& peer);
  const char* ClassName() const noexcept override { return "EReadTimeout"; }
};

}  // namespace velquarn
