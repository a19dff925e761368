// Helpers shared by the ODBC tests: databases on the test data sources and
// raw statements on a connection, for checking what the driver did.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>

#include "odbc/odbc_database.h"
#include "odbc/odbc_diagnostics.h"
#include "odbc/odbc_entry_points.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {

// A database on the SQLite data source, or, with a file, on that file
// through the driver name.
inline std::unique_ptr<TcsODBCDatabase> NewSqliteDatabase(const std::string& file = "") {
  OdbcTestEnv& env = OdbcTestEnv::Get();
  auto db = std::make_unique<TcsODBCDatabase>();
  db->SetLoginPrompt(false);
  if (file.empty()) {
    db->SetDSN(OdbcTestEnv::kSqliteDsn);
  } else {
    db->SetODBCDriverName(OdbcTestEnv::kSqliteDriver);
    db->ODBCDriver()->DriverParams().Add("Database=" + file);
  }
  (void)env;
  return db;
}

// A database on the private PostgreSQL cluster, logging in through the
// "User Name" and "Password" parameters.
inline std::unique_ptr<TcsODBCDatabase> NewPostgresDatabase(
    const char* dsn = OdbcTestEnv::kPostgresDsn) {
  OdbcTestEnv::Get();
  auto db = std::make_unique<TcsODBCDatabase>();
  db->SetLoginPrompt(false);
  db->SetDSN(dsn);
  db->Params().Add("User Name=" + PostgresSetting("USER"));
  db->Params().Add("Password=" + PostgresSetting("PASSWORD"));
  return db;
}

// A database on the private MariaDB server, logging in the same way.
inline std::unique_ptr<TcsODBCDatabase> NewMariaDbDatabase() {
  OdbcTestEnv::Get();
  auto db = std::make_unique<TcsODBCDatabase>();
  db->SetLoginPrompt(false);
  db->SetDSN(OdbcTestEnv::kMariaDbDsn);
  db->Params().Add("User Name=" + MariaDbSetting("USER"));
  db->Params().Add("Password=" + MariaDbSetting("PASSWORD"));
  return db;
}

// Runs sql on the connection's statement and closes its cursor.
inline void ExecRaw(TcsODBCDriver& driver, TConnectionHandle& connection, const std::string& sql) {
  SQLRETURN result = ODBC().SQLExecDirect(
      connection.Stmt(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  if (result != SQL_NO_DATA) CheckStmtResult(driver, connection.Stmt(), result);
  ODBC().SQLCloseCursor(connection.Stmt());
}

// The first column of the first row of sql as an integer.
inline long long QueryInt(TcsODBCDriver& driver, TConnectionHandle& connection,
                          const std::string& sql) {
  SQLHSTMT stmt = connection.Stmt();
  CheckStmtResult(driver, stmt,
                  ODBC().SQLExecDirect(
                      stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS));
  CheckStmtResult(driver, stmt, ODBC().SQLFetch(stmt));
  SQLBIGINT value = 0;
  SQLLEN indicator = 0;
  CheckStmtResult(driver, stmt,
                  ODBC().SQLGetData(stmt, 1, SQL_C_SBIGINT, &value, sizeof value, &indicator));
  ODBC().SQLCloseCursor(stmt);
  return value;
}

}  // namespace velquarn::testing
