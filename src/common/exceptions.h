// The system's exception classes. Every failure is an exception; the command
// server's dispatcher turns one that escapes a handler into a 500 reply.
#pragma once

#include <stdexcept>
#include <string>

namespace velquarn {

// Base of every error of the system: carries the message text.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  // The class name as an error report shows it ("EDatabaseError").
  virtual const char* ClassName() const noexcept { return "Exception"; }

 protected:
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

// All messages of the dataset layer.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EDatabaseError"; }
};

// The silent abort: ends an operation without an error report.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
  const char* ClassName() const noexcept override { return "EAbort"; }
};

// A text that is not a number: "'%s' is not a valid integer value".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

// A list index out of range: "List index out of bounds (%d)".
class EListError : public Exception {
 public:
  explicit EListError(long index);
  const char* ClassName() const noexcept override { return "EListError"; }
};

}  // namespace velquarn
