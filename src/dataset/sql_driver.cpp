#include "dataset/sql_driver.h"

#include <utility>

#include "common/string_list.h"
#include "dataset/database.h"

namespace velquarn {

TcsCustomSQLDriver::~TcsCustomSQLDriver() = default;

void TcsCustomSQLDriver::SetFieldOrigins(TcsDataset&) {}

void TcsCustomSQLDriver::SetPoolSize(int size) { pool_size_ = size; }

void TcsCustomSQLDriver::GetDefaultIndexFields(const std::string&, TStringList&) {}

void TcsCustomSQLDriver::GetProcedureParamTypes(const std::string&,
                                                std::vector<TParamType>& types) {
  types.clear();
}

void TcsCustomSQLDriver::GetDataSourceNames(TStringList&, const std::string&, int, int) {}

bool TcsCustomSQLDriver::DescribeColumns(TcsDataset&) { return false; }

void TcsCustomSQLDriver::CloseStatement(TConnectionHandle*) {}

void TcsCustomSQLDriver::Prepare(const std::string&, TcsDataset&) {}

void TcsCustomSQLDriver::UnPrepare(TcsDataset&) {}

void TcsCustomSQLDriver::AddError(int native_error, const std::string& error_text, int aux1,
                                  int aux2) {
  AddError(TcsError(native_error, error_text, aux1, aux2));
}

void TcsCustomSQLDriver::AddError(TcsError record) {
  if (pending_error_ == nullptr) {
    pending_error_ = std::make_unique<EcsSQLError>(std::move(record));
  } else {
    pending_error_->AddError(std::move(record));
  }
}

void TcsCustomSQLDriver::RaisePendingError() {
  if (pending_error_ == nullptr) return;
  std::unique_ptr<EcsSQLError> error = std::move(pending_error_);
  throw EcsSQLError(std::move(*error));
}

void TcsCustomSQLDriver::SetDatabase(TcsCustomDatabase* database) {
  TcsCustomDatabase* previous = database_;
  database_ = database;
  if (previous != nullptr && previous != database && previous->Connected()) {
    previous->Close();
  }
}

}  // namespace velquarn
