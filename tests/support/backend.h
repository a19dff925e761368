// The real database back ends that parameterised tests run against.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/odbc_test_env.h"

namespace velquarn::testing {

enum class TBackend { kSqlite, kPostgres, kMariaDb };

// Every back end, for INSTANTIATE_TEST_SUITE_P.
inline auto AllBackends() {
  return ::testing::Values(TBackend::kSqlite, TBackend::kPostgres, TBackend::kMariaDb);
}

// The back end's part of a test name.
inline std::string BackendName(const ::testing::TestParamInfo<TBackend>& info) {
  switch (info.param) {
    case TBackend::kSqlite:
      return "SQLite";
    case TBackend::kPostgres:
      return "PostgreSQL";
    case TBackend::kMariaDb:
      return "MariaDB";
  }
  return "Unknown";
}

// Why a test of this back end cannot run, empty when it can: the server
// back ends need their private server (VELQUARN_PG_*, VELQUARN_MY_*).
inline std::string BackendUnavailable(TBackend backend) {
  if (backend == TBackend::kPostgres && !PostgresAvailable()) {
    return "PostgreSQL not available (VELQUARN_PG_* unset)";
  }
  if (backend == TBackend::kMariaDb && !MariaDbAvailable()) {
    return "MariaDB not available (VELQUARN_MY_* unset)";
  }
  return "";
}

// An identifier in the back end's default quotes: MariaDB reads double
// quotes as a string unless its sql_mode has ANSI_QUOTES.
inline std::string QuoteName(TBackend backend, const std::string& name) {
  return backend == TBackend::kMariaDb ? "`" + name + "`" : "\"" + name + "\"";
}

}  // namespace velquarn::testing
