#include <string>

#include "common/exceptions.h"
#include "odbc/odbc_driver.h"

namespace velquarn {

namespace {

[[noreturn]] void NotYet(const char* operation) {
  throw Exception(std::string(operation) + " is not implemented yet");
}

}  // namespace

void TcsODBCDriver::GetDefaultIndexFields(const std::string&, TStringList&) {
  NotYet("GetDefaultIndexFields");
}
void TcsODBCDriver::GetIndexFields(const std::string&, const std::string&, TStringList&) {
  NotYet("GetIndexFields");
}
void TcsODBCDriver::GetIndexNames(const std::string&, TStringList&) { NotYet("GetIndexNames"); }
void TcsODBCDriver::GetTableNames(const std::string&, const std::string&, TStringList&, bool,
                                  bool) {
  NotYet("GetTableNames");
}
void TcsODBCDriver::GetDatabaseNames(TStringList&) { NotYet("GetDatabaseNames"); }
void TcsODBCDriver::GetDataSourceNames(TStringList&, const std::string&, int, int) {
  NotYet("GetDataSourceNames");
}

}  // namespace velquarn
