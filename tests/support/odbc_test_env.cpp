#include "support/odbc_test_env.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace velquarn::testing {

namespace {

// The first existing path of the candidates; the first one when none exists
// (the driver manager then reports the missing file itself).
std::string FirstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    if (std::filesystem::exists(path)) return path;
  }
  return candidates.front();
}

}  // namespace

TempDir::TempDir(const std::string& prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed for " + pattern);
  }
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

bool PostgresAvailable() {
  for (const char* name : {"HOST", "PORT", "DATABASE", "USER", "PASSWORD"}) {
    if (PostgresSetting(name).empty()) return false;
  }
  return true;
}

std::string PostgresSetting(const std::string& name) {
  const char* value = std::getenv(("VELQUARN_PG_" + name).c_str());
  return value != nullptr ? value : "";
}

bool MariaDbAvailable() {
  for (const char* name : {"HOST", "PORT", "DATABASE", "USER", "PASSWORD"}) {
    if (MariaDbSetting(name).empty()) return false;
  }
  return true;
}

std::string MariaDbSetting(const std::string& name) {
  const char* value = std::getenv(("VELQUARN_MY_" + name).c_str());
  return value != nullptr ? value : "";
}

OdbcTestEnv& OdbcTestEnv::Get() {
  static OdbcTestEnv env;
  return env;
}

OdbcTestEnv::OdbcTestEnv() : dir_("velquarn-odbc") {
  const std::string lib = "/usr/lib/x86_64-linux-gnu/odbc/";
  const std::string sqlite =
      FirstExisting({lib + "libsqlite3odbc.so", "/usr/lib/odbc/libsqlite3odbc.so",
                     "/usr/lib64/libsqlite3odbc.so"});
  const std::string pg_unicode = FirstExisting(
      {lib + "psqlodbcw.so", "/usr/lib/odbc/psqlodbcw.so", "/usr/lib64/psqlodbcw.so"});
  const std::string pg_ansi = FirstExisting(
      {lib + "psqlodbca.so", "/usr/lib/odbc/psqlodbca.so", "/usr/lib64/psqlodbca.so"});
  const std::string mariadb = FirstExisting(
      {lib + "libmaodbc.so", "/usr/lib/odbc/libmaodbc.so", "/usr/lib64/libmaodbc.so"});
  {
    std::ofstream inst(dir_.File("odbcinst.ini"));
    inst << "[" << kSqliteDriver << "]\nDescription=SQLite3\nDriver=" << sqlite
         << "\nSetup=" << sqlite << "\nThreading=2\n\n"
         << "[" << kPostgresDriver << "]\nDescription=PostgreSQL Unicode\nDriver=" << pg_unicode
         << "\n\n"
         << "[" << kPostgresAnsiDriver << "]\nDescription=PostgreSQL ANSI\nDriver=" << pg_ansi
         << "\n\n"
         << "[" << kMariaDbDriver << "]\nDescription=MariaDB\nDriver=" << mariadb << "\n";
  }
  // The data sources live in a user file of their own: ODBCSYSINI's folder
  // gets an empty system odbc.ini, so each data source is listed once.
  std::filesystem::create_directory(dir_.Path() / "user");
  std::ofstream(dir_.File("odbc.ini")).flush();
  {
    std::ofstream ini(dir_.File("user/odbc.ini"));
    ini << "[" << kSqliteDsn << "]\nDriver=" << kSqliteDriver << "\nDatabase=" << SqliteFile()
        << "\nTimeout=5000\n\n";
    if (PostgresAvailable()) {
      for (const char* dsn : {kPostgresDsn, kPostgresAnsiDsn}) {
        ini << "[" << dsn << "]\nDriver="
            << (std::string(dsn) == kPostgresDsn ? kPostgresDriver : kPostgresAnsiDriver)
            << "\nServername=" << PostgresSetting("HOST") << "\nPort=" << PostgresSetting("PORT")
            << "\nDatabase=" << PostgresSetting("DATABASE") << "\n\n";
      }
    }
    if (MariaDbAvailable()) {
      // The driver's defaults otherwise: the whole result is read into the
      // client when the statement runs, the cursor scrolls.
      ini << "[" << kMariaDbDsn << "]\nDriver=" << kMariaDbDriver
          << "\nServer=" << MariaDbSetting("HOST") << "\nPort=" << MariaDbSetting("PORT")
          << "\nDatabase=" << MariaDbSetting("DATABASE") << "\n\n";
    }
  }
  setenv("ODBCSYSINI", dir_.Path().c_str(), 1);
  setenv("ODBCINI", dir_.File("user/odbc.ini").c_str(), 1);
}

}  // namespace velquarn::testing
