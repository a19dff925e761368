#include "odbc/odbc_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "dataset/sql_errors.h"
#include "odbc_test_util.h"

namespace velquarn {
namespace {

using testing::NewPostgresDatabase;
using testing::NewSqliteDatabase;
using testing::OdbcTestEnv;
using testing::PostgresAvailable;
using testing::QueryInt;

TEST(ConnectString, TranslatesNamedParametersThenRepeatsEveryLine) {
  TcsODBCDatabase db;
  db.Params().Add("Database Name=SALES");
  db.Params().Add("User Name=ADMIN");
  db.SetDSN("MAIN");
  EXPECT_EQ(db.ODBCDriver()->BuildConnectString(),
            "DBQ=SALES;UID=ADMIN;Database Name=SALES;User Name=ADMIN;DSN=MAIN");
}

TEST(ConnectString, ServerNameGivesServerAndSystem) {
  TcsODBCDatabase db;
  db.Params().Add("Server Name=S1");
  db.SetDSN("X");
  EXPECT_EQ(db.ODBCDriver()->BuildConnectString(), "Server=S1;System=S1;Server Name=S1;DSN=X");
}

TEST(ConnectString, DsnAloneHasNoSeparator) {
  TcsODBCDatabase db;
  db.SetDSN("X");
  EXPECT_EQ(db.ODBCDriver()->BuildConnectString(), "DSN=X");
}

TEST(ConnectString, FullOrderWithPasswordDriverParamsAndDriverName) {
  TcsODBCDatabase db;
  db.Params().Add("password=pw");
  db.Params().Add("Extra=1");
  db.Params().Add("User Name=");
  db.ODBCDriver()->DriverParams().Add("StepAPI=1");
  db.SetODBCDriverName("SQLite3");
  EXPECT_EQ(db.ODBCDriver()->BuildConnectString(),
            "PWD=pw;password=pw;Extra=1;User Name=;StepAPI=1;Driver={SQLite3}");
}

TEST(ConnectString, EveryValueIsQuotedSoNoneAddsAKeyword) {
  TcsODBCDatabase db;
  db.Params().SetValue("UID", "u;Database=/some/other/file.db");
  db.Params().SetValue("PWD", "ab;cd}e");
  db.Params().Add("Server Name=host;x=1");
  db.ODBCDriver()->DriverParams().Add("Database= /srv/a.db");
  db.SetDSN("lite;Driver=x");
  EXPECT_EQ(db.ODBCDriver()->BuildConnectString(),
            "Server={host;x=1};System={host;x=1};UID={u;Database=/some/other/file.db};"
            "PWD={ab;cd}}e};Server Name={host;x=1};Database={ /srv/a.db};DSN={lite;Driver=x}");
  db.SetODBCDriverName("Odd}Driver");
  EXPECT_EQ(db.ODBCDriver()->BuildConnectString().substr(
                db.ODBCDriver()->BuildConnectString().rfind(';') + 1),
            "Driver={Odd}}Driver}");
}

TEST(ConnectString, DsnAndDriverNameAreExclusive) {
  TcsODBCDatabase db;
  db.SetDSN("A");
  EXPECT_EQ(db.DSN(), "A");
  db.SetODBCDriverName("B");
  EXPECT_EQ(db.DSN(), "");
  EXPECT_EQ(db.ODBCDriverName(), "B");
  db.SetDSN("C");
  EXPECT_EQ(db.ODBCDriverName(), "");

  TcsODBCDriver driver;  // the properties clear each other; the raw fields may not
  driver.SetDSN("A");
  EXPECT_NO_THROW(driver.BuildConnectString());
}

TEST(ConnectString, SettingDsnWhileConnectedClosesTheDatabase) {
  auto db = NewSqliteDatabase();
  db->Open();
  ASSERT_TRUE(db->Connected());
  db->SetDSN(OdbcTestEnv::kSqliteDsn);
  EXPECT_FALSE(db->Connected());
  EXPECT_FALSE(db->ODBCDriver()->IsConnected());
}

TEST(Connect, SqliteConnectParksOneConnectionInThePool) {
  auto db = NewSqliteDatabase();
  db->SetConnectionPoolSize(5);
  db->Open();
  TcsODBCDriver& driver = *db->ODBCDriver();
  EXPECT_TRUE(driver.IsConnected());
  EXPECT_EQ(driver.IdleCount(), 1);
  EXPECT_FALSE(driver.HasMainConnection());
  EXPECT_EQ(driver.ConnectString(), "DSN=VelquarnSQLite");
  db->Close();
  EXPECT_EQ(driver.IdleCount(), 0);
  EXPECT_FALSE(driver.IsConnected());
}

TEST(Connect, UnknownDataSourceRaisesDriverManagerDiagnostics) {
  OdbcTestEnv::Get();
  TcsODBCDatabase db;
  db.SetLoginPrompt(false);
  db.SetDSN("NoSuchDataSource");
  try {
    db.Open();
    FAIL() << "connected to a data source that does not exist";
  } catch (const EcsSQLError& error) {
    ASSERT_GE(error.ErrorCount(), 1);
    EXPECT_EQ(error.Errors()[0].ErrorText.substr(0, 6), "IM002:");
    EXPECT_EQ(error.Message(), error.Errors()[0].ErrorText);
  }
  EXPECT_FALSE(db.Connected());
  EXPECT_FALSE(db.ODBCDriver()->IsConnected());
  EXPECT_EQ(db.ODBCDriver()->IdleCount(), 0);
}

TEST(Connect, WrongPostgresPasswordCarriesTheServersState) {
  if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
  auto db = NewPostgresDatabase();
  db->Params().SetValue("Password", "wrong");
  try {
    db->Open();
    FAIL() << "logged in with a wrong password";
  } catch (const EcsSQLError& error) {
    ASSERT_GE(error.ErrorCount(), 1);
    // The PostgreSQL driver reports a refused login as 08001 with the
    // server's own text.
    EXPECT_EQ(error.Message().substr(0, 6), "08001:") << error.Message();
    EXPECT_NE(error.Message().find("password authentication failed"), std::string::npos)
        << error.Message();
  }
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->ODBCDriver()->IdleCount(), 0);
}

TEST(Connect, CharsetConvertsTheConnectionStringForTheDriver) {
  OdbcTestEnv& env = OdbcTestEnv::Get();
  // "b\xE5t" is "båt" in code page 1252; the file appears under its UTF-8 name.
  std::string cp1252_file = env.NewSqliteFile("b\xE5t.db");
  auto db = NewSqliteDatabase(cp1252_file);
  db->Open();
  db->Close();
  EXPECT_TRUE(std::filesystem::exists(env.NewSqliteFile("b\xC3\xA5t.db")));

  auto raw = NewSqliteDatabase(env.NewSqliteFile("r\xE5.db"));
  raw->SetCharset("CP1252");
  raw->Open();
  raw->Close();
  EXPECT_TRUE(std::filesystem::exists(env.NewSqliteFile("r\xE5.db")));
}

TEST(Pool, SizeZeroClosesEveryReleasedConnection) {
  auto db = NewSqliteDatabase();
  db->SetConnectionPoolSize(0);
  db->Open();
  TcsODBCDriver& driver = *db->ODBCDriver();
  EXPECT_TRUE(driver.IsConnected());
  EXPECT_EQ(driver.IdleCount(), 0);
  TConnectionHandle* connection = driver.AcquireConnection();
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(QueryInt(driver, *connection, "select 42"), 42);
  driver.ReleaseConnection(connection, false);
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(driver.IdleCount(), 0);
}

TEST(Pool, ForcedReleaseClosesEvenWithRoom) {
  auto db = NewSqliteDatabase();
  db->Open();
  TcsODBCDriver& driver = *db->ODBCDriver();
  TConnectionHandle* connection = driver.AcquireConnection();
  EXPECT_EQ(driver.IdleCount(), 0);
  driver.ReleaseConnection(connection, true);
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(driver.IdleCount(), 0);
  TConnectionHandle* none = nullptr;
  driver.ReleaseConnection(none, false);
  EXPECT_EQ(driver.IdleCount(), 0);
}

TEST(Pool, AcquireTakesTheLongestIdleAndTrimmingClosesTheNewest) {
  auto db = NewSqliteDatabase();
  db->Open();
  TcsODBCDriver& driver = *db->ODBCDriver();
  TConnectionHandle* a = driver.AcquireConnection();  // the one Connect parked
  TConnectionHandle* b = driver.AcquireConnection();
  TConnectionHandle* c = driver.AcquireConnection();
  ASSERT_TRUE(a != b && b != c && a != c);
  TConnectionHandle* first = a;
  TConnectionHandle* second = b;
  driver.ReleaseConnection(a, false);
  driver.ReleaseConnection(b, false);
  driver.ReleaseConnection(c, false);
  EXPECT_EQ(driver.IdleCount(), 3);

  db->SetConnectionPoolSize(1);
  EXPECT_EQ(driver.IdleCount(), 1);
  TConnectionHandle* again = driver.AcquireConnection();
  EXPECT_EQ(again, first);
  EXPECT_EQ(QueryInt(driver, *again, "select 7"), 7);
  driver.ReleaseConnection(again, false);

  db->SetConnectionPoolSize(5);
  TConnectionHandle* x = driver.AcquireConnection();
  TConnectionHandle* y = driver.AcquireConnection();
  TConnectionHandle* x_seen = x;
  driver.ReleaseConnection(y, false);
  driver.ReleaseConnection(x, false);
  TConnectionHandle* oldest = driver.AcquireConnection();
  EXPECT_NE(oldest, x_seen);  // y went back first
  driver.ReleaseConnection(oldest, false);
  (void)second;

  db->SetConnectionPoolSize(-1);  // stores only
  EXPECT_EQ(driver.IdleCount(), 2);
  EXPECT_EQ(driver.PoolSize(), -1);
}

TEST(Pool, ReleasedConnectionHasItsCursorClosed) {
  auto db = NewSqliteDatabase();
  db->Open();
  TcsODBCDriver& driver = *db->ODBCDriver();
  TConnectionHandle* connection = driver.AcquireConnection();
  SQLHSTMT stmt = connection->Stmt();
  ASSERT_TRUE(SQL_SUCCEEDED(ODBC().SQLExecDirect(
      stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("select 1 union all select 2")),
      SQL_NTS)));
  driver.ReleaseConnection(connection, false);
  TConnectionHandle* reused = driver.AcquireConnection();
  ASSERT_EQ(reused->Stmt(), stmt);
  // A cursor left open would make the next statement fail with 24000.
  EXPECT_EQ(QueryInt(driver, *reused, "select 3"), 3);
  driver.ReleaseConnection(reused, false);
}

TEST(Pool, PostgresSessionsFollowThePool) {
  if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
  auto db = NewPostgresDatabase();
  // libpq options through the driver tag this test's sessions.
  db->ODBCDriver()->DriverParams().Add("pqopt={application_name=velquarn_pool_test}");
  db->Open();
  TcsODBCDriver& driver = *db->ODBCDriver();
  // A closed session leaves pg_stat_activity when its server process ends,
  // a moment after the disconnect: wait for the expected count, within bounds.
  auto sessions = [&](long long expected) {
    long long count = -1;
    for (int i = 0; i < 200 && count != expected; ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(25));
      count = QueryInt(driver, driver.MainConnection(),
                       "select count(*) from pg_stat_activity where application_name = "
                       "'velquarn_pool_test' and pid <> pg_backend_pid()");
    }
    return count;
  };
  TConnectionHandle* a = driver.AcquireConnection();
  TConnectionHandle* b = driver.AcquireConnection();
  TConnectionHandle* c = driver.AcquireConnection();
  EXPECT_EQ(sessions(3), 3);
  driver.ReleaseConnection(a, false);
  driver.ReleaseConnection(b, false);
  driver.ReleaseConnection(c, true);
  EXPECT_EQ(sessions(2), 2);
  db->SetConnectionPoolSize(0);
  EXPECT_EQ(sessions(0), 0);
  db->Close();
}

TEST(Transactions, MainConnectionOnlyAndPooledConnectionsStayOutside) {
  if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
  auto db = NewPostgresDatabase();
  db->Open();
  TcsODBCDriver& driver = *db->ODBCDriver();
  EXPECT_TRUE(driver.TransactionsSupported());
  TConnectionHandle& main = driver.MainConnection();
  testing::ExecRaw(driver, main, "drop table if exists velquarn_txn");
  testing::ExecRaw(driver, main, "create table velquarn_txn (id integer)");
  EXPECT_FALSE(db->InTransaction());

  db->StartTransaction();
  EXPECT_TRUE(db->InTransaction());
  TConnectionHandle* pooled = driver.AcquireConnection();
  testing::ExecRaw(driver, main, "insert into velquarn_txn values (1)");
  testing::ExecRaw(driver, *pooled, "insert into velquarn_txn values (2)");
  // Read committed: the pooled connection does not see the open insert.
  EXPECT_EQ(QueryInt(driver, *pooled, "select count(*) from velquarn_txn"), 1);
  db->Rollback();
  EXPECT_FALSE(db->InTransaction());
  EXPECT_EQ(QueryInt(driver, *pooled, "select coalesce(sum(id), 0) from velquarn_txn"), 2);

  db->StartTransaction();
  testing::ExecRaw(driver, main, "insert into velquarn_txn values (5)");
  db->Commit();
  EXPECT_FALSE(db->InTransaction());
  EXPECT_EQ(QueryInt(driver, *pooled, "select sum(id) from velquarn_txn"), 7);
  driver.ReleaseConnection(pooled, false);

  db->StartTransaction();
  EXPECT_THROW(db->StartTransaction(), EDatabaseError);
  testing::ExecRaw(driver, main, "insert into velquarn_txn values (100)");
  db->Close();  // disconnecting rolls back
  db->Open();
  EXPECT_EQ(QueryInt(driver, driver.MainConnection(), "select sum(id) from velquarn_txn"), 7);
  testing::ExecRaw(driver, driver.MainConnection(), "drop table velquarn_txn");
}

TEST(Transactions, IsolationLevelReachesTheServer) {
  if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
  auto db = NewPostgresDatabase(OdbcTestEnv::kPostgresAnsiDsn);
  db->SetTransIsolation(tiRepeatableRead);
  db->Open();
  TcsODBCDriver& driver = *db->ODBCDriver();
  EXPECT_EQ(QueryInt(driver, driver.MainConnection(),
                     "select case current_setting('transaction_isolation') "
                     "when 'repeatable read' then 4 else 0 end"),
            4);
}

TEST(Transactions, SqliteMainConnectionCommitAndRollback) {
  OdbcTestEnv& env = OdbcTestEnv::Get();
  std::string file = env.NewSqliteFile("txn.db");
  auto db = NewSqliteDatabase(file);
  db->Open();
  TcsODBCDriver& driver = *db->ODBCDriver();
  TConnectionHandle& main = driver.MainConnection();
  testing::ExecRaw(driver, main, "create table t (id integer)");
  db->StartTransaction();
  EXPECT_TRUE(db->InTransaction());
  testing::ExecRaw(driver, main, "insert into t values (1)");
  db->Rollback();
  EXPECT_FALSE(db->InTransaction());
  EXPECT_EQ(QueryInt(driver, main, "select count(*) from t"), 0);
  db->StartTransaction();
  testing::ExecRaw(driver, main, "insert into t values (1)");
  db->Commit();
  EXPECT_EQ(QueryInt(driver, main, "select count(*) from t"), 1);
}

TEST(Threads, DatabasesConnectAtOnceWithOneLoad) {
  OdbcTestEnv& env = OdbcTestEnv::Get();
  constexpr int kThreads = 8;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      try {
        for (int round = 0; round < 5; ++round) {
          auto db = NewSqliteDatabase(env.NewSqliteFile("thread" + std::to_string(i) + ".db"));
          db->Open();
          TcsODBCDriver& driver = *db->ODBCDriver();
          TConnectionHandle* connection = driver.AcquireConnection();
          if (QueryInt(driver, *connection, "select " + std::to_string(i)) != i) ++failures;
          driver.ReleaseConnection(connection, round % 2 == 0);
          if (round % 2 == 1) db->Close();
        }
      } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
        ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(Threads, PostgresDatabasesConnectAtOnce) {
  if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
  constexpr int kThreads = 6;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      try {
        auto db = NewPostgresDatabase();
        db->Open();
        TcsODBCDriver& driver = *db->ODBCDriver();
        if (QueryInt(driver, driver.MainConnection(), "select " + std::to_string(i)) != i) {
          ++failures;
        }
        db->StartTransaction();
        db->Rollback();
      } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
        ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace velquarn
