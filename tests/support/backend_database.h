// A database component on either real back end, for the tests of the
// layers above ODBC.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "odbc/odbc_test_util.h"
#include "support/backend.h"

namespace velquarn::testing {

// SQLite: a fresh database file <sqlite_stem><n>.db. PostgreSQL: the private
// cluster's test database, or null when no cluster runs (the test skips).
inline std::unique_ptr<TcsODBCDatabase> NewBackendDatabase(TBackend backend,
                                                           const std::string& sqlite_stem) {
  if (backend == TBackend::kPostgres) {
    return PostgresAvailable() ? NewPostgresDatabase() : nullptr;
  }
  static std::atomic<int> files{0};
  return NewSqliteDatabase(
      OdbcTestEnv::Get().NewSqliteFile(sqlite_stem + std::to_string(++files) + ".db"));
}

}  // namespace velquarn::testing
