#include "protocol/db_context.h"

namespace velquarn {

// No TcsQuery or TcsODBCDatabase can be created until the dataset layer and
// the ODBC driver provide those classes, so these four have nothing to act on
// yet. When the classes arrive, their headers are included here: each
// deleter becomes a `delete` whose errors are swallowed, CloseQuery closes an
// open query and CloseDatabase closes the database component.
void TDBContext::TQueryDeleter::operator()(TcsQuery* /*query*/) const noexcept {}

void TDBContext::TDatabaseDeleter::operator()(TcsODBCDatabase* /*database*/) const noexcept {}

void TDBContext::CloseQuery() {}

void TDBContext::CloseDatabase() {}

TDBContext::~TDBContext() { ResetQueryAndDatabase(); }

void TDBContext::ResetQueryAndDatabase() noexcept {
  query_.reset();
  database_.reset();
}

}  // namespace velquarn
