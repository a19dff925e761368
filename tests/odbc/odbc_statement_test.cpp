#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <string>

#include "common/date_time.h"
#include "dataset/field.h"
#include "dataset/query.h"
#include "dataset/sql_errors.h"
#include "odbc/odbc_types.h"
#include "odbc_test_util.h"

namespace velquarn {
namespace {

using testing::MariaDbAvailable;
using testing::NewMariaDbDatabase;
using testing::NewPostgresDatabase;
using testing::NewSqliteDatabase;
using testing::OdbcTestEnv;
using testing::PostgresAvailable;

TEST(FieldTypes, NumericByScaleAndPrecision) {
  EXPECT_EQ(FieldTypeForSQLType(SQL_NUMERIC, 2, 0), ftSmallint);
  EXPECT_EQ(FieldTypeForSQLType(SQL_NUMERIC, 9, 0), ftInteger);
  EXPECT_EQ(FieldTypeForSQLType(SQL_DECIMAL, 10, 0), ftLargeint);
  EXPECT_EQ(FieldTypeForSQLType(SQL_NUMERIC, 10, 2), ftFloat);
  EXPECT_EQ(FieldTypeForSQLType(SQL_LONGVARCHAR, 8196, 0), ftString);
  EXPECT_EQ(FieldTypeForSQLType(SQL_WLONGVARCHAR, 8197, 0), ftMemo);
  EXPECT_EQ(FieldTypeForSQLType(SQL_WVARCHAR, 100, 0), ftWideString);
  EXPECT_EQ(FieldTypeForSQLType(SQL_TYPE_TIMESTAMP, 0, 0), ftDateTime);
  EXPECT_EQ(FieldTypeForSQLType(SQL_GUID, 36, 0), ftUnknown);
  EXPECT_EQ(SQLTypeForParam(ftDate), SQL_CHAR);
  EXPECT_EQ(CTypeForParam(ftBlob), SQL_C_BINARY);
  EXPECT_EQ(SQLTypeForParam(ftWideString), SQL_CHAR);
}

enum class Source { kSqlite, kPostgres, kPostgresAnsi, kMariaDb };

std::string SourceName(const ::testing::TestParamInfo<Source>& info) {
  switch (info.param) {
    case Source::kSqlite:
      return "SQLite";
    case Source::kPostgres:
      return "PostgreSQL";
    case Source::kMariaDb:
      return "MariaDB";
    default:
      return "PostgreSQLAnsi";
  }
}

// The same cases against each data source.
class Statements : public ::testing::TestWithParam<Source> {
 protected:
  void SetUp() override {
    if (GetParam() == Source::kSqlite) {
      static std::atomic<int> files{0};
      db_ = NewSqliteDatabase(
          OdbcTestEnv::Get().NewSqliteFile("statements" + std::to_string(++files) + ".db"));
    } else if (GetParam() == Source::kMariaDb) {
      if (!MariaDbAvailable()) GTEST_SKIP() << "no MariaDB server";
      db_ = NewMariaDbDatabase();
    } else {
      if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
      db_ = NewPostgresDatabase(GetParam() == Source::kPostgres ? OdbcTestEnv::kPostgresDsn
                                                                : OdbcTestEnv::kPostgresAnsiDsn);
    }
    static std::atomic<int> names{0};
    db_->SetName("StatementDb" + std::to_string(++names));
    db_->SetConnectionPoolSize(1);
    Exec("drop table if exists vq_t");
  }
  void TearDown() override {
    if (db_ == nullptr) return;
    query_.reset();
    try {
      Exec("drop table if exists vq_t");
    } catch (...) {
    }
  }
  bool Postgres() const {
    return GetParam() == Source::kPostgres || GetParam() == Source::kPostgresAnsi;
  }
  bool MariaDb() const { return GetParam() == Source::kMariaDb; }
  int Exec(const std::string& sql) { return db_->ExecSQL(sql, nullptr, nullptr); }
  TcsQuery& Query(const std::string& sql) {
    query_ = std::make_unique<TcsQuery>();
    query_->SetDataBaseName(db_->DataBaseName());
    query_->SetSQLText(sql);
    return *query_;
  }

  std::unique_ptr<TcsODBCDatabase> db_;
  std::unique_ptr<TcsQuery> query_;
};

TEST_P(Statements, AffectedRowsAndNoDataUpdates) {
  Exec("create table vq_t (id integer, name varchar(20))");
  EXPECT_EQ(Exec("insert into vq_t values (1, 'a')"), 1);
  Exec("insert into vq_t values (2, 'b')");
  Exec("insert into vq_t values (3, 'c')");
  EXPECT_EQ(Exec("update vq_t set name = 'x'"), 3);
  EXPECT_EQ(Exec("delete from vq_t where id = 99"), 0);
  EXPECT_EQ(db_->ODBCDriver()->ColumnCount(), -1);
}

TEST_P(Statements, FetchesEachFieldType) {
  if (Postgres()) {
    Exec(
        "create table vq_t (i integer, s smallint, b bigint, f double precision, "
        "v varchar(10), c char(10), d date, t time, ts timestamp, bin bytea, m text, "
        "flag boolean, n numeric(10,2))");
    Exec(
        "insert into vq_t values (-7, 12, 9000000000, 2.5, 'r\xE4k', 'ab', '2024-02-29', "
        "'13:14:15', '2024-02-29 13:14:15.250', '\\x00ff41'::bytea, "
        "'line1' || chr(26) || 'line2', true, 12.25)");
  } else if (MariaDb()) {
    // tinyint(1) is MariaDB's boolean, decimal its numeric; datetime(3)
    // keeps the milliseconds.
    Exec(
        "create table vq_t (i integer, s smallint, b bigint, f double, v varchar(10), "
        "c char(10), d date, t time, ts datetime(3), bin blob, m text, flag tinyint(1), "
        "n decimal(10,2))");
    Exec(
        "insert into vq_t values (-7, 12, 9000000000, 2.5, 'r\xE4k', 'ab', '2024-02-29', "
        "'13:14:15', '2024-02-29 13:14:15.250', x'00ff41', "
        "concat('line1', char(26), 'line2'), 1, 12.25)");
  } else {
    Exec(
        "create table vq_t (i integer, s smallint, b bigint, f double, v varchar(10), "
        "c char(10), d date, t time, ts timestamp, bin blob, m text, flag bit, n numeric(10,2))");
    Exec(
        "insert into vq_t values (-7, 12, 9000000000, 2.5, 'r\xE4k', 'ab        ', "
        "'2024-02-29', '13:14:15', '2024-02-29 13:14:15.250', x'00ff41', "
        "'line1' || char(26) || 'line2', 1, 12.25)");
  }
  Exec("insert into vq_t (i) values (null)");
  TcsQuery& q = Query("select * from vq_t order by coalesce(i, 1000)");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("i").DataType(), ftInteger);
  EXPECT_EQ(q.FieldByName("i").AsInteger(), -7);
  EXPECT_EQ(q.FieldByName("s").AsInteger(), 12);
  EXPECT_EQ(q.FieldByName("b").DataType(), ftLargeint);
  EXPECT_EQ(q.FieldByName("b").AsLargeInt(), 9000000000LL);
  EXPECT_DOUBLE_EQ(q.FieldByName("f").AsFloat(), 2.5);
  EXPECT_EQ(q.FieldByName("v").AsString(), "r\xE4k");
  EXPECT_EQ(q.FieldByName("c").AsString(), "ab");
  EXPECT_EQ(q.FieldByName("d").DataType(), ftDate);
  EXPECT_DOUBLE_EQ(q.FieldByName("d").AsDateTime(), EncodeDate(2024, 2, 29));
  EXPECT_EQ(q.FieldByName("t").DataType(), ftTime);
  EXPECT_NEAR(q.FieldByName("t").AsDateTime(), EncodeTime(13, 14, 15, 0), 1e-9);
  EXPECT_EQ(q.FieldByName("ts").DataType(), ftDateTime);
  EXPECT_NEAR(q.FieldByName("ts").AsDateTime(),
              EncodeDate(2024, 2, 29) + EncodeTime(13, 14, 15, 250), 1e-9);
  // A byte field's slot has no length: a short value is followed by zeros.
  EXPECT_EQ(q.FieldByName("bin").AsString().substr(0, 3), std::string("\x00\xff\x41", 3));
  // The PostgreSQL driver reports text as a long character type of 8190
  // characters by default, which stays a string field.
  EXPECT_EQ(q.FieldByName("m").AsString(),
            q.FieldByName("m").DataType() == ftMemo ? "line1\r\nline2" : "line1\x1Aline2");
  EXPECT_TRUE(q.FieldByName("flag").AsBoolean());
  EXPECT_DOUBLE_EQ(q.FieldByName("n").AsFloat(), 12.25);
  q.Next();
  ASSERT_FALSE(q.Eof());
  EXPECT_TRUE(q.FieldByName("i").IsNull());
  EXPECT_TRUE(q.FieldByName("v").IsNull());
  EXPECT_TRUE(q.FieldByName("m").IsNull());
  EXPECT_TRUE(q.FieldByName("d").IsNull());
  q.Next();
  EXPECT_TRUE(q.Eof());
}

TEST_P(Statements, OriginsAreTheBaseColumnNames) {
  Exec("create table vq_t (id integer, name varchar(20))");
  Exec("insert into vq_t values (1, 'a')");
  TcsQuery& q = Query("select id as renamed, name from vq_t");
  q.Open();
  EXPECT_EQ(q.Fields(0).FieldName(), "renamed");
  // The SQLite driver answers the alias as the base column name.
  EXPECT_EQ(q.Fields(0).Origin(), Postgres() || MariaDb() ? "id" : "renamed");
  EXPECT_EQ(q.Fields(1).Origin(), "name");
}

TEST_P(Statements, ParametersGoInAndComeBack) {
  Exec(
      "create table vq_t (id integer, name varchar(40), big bigint, amount double precision, "
      "day date, data " +
      std::string(Postgres() ? "bytea" : "blob") + ", note " +
      std::string(Postgres() ? "text" : "varchar(8000)") + ")");
  TcsQuery& insert =
      Query("insert into vq_t values (:id, :name, :big, :amount, :day, :data, :note)");
  insert.Params().ParamByName("id").SetAsInteger(5);
  insert.Params().ParamByName("name").SetAsString("s\xF6t \x80");
  insert.Params().ParamByName("big").SetAsLargeInt(-4000000000LL);
  insert.Params().ParamByName("amount").SetAsFloat(0.125);
  insert.Params().ParamByName("day").SetAsDate(EncodeDate(2023, 12, 31));
  insert.Params().ParamByName("data").SetAsBlob(std::string("\x01\x00\x02", 3));
  insert.Params().ParamByName("note").SetAsMemo(std::string(5000, 'n'));
  EXPECT_EQ(insert.ExecSQL(), 1);
  insert.Params().ParamByName("id").SetAsInteger(6);
  insert.Params().ParamByName("name").Clear();
  EXPECT_EQ(insert.ExecSQL(), 1);

  TcsQuery& q = Query(
      "select id, name, big, amount, day, data, note from vq_t where id >= :low "
      "order by id");
  q.Params().ParamByName("low").SetAsInteger(5);
  q.Open();
  EXPECT_EQ(q.FieldByName("id").AsInteger(), 5);
  EXPECT_EQ(q.FieldByName("name").AsString(), "s\xF6t \x80");
  EXPECT_EQ(q.FieldByName("big").AsLargeInt(), -4000000000LL);
  EXPECT_DOUBLE_EQ(q.FieldByName("amount").AsFloat(), 0.125);
  EXPECT_DOUBLE_EQ(q.FieldByName("day").AsDateTime(), EncodeDate(2023, 12, 31));
  EXPECT_EQ(q.FieldByName("data").AsString().substr(0, 3), std::string("\x01\x00\x02", 3));
  EXPECT_EQ(q.FieldByName("note").AsString(), std::string(5000, 'n'));
  q.Next();
  EXPECT_EQ(q.FieldByName("id").AsInteger(), 6);
  EXPECT_TRUE(q.FieldByName("name").IsNull());
}

TEST_P(Statements, PreparedStatementRunsAgainWithNewValues) {
  Exec("create table vq_t (id integer, name varchar(20))");
  TcsQuery& q = Query("insert into vq_t values (:id, :name)");
  q.Prepare();
  for (int i = 1; i <= 3; ++i) {
    q.Params().ParamByName("id").SetAsInteger(i);
    q.Params().ParamByName("name").SetAsString("n" + std::to_string(i));
    EXPECT_EQ(q.ExecSQL(), 1);
  }
  q.UnPrepare();
  TcsQuery& check = Query("select count(*) as n, sum(id) as s from vq_t");
  check.Open();
  EXPECT_EQ(check.FieldByName("n").AsInteger(), 3);
  EXPECT_EQ(check.FieldByName("s").AsInteger(), 6);
}

TEST_P(Statements, FailedStatementClosesTheDatasetsConnection) {
  TcsQuery& q = Query("select * from vq_no_such_table");
  db_->Open();
  const int idle = db_->ODBCDriver()->IdleCount();
  try {
    q.Open();
    FAIL() << "opened a missing table";
  } catch (const EcsSQLError& error) {
    EXPECT_GE(error.ErrorCount(), 1);
    EXPECT_EQ(error.Message().find(':'), 5u) << error.Message();
  }
  EXPECT_EQ(q.Connection(), nullptr);
  EXPECT_EQ(db_->AttachedCount(), 0);
  // The pooled connection was taken and then closed, not put back.
  EXPECT_EQ(db_->ODBCDriver()->IdleCount(), idle - 1);
}

TEST_P(Statements, CharsetRoundTripsTheSwedishLettersAndTheEuro) {
  Exec("create table vq_t (name varchar(30))");
  Exec("insert into vq_t values ('r\xE4ksm\xF6rg\xE5s \x80')");
  TcsQuery& q = Query("select name from vq_t where name like 'r\xE4%'");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("name").AsString(), "r\xE4ksm\xF6rg\xE5s \x80");
}

TEST_P(Statements, FetchWithoutConnectionRaises) {
  TcsQuery& q = Query("select 1");
  char buffer[16] = {};
  try {
    db_->ODBCDriver()->FetchRecord(q, buffer);
    FAIL();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Dataset not connected");
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, Statements,
                         ::testing::Values(Source::kSqlite, Source::kPostgres,
                                           Source::kPostgresAnsi, Source::kMariaDb),
                         SourceName);

TODBCEntryPoints g_real_statement{};

// Reports character columns as wide ones, as drivers with a Unicode
// interface do; the drivers here report them narrow through this API.
SQLRETURN SQL_API WideDescribeCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name,
                                  SQLSMALLINT buffer_length, SQLSMALLINT* name_length,
                                  SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
                                  SQLSMALLINT* nullable) {
  SQLRETURN result = g_real_statement.SQLDescribeCol(stmt, column, name, buffer_length, name_length, type,
                                           size, digits, nullable);
  if (*type == SQL_VARCHAR) *type = SQL_WVARCHAR;
  return result;
}

TEST(WideColumns, KeepEveryCharacterConvertedToCodePage1252) {
  auto db = NewSqliteDatabase(OdbcTestEnv::Get().NewSqliteFile("wide.db"));
  db->SetName("WideSqliteDb");
  db->ExecSQL("create table w (name varchar(100))", nullptr, nullptr);
  const std::string name = std::string(60, 'w') + "\xE5\xE4\xF6\x80";
  db->ExecSQL("insert into w values ('" + name + "')", nullptr, nullptr);
  LoadODBC();
  g_real_statement = ODBC();
  TODBCEntryPoints table = g_real_statement;
  table.SQLDescribeCol = &WideDescribeCol;
  odbc_testing::ScopedEntryPoints fakes(table);
  TcsQuery q;
  q.SetDataBaseName(db->DataBaseName());
  q.SetSQLText("select name from w");
  q.Open();
  TField& field = q.FieldByName("name");
  EXPECT_EQ(field.DataType(), ftWideString);
  EXPECT_EQ(field.Size(), 100);
  EXPECT_EQ(field.AsString(), name);
  q.Close();
  db->Close();
}

TEST(PostgresStatements, SerialIsAutoIncAndVarcharKeepsEveryCharacter) {
  if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
  auto db = NewPostgresDatabase();
  db->SetName("WideDb");
  db->ExecSQL("drop table if exists vq_wide", nullptr, nullptr);
  db->ExecSQL("create table vq_wide (id serial primary key, name varchar(100) not null)", nullptr,
              nullptr);
  const std::string name = std::string(60, 'w') + "\xE5\xE4\xF6\x80";
  db->ExecSQL("insert into vq_wide (name) values ('" + name + "')", nullptr, nullptr);
  TcsQuery q;
  q.SetDataBaseName(db->DataBaseName());
  q.SetSQLText("select id, name from vq_wide");
  q.Open();
  TField& field = q.FieldByName("name");
  EXPECT_EQ(field.Size(), 100);
  EXPECT_EQ(field.AsString(), name);
  EXPECT_EQ(q.FieldByName("id").DataType(), ftAutoInc);
  q.Close();
  db->ExecSQL("drop table vq_wide", nullptr, nullptr);
}

TEST(PostgresStatements, BatchCountsInsertsAndLeavesTheSelectOpen) {
  if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
  auto db = NewPostgresDatabase();
  db->SetName("BatchDb");
  db->ExecSQL("drop table if exists vq_batch", nullptr, nullptr);
  db->ExecSQL("create table vq_batch (id integer)", nullptr, nullptr);
  TcsQuery q;
  q.SetDataBaseName(db->DataBaseName());
  q.SetSQLText(
      "insert into vq_batch values (1); insert into vq_batch values (2), (3); "
      "select id from vq_batch order by id");
  q.Open();
  EXPECT_EQ(q.RowsAffected(), 3);
  EXPECT_EQ(q.FieldByName("id").AsInteger(), 1);
  q.Close();
  db->ExecSQL("drop table vq_batch", nullptr, nullptr);
}

TEST(PostgresStatements, InputOutputParameterOfAProcedureCall) {
  if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
  auto db = NewPostgresDatabase();
  db->SetName("ProcDb");
  db->ExecSQL("drop routine if exists vq_greet(varchar, integer)", nullptr, nullptr);
  db->ExecSQL(
      "create or replace function vq_greet(inout greeting varchar, inout n integer) "
      "language plpgsql as $$ begin greeting := 'hej ' || greeting; n := n * 2; end $$",
      nullptr, nullptr);
  TcsQuery q;
  q.SetDataBaseName(db->DataBaseName());
  q.SetSQLText("{call vq_greet(:greeting, :n)}");
  TParam& greeting = q.Params().ParamByName("greeting");
  greeting.SetParamType(ptInputOutput);
  greeting.SetAsString("v\xE4rlden");
  TParam& n = q.Params().ParamByName("n");
  n.SetParamType(ptInputOutput);
  n.SetAsInteger(21);
  q.ExecSQL();
  EXPECT_EQ(greeting.AsString(), "hej v\xE4rlden");
  EXPECT_EQ(greeting.Size(), 12);  // the bytes the driver returned, in UTF-8
  EXPECT_EQ(n.AsInteger(), 42);
}

}  // namespace
}  // namespace velquarn

namespace velquarn {
namespace {

TEST(AttachedDatasets, DisconnectReleasesTheirConnections) {
  auto db = NewSqliteDatabase(OdbcTestEnv::Get().NewSqliteFile("attached.db"));
  db->SetName("AttachedDb");
  db->ExecSQL("create table t (id integer)", nullptr, nullptr);
  db->ExecSQL("insert into t values (1)", nullptr, nullptr);
  db->ExecSQL("insert into t values (2)", nullptr, nullptr);
  TcsQuery first;
  TcsQuery second;
  for (TcsQuery* q : {&first, &second}) {
    q->SetDataBaseName(db->DataBaseName());
    q->SetSQLText("select id from t");
    q->Open();
    EXPECT_NE(q->Connection(), nullptr);
  }
  EXPECT_EQ(db->AttachedCount(), 2);
  EXPECT_NE(first.Connection(), second.Connection());
  db->Close();
  EXPECT_EQ(db->AttachedCount(), 0);
  EXPECT_EQ(first.Connection(), nullptr);
  EXPECT_EQ(second.Connection(), nullptr);
  EXPECT_EQ(db->ODBCDriver()->IdleCount(), 0);
}

TEST(AttachedDatasets, DestroyingTheDatabaseLeavesTheQueryWhole) {
  auto db = NewSqliteDatabase(OdbcTestEnv::Get().NewSqliteFile("attached2.db"));
  db->SetName("AttachedDb2");
  TcsQuery q;
  q.SetDataBaseName(db->DataBaseName());
  q.SetSQLText("select 1 as one");
  q.Open();
  EXPECT_EQ(db->AttachedCount(), 1);
  db.reset();
  EXPECT_EQ(q.Connection(), nullptr);
  EXPECT_EQ(q.Database(), nullptr);
}

}  // namespace
}  // namespace velquarn
