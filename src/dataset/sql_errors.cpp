#include "dataset/sql_errors.h"

#include <utility>

namespace velquarn {

EcsSQLError::EcsSQLError(TcsError first) : EDatabaseError(first.ErrorText) {
  errors_.push_back(std::move(first));
}

EcsSQLError::EcsSQLError(int native_error, std::string error_text, int aux1, int aux2)
    : EcsSQLError(TcsError(native_error, std::move(error_text), aux1, aux2)) {}

TcsError DriverRecord(int native_error, std::string sql_state, std::string message) {
  TcsError record(native_error, sql_state + ":" + message);
  record.SqlState = std::move(sql_state);
  record.Message = std::move(message);
  return record;
}

void EcsSQLError::AddError(TcsError record) { errors_.push_back(std::move(record)); }

bool IsConnectionLostError(const std::exception& error) {
  const auto* sql_error = dynamic_cast<const EcsSQLError*>(&error);
  if (sql_error == nullptr) return false;
  for (const TcsError& record : sql_error->Errors()) {
    const std::string& state = record.SqlState;
    if (state.rfind("08", 0) == 0 || state == "57P01") return true;
  }
  return false;
}

}  // namespace velquarn
