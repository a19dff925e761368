#include "odbc/odbc_database.h"

#include <memory>

namespace velquarn {

TcsODBCDatabase::TcsODBCDatabase() { SetDriver(std::make_unique<TcsODBCDriver>()); }

TcsODBCDriver* TcsODBCDatabase::ODBCDriver() const {
  return dynamic_cast<TcsODBCDriver*>(Driver());
}

std::string TcsODBCDatabase::DSN() const {
  TcsODBCDriver* driver = ODBCDriver();
  return driver != nullptr ? driver->DSN() : std::string();
}

void TcsODBCDatabase::SetDSN(const std::string& dsn) {
  if (TcsODBCDriver* driver = ODBCDriver()) driver->SetDSN(dsn);
}

std::string TcsODBCDatabase::ODBCDriverName() const {
  TcsODBCDriver* driver = ODBCDriver();
  return driver != nullptr ? driver->ODBCDriverName() : std::string();
}

void TcsODBCDatabase::SetODBCDriverName(const std::string& name) {
  if (TcsODBCDriver* driver = ODBCDriver()) driver->SetODBCDriverName(name);
}

void TcsODBCDatabase::SetCharset(const std::string& name) {
  charset_name_ = name;
  if (TcsODBCDriver* driver = ODBCDriver()) driver->SetCharset(TCharset::FromName(name));
}

}  // namespace velquarn
