// The error types of the database layer: one diagnostic record (TcsError),
// the database error that carries the records of one failed call
// (EcsSQLError), and the fixed failures of the ODBC driver (EODBCDriverError).
// Exceptions are values; a caught exception owns its records.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "common/exceptions.h"

namespace velquarn {

// One diagnostic record. ErrorText is the text clients receive:
// "SQLSTATE:message" for a record read from the driver, or the return
// code's name for a bare return code, in which case NativeError is that
// return code. SqlState and Message are the parts of a driver's record, as
// read; both are empty for a bare return code or a fixed text.
struct TcsError {
  TcsError() = default;
  // A record of a bare return code or a fixed text.
  TcsError(int native_error, std::string error_text, int aux1 = 0, int aux2 = 0)
      : NativeError(native_error), ErrorText(std::move(error_text)), Aux1(aux1), Aux2(aux2) {}

  int NativeError = 0;
  std::string ErrorText;
  int Aux1 = 0;          // the ODBC driver always passes 0
  int Aux2 = 0;          // the ODBC driver always passes 0
  std::string SqlState;  // five characters, or empty
  std::string Message;   // the driver's message in code page 1252
};

// A record read from the driver: ErrorText is "SQLSTATE:message".
TcsError DriverRecord(int native_error, std::string sql_state, std::string message);

// The database error. Its message is the first record's text; records added
// later never change it.
class EcsSQLError : public EDatabaseError {
 public:
  explicit EcsSQLError(TcsError first);
  EcsSQLError(int native_error, std::string error_text, int aux1 = 0, int aux2 = 0);

  void AddError(TcsError record);
  const std::vector<TcsError>& Errors() const { return errors_; }
  int ErrorCount() const { return static_cast<int>(errors_.size()); }
  // The first record's native error.
  int NativeError() const { return errors_.front().NativeError; }
  const char* ClassName() const noexcept override { return "EcsSQLError"; }

 private:
  std::vector<TcsError> errors_;  // never empty
};

// True when a record of the error says that the connection to the data
// source is gone, judged from the records' SqlState fields: class 08
// (connection exception) or 57P01 (the server terminated the session,
// PostgreSQL); or HY000 with a MySQL-family native code for a lost
// connection (2006, 2013, 2055, 5013, 5014 from the client library, 1927
// and 1053 from the server), as the MariaDB driver reports a killed session.
bool IsConnectionLostError(const std::exception& error);

// A result grew past the limit its dataset was given (SetMaxHeldBytes).
class EResultTooLarge : public EDatabaseError {
 public:
  explicit EResultTooLarge(int64_t limit_bytes)
      : EDatabaseError("Result larger than " + std::to_string(limit_bytes) + " bytes"),
        limit_bytes_(limit_bytes) {}
  int64_t LimitBytes() const { return limit_bytes_; }
  const char* ClassName() const noexcept override { return "EResultTooLarge"; }

 private:
  int64_t limit_bytes_;
};

// Fixed failures of the ODBC driver; raised with one of the texts below.
class EODBCDriverError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EODBCDriverError"; }
};

inline constexpr char kUnableToAllocateEnvironment[] = "Unable to allocate environment handle";
inline constexpr char kUnableToAllocateConnection[] = "Unable to allocate connection handle";
inline constexpr char kUnableToAllocateStatement[] = "Unable to allocate statement handle";
inline constexpr char kUnableToConnect[] = "Unable to connect to database";
inline constexpr char kDsnAndDriverExclusive[] = "DSN and DRIVER are mutually exclusive parameters";
inline constexpr char kTransactionsNotSupported[] = "Transactions are not supported by the driver";

}  // namespace velquarn
