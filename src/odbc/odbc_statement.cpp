#include <string>

#include "common/exceptions.h"
#include "odbc/odbc_driver.h"

namespace velquarn {

namespace {

[[noreturn]] void NotYet(const char* operation) {
  throw Exception(std::string(operation) + " is not implemented yet");
}

}  // namespace

void TcsODBCDriver::SetFieldOrigins(TcsDataset&) { NotYet("SetFieldOrigins"); }
int TcsODBCDriver::ExecSQL(const std::string&, TParams*, TcsDataset*) { NotYet("ExecSQL"); }
bool TcsODBCDriver::DescribeColumns(TcsDataset&) { NotYet("DescribeColumns"); }
bool TcsODBCDriver::FetchRecord(TcsDataset&, char*) { NotYet("FetchRecord"); }
void TcsODBCDriver::Prepare(const std::string&, TcsDataset&) { NotYet("Prepare"); }
void TcsODBCDriver::UnPrepare(TcsDataset&) { NotYet("UnPrepare"); }

}  // namespace velquarn
