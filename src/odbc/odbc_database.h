// TcsODBCDatabase: the database component of the system. It creates and
// owns one TcsODBCDriver and passes DSN, ODBCDriverName and the driver's
// text encoding (Charset) through to it.
//
// Thread-safety: as TcsCustomDatabase (one thread at a time).
#pragma once

#include <string>

#include "dataset/database.h"
#include "odbc/odbc_driver.h"

namespace velquarn {

class TcsODBCDatabase : public TcsCustomDatabase {
 public:
  TcsODBCDatabase();

  // Empty when there is no driver. Setting one while connected closes the
  // database first and empties the other.
  std::string DSN() const;
  void SetDSN(const std::string& dsn);
  std::string ODBCDriverName() const;
  void SetODBCDriverName(const std::string& name);

  // The driver's text encoding by name ("UTF-8" by default; "CP1252" or
  // "WINDOWS-1252" pass text through unchanged). Takes effect for text sent
  // or read afterwards.
  const std::string& Charset() const { return charset_name_; }
  void SetCharset(const std::string& name);

  // The attached ODBC driver, or null when another driver was set.
  TcsODBCDriver* ODBCDriver() const;

 private:
  std::string charset_name_ = "UTF-8";
};

}  // namespace velquarn
