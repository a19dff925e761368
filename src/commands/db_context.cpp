#include "commands/db_context.h"

#include "dataset/query.h"
#include "odbc/odbc_database.h"

namespace velquarn {

// The connection is gone by the time a context is freed, so a failure of
// the query's or the database's clean-up has nobody to be told to: it is
// swallowed, and the rest of the context is destroyed in any case. The
// steps that can fail run here, inside the try; the destructors that follow
// only free what is left.
void TDBContext::TQueryDeleter::operator()(TcsQuery* query) const noexcept {
  if (query == nullptr) return;
  try {
    query->Close();
  } catch (...) {
  }
  delete query;
}

void TDBContext::TDatabaseDeleter::operator()(TcsODBCDatabase* database) const noexcept {
  if (database == nullptr) return;
  try {
    database->Close();
  } catch (...) {
  }
  delete database;
}

void TDBContext::CloseQuery() {
  if (query_ != nullptr && query_->Active()) query_->Close();
}

void TDBContext::CloseDatabase() {
  if (database_ != nullptr) database_->Close();
}

TDBContext::~TDBContext() { ResetQueryAndDatabase(); }

void TDBContext::ResetQueryAndDatabase() noexcept {
  query_.reset();
  database_.reset();
}

}  // namespace velquarn
