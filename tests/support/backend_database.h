// A database component on either real back end, for the tests of the
// layers above ODBC.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "odbc/odbc_test_util.h"
#include "support/backend.h"

namespace velquarn::testing {

// SQLite: a fresh database file <sqlite_stem><n>.db. PostgreSQL, MariaDB:
// the private server's test database, or null when that server does not run
// (the test skips).
inline std::unique_ptr<TcsODBCDatabase> NewBackendDatabase(TBackend backend,
                                                           const std::string& sqlite_stem) {
  if (backend == TBackend::kPostgres) {
    return PostgresAvailable() ? NewPostgresDatabase() : nullptr;
  }
  if (backend == TBackend::kMariaDb) {
    return MariaDbAvailable() ? NewMariaDbDatabase() : nullptr;
  }
  static std::atomic<int> files{0};
  return NewSqliteDatabase(
      OdbcTestEnv::Get().NewSqliteFile(sqlite_stem + std::to_string(++files) + ".db"));
}

// A test statement written with the standard's double-quoted identifiers,
// for the back end: MariaDB's default sql_mode reads "x" as a string, so
// there every double quote becomes a backquote (the test statements hold no
// double quote inside a string literal).
inline std::string BackendSql(TBackend backend, std::string sql) {
  if (backend == TBackend::kMariaDb) {
    for (char& c : sql) {
      if (c == '"') c = '`';
    }
  }
  return sql;
}

// The schema part of a qualified table name on the back end's test
// database: MariaDB's schemas are its databases.
inline std::string BackendSchema(TBackend backend) {
  switch (backend) {
    case TBackend::kPostgres:
      return "public";
    case TBackend::kMariaDb:
      return MariaDbSetting("DATABASE");
    case TBackend::kSqlite:
      break;
  }
  return "main";
}

}  // namespace velquarn::testing
