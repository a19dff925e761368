// Shared set-up of the test programs that use ODBC: a private odbc.ini and
// odbcinst.ini in a temporary folder, with the driver manager pointed at
// them through ODBCSYSINI and ODBCINI, a SQLite data source on a temporary
// file and, when the private PostgreSQL cluster runs (VELQUARN_PG_* set by
// scripts/postgres.sh), PostgreSQL data sources through the Unicode and the
// ANSI driver and, when the private MariaDB server runs (VELQUARN_MY_* set
// by scripts/mariadb.sh), a MariaDB data source.
//
// Thread-safety: OdbcTestEnv::Get may be called from any thread; the first
// call must happen before the driver manager is first loaded.
#pragma once

#include <filesystem>
#include <string>

namespace velquarn::testing {

// A temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "velquarn-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

class OdbcTestEnv {
 public:
  // Writes the configuration once and sets the environment variables.
  static OdbcTestEnv& Get();

  const std::filesystem::path& Dir() const { return dir_.Path(); }
  // Driver names of odbcinst.ini.
  static constexpr const char* kSqliteDriver = "Velquarn SQLite3";
  static constexpr const char* kPostgresDriver = "Velquarn PostgreSQL Unicode";
  static constexpr const char* kPostgresAnsiDriver = "Velquarn PostgreSQL ANSI";
  static constexpr const char* kMariaDbDriver = "Velquarn MariaDB";
  // Data source names of odbc.ini.
  static constexpr const char* kSqliteDsn = "VelquarnSQLite";
  static constexpr const char* kPostgresDsn = "VelquarnPG";
  static constexpr const char* kPostgresAnsiDsn = "VelquarnPGAnsi";
  static constexpr const char* kMariaDbDsn = "VelquarnMy";

  // The database file of kSqliteDsn.
  std::string SqliteFile() const { return dir_.File("sqlite_dsn.db"); }
  // A path for a further SQLite database file in the folder (not created).
  std::string NewSqliteFile(const std::string& name) const { return dir_.File(name); }

 private:
  OdbcTestEnv();
  TempDir dir_;
};

// True when the VELQUARN_PG_* variables name a running private cluster.
// Tests that need PostgreSQL call GTEST_SKIP() otherwise.
bool PostgresAvailable();
// The value of VELQUARN_PG_<name> ("HOST", "PORT", ...), empty when unset.
std::string PostgresSetting(const std::string& name);

// The same for the private MariaDB server and VELQUARN_MY_<name>.
bool MariaDbAvailable();
std::string MariaDbSetting(const std::string& name);

}  // namespace velquarn::testing
