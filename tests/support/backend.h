// The two real database back ends that parameterised tests run against.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace velquarn::testing {

enum class TBackend { kSqlite, kPostgres };

// The back end's part of a test name.
inline std::string BackendName(const ::testing::TestParamInfo<TBackend>& info) {
  return info.param == TBackend::kSqlite ? "SQLite" : "PostgreSQL";
}

}  // namespace velquarn::testing
