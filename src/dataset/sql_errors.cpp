#include "dataset/sql_errors.h"

#include <utility>

namespace velquarn {

EcsSQLError::EcsSQLError(TcsError first) : EDatabaseError(first.ErrorText) {
  errors_.push_back(std::move(first));
}

EcsSQLError::EcsSQLError(int native_error, std::string error_text, int aux1, int aux2)
    : EcsSQLError(TcsError{native_error, std::move(error_text), aux1, aux2}) {}

void EcsSQLError::AddError(TcsError record) { errors_.push_back(std::move(record)); }

}  // namespace velquarn
