#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/string_list.h"
#include "dataset/sql_errors.h"
#include "odbc/odbc_catalog_names.h"
#include "odbc_test_util.h"

namespace velquarn {
namespace {

using testing::MariaDbAvailable;
using testing::MariaDbSetting;
using testing::NewMariaDbDatabase;
using testing::NewPostgresDatabase;
using testing::NewSqliteDatabase;
using testing::OdbcTestEnv;
using testing::PostgresAvailable;

std::vector<std::string> Lines(const TStringList& list) { return list.Items(); }

TEST(QualifiedName, Splits) {
  auto check = [](const std::string& text, const char* catalog, const char* schema,
                  const char* table) {
    TQualifiedName name = SplitQualifiedName(text);
    EXPECT_EQ(name.catalog, catalog) << text;
    EXPECT_EQ(name.schema, schema) << text;
    EXPECT_EQ(name.table, table) << text;
  };
  check("ORDERS", "", "", "ORDERS");
  check("LIB.ORDERS", "", "LIB", "ORDERS");
  check("CAT.LIB.ORDERS", "CAT", "LIB", "ORDERS");
  check("LIB.\"MY.TABLE\"", "", "LIB", "MY.TABLE");
  check("\"A.B\"", "", "", "A.B");
  check("\"say \"\"hi\"\"\"", "", "", "say \"hi\"");
  check("\"broken", "", "", "\"broken");
}

TEST(ProcedureName, SplitsIntoAtMostThreeParts) {
  // Quoted parts in brackets.
  auto parts = [](const std::string& text, char quote = '"') {
    std::vector<std::string> result;
    for (const TNamePart& part : SplitProcedureName(text, quote)) {
      result.push_back(part.quoted ? "[" + part.text + "]" : part.text);
    }
    return result;
  };
  using Parts = std::vector<std::string>;
  EXPECT_EQ(parts("p_modes"), (Parts{"p_modes"}));
  EXPECT_EQ(parts(" lib . p "), (Parts{"lib", "p"}));
  EXPECT_EQ(parts("cat.lib.p"), (Parts{"cat", "lib", "p"}));
  EXPECT_EQ(parts("lib.\"My.Proc\""), (Parts{"lib", "[My.Proc]"}));
  EXPECT_EQ(parts("\"say \"\"hi\"\"\" "), (Parts{"[say \"hi\"]"}));
  EXPECT_EQ(parts("`db`.`p``1`", '`'), (Parts{"[db]", "[p`1]"}));
  EXPECT_EQ(parts("\"lib\".`p`", '`'), (Parts{"[lib]", "[p]"}));
  // Bytes above 127 are letters, not blanks.
  EXPECT_EQ(parts("lib.\xe9t\xe9"), (Parts{"lib", "\xe9t\xe9"}));
  for (const char* bad :
       {"", "  ", "a..b", "a.", ".a", "\"open", "\"a\"b", "a\"b", "\"\"", "a.b.c.d", "p(1)\"x\""}) {
    EXPECT_TRUE(parts(bad).empty()) << bad;
  }
}

TEST(Catalog, DataSourcesWithoutConnecting) {
  OdbcTestEnv::Get();
  TcsODBCDatabase db;
  TStringList list;
  list.Add("stale");
  db.ODBCDriver()->GetDataSourceNames(list, "", 30, 8888);
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(list.IndexOf("stale"), -1);
  int sqlite = 0;
  for (const std::string& name : Lines(list)) sqlite += name == OdbcTestEnv::kSqliteDsn;
  EXPECT_EQ(sqlite, 1);
  if (PostgresAvailable()) {
    EXPECT_GE(list.IndexOf(OdbcTestEnv::kPostgresDsn), 0);
  }
}

TEST(Catalog, SqliteTablesIndexesAndKeys) {
  auto db = NewSqliteDatabase(OdbcTestEnv::Get().NewSqliteFile("catalog.db"));
  db->ExecSQL("create table orders (id integer primary key, a integer, b integer)", nullptr,
              nullptr);
  db->ExecSQL("create view order_view as select * from orders", nullptr, nullptr);
  db->ExecSQL("create index ix_ab on orders (a, b)", nullptr, nullptr);
  TStringList list;
  db->GetTableNames("", "%", list, false, false);
  EXPECT_GE(list.IndexOf("orders"), 0);
  EXPECT_GE(list.IndexOf("order_view"), 0);
  db->GetIndexNames("orders", list);
  int seen = 0;
  for (const std::string& name : Lines(list)) seen += name == "ix_ab";
  EXPECT_EQ(seen, 1);
  db->GetIndexFields("orders", "ix_ab", list);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "b"}));
  db->GetIndexFields("orders", "IX_AB", list);
  EXPECT_EQ(list.Count(), 0);
  db->ExecSQL("create table keyed (code varchar(10) primary key, n integer)", nullptr, nullptr);
  db->GetDefaultIndexFields("keyed", list);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"code"}));
  // The main connection's statement is free again.
  EXPECT_EQ(db->ExecSQL("update orders set a = 1", nullptr, nullptr), 0);
}

class PostgresCatalog : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster";
    db_ = NewPostgresDatabase();
    Exec("drop schema if exists vq_lib1 cascade");
    Exec("drop schema if exists vq_lib2 cascade");
    Exec("create schema vq_lib1");
    Exec("create schema vq_lib2");
    Exec("create table vq_lib1.orders (id integer primary key, a integer, b integer)");
    Exec("create table vq_lib1.\"A.B\" (x integer)");
    Exec("create view vq_lib1.order_view as select * from vq_lib1.orders");
    Exec("create table vq_lib2.other (y integer)");
    Exec("create index ix_ab on vq_lib1.orders (a asc, b desc)");
    Exec("create index ix_ba on vq_lib1.orders (a desc, b asc)");
  }
  void TearDown() override {
    if (db_ == nullptr) return;
    Exec("drop schema if exists vq_lib1 cascade");
    Exec("drop schema if exists vq_lib2 cascade");
  }
  void Exec(const std::string& sql) { db_->ExecSQL(sql, nullptr, nullptr); }
  std::unique_ptr<TcsODBCDatabase> db_;
};

TEST_F(PostgresCatalog, TablesOfTheRequestedSchemaComeBackUnqualified) {
  TStringList list;
  db_->GetTableNames("vq_lib1", "%", list, false, false);
  EXPECT_GE(list.IndexOf("orders"), 0);
  EXPECT_GE(list.IndexOf("order_view"), 0);
  EXPECT_GE(list.IndexOf("\"A.B\""), 0);
  EXPECT_EQ(list.IndexOf("other"), -1);
  // A schema pattern reaches other schemas, whose tables come qualified.
  db_->GetTableNames("vq_lib%", "o%", list, false, false);
  EXPECT_GE(list.IndexOf("vq_lib1.orders"), 0);
  EXPECT_GE(list.IndexOf("vq_lib2.other"), 0);
}

TEST_F(PostgresCatalog, DatabaseNameParameterIsTheDefaultSchema) {
  auto db = NewPostgresDatabase();
  db->Params().Add("Database Name=vq_lib1");
  TStringList list;
  db->GetTableNames("", "%", list, false, false);
  EXPECT_GE(list.IndexOf("orders"), 0);
  EXPECT_EQ(list.IndexOf("other"), -1);
}

TEST_F(PostgresCatalog, SchemasAreTheDatabaseNames) {
  TStringList list;
  db_->GetDatabaseNames(list);
  EXPECT_GE(list.IndexOf("vq_lib1"), 0);
  EXPECT_GE(list.IndexOf("public"), 0);
}

TEST_F(PostgresCatalog, IndexNamesOnceAndFieldsWithTheLastDirection) {
  TStringList list;
  db_->GetIndexNames("vq_lib1.orders", list);
  int ab = 0;
  for (const std::string& name : Lines(list)) ab += name == "ix_ab";
  EXPECT_EQ(ab, 1);
  EXPECT_GE(list.IndexOf("ix_ba"), 0);
  EXPECT_GE(list.IndexOf("orders_pkey"), 0);
  db_->GetIndexFields("vq_lib1.orders", "ix_ab", list);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "b DESC"}));
  db_->GetIndexFields("vq_lib1.orders", "ix_ba", list);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"a", "b"}));
  db_->GetIndexFields("vq_lib1.orders", "IX_AB", list);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(PostgresCatalog, DefaultIndexFieldsAsTheDriverAnswers) {
  // The PostgreSQL driver names no best row identifier for a table without
  // object ids: the list is cleared and stays empty.
  TStringList list;
  list.Add("stale");
  db_->GetDefaultIndexFields("vq_lib1.orders", list);
  EXPECT_EQ(list.Count(), 0);
}

// The driver's SQLProcedureColumns answer, kept only when it names one
// procedure unambiguously.
TEST_F(PostgresCatalog, ProcedureParameterDirectionsInTheirOrder) {
  Exec(
      "create procedure vq_lib1.p_modes(in a int, out b text, inout c text) language plpgsql "
      "as $$ begin b := a::text; end $$");
  // '_' is a wildcard to the driver; pxmodes must not join the answer.
  Exec("create procedure vq_lib1.pxmodes(inout a int) language plpgsql as $$ begin end $$");
  const std::vector<TParamType> modes{ptInput, ptOutput, ptInputOutput};
  std::vector<TParamType> types{ptResult};
  db_->GetProcedureParamTypes("vq_lib1.p_modes", types);
  EXPECT_EQ(types, modes);
  // Bare names fold to lower case as the server folds them; quoted ones
  // are taken as written.
  db_->GetProcedureParamTypes("VQ_LIB1.P_Modes", types);
  EXPECT_EQ(types, modes);
  db_->GetProcedureParamTypes("\"vq_lib1\".\"p_modes\"", types);
  EXPECT_EQ(types, modes);
  db_->GetProcedureParamTypes("vq_lib1.\"P_MODES\"", types);
  EXPECT_TRUE(types.empty());
  Exec("create procedure vq_lib1.\"Odd.Name\"(m int) language plpgsql as $$ begin end $$");
  db_->GetProcedureParamTypes("vq_lib1.\"Odd.Name\"", types);
  EXPECT_EQ(types, std::vector<TParamType>{ptInput});
  // Unqualified, the one procedure of that name is found.
  db_->GetProcedureParamTypes("p_modes", types);
  EXPECT_EQ(types, modes);
  // The same name in two schemas, and two overloads in one, are ambiguous.
  Exec("create procedure vq_lib2.p_modes(inout x int) language plpgsql as $$ begin end $$");
  db_->GetProcedureParamTypes("p_modes", types);
  EXPECT_TRUE(types.empty());
  db_->GetProcedureParamTypes("vq_lib2.p_modes", types);
  EXPECT_EQ(types, std::vector<TParamType>{ptInputOutput});
  Exec(
      "create procedure vq_lib2.p_modes(in x text, in y text) language plpgsql as $$ begin end $$");
  db_->GetProcedureParamTypes("vq_lib2.p_modes", types);
  EXPECT_TRUE(types.empty());
  // Unknown, and not a name at all.
  db_->GetProcedureParamTypes("vq_lib1.no_such_procedure", types);
  EXPECT_TRUE(types.empty());
  db_->GetProcedureParamTypes("vq_lib1..p_modes", types);
  EXPECT_TRUE(types.empty());
  // The main connection's statement is free again.
  Exec("call vq_lib1.pxmodes(1)");
}

TEST(Catalog, SqliteReportsNoProcedureParameters) {
  auto db = NewSqliteDatabase(OdbcTestEnv::Get().NewSqliteFile("procedures.db"));
  std::vector<TParamType> types{ptInput};
  db->GetProcedureParamTypes("p", types);
  EXPECT_TRUE(types.empty());
}

// MariaDB has no schemas: the one qualifier is the database, which the
// driver takes as the catalog.
TEST(Catalog, MariaDbProcedureParametersByDatabase) {
  if (!MariaDbAvailable()) GTEST_SKIP() << "no MariaDB server";
  auto db = NewMariaDbDatabase();
  db->ExecSQL("drop procedure if exists vq_p_modes", nullptr, nullptr);
  db->ExecSQL("create procedure vq_p_modes(in a int, out b text, inout c text) set b = a", nullptr,
              nullptr);
  const std::vector<TParamType> modes{ptInput, ptOutput, ptInputOutput};
  std::vector<TParamType> types;
  db->GetProcedureParamTypes("vq_p_modes", types);
  EXPECT_EQ(types, modes);
  db->GetProcedureParamTypes("`" + MariaDbSetting("DATABASE") + "`.VQ_P_MODES", types);
  EXPECT_EQ(types, modes);
  db->GetProcedureParamTypes("no_such_database.vq_p_modes", types);
  EXPECT_TRUE(types.empty());
  db->ExecSQL("drop procedure vq_p_modes", nullptr, nullptr);
}

TODBCEntryPoints g_real_catalog{};

SQLRETURN SQL_API FailingTypeColumnBind(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type,
                                        SQLPOINTER value, SQLLEN length, SQLLEN* indicator) {
  if (column == 7) return SQL_ERROR;
  return g_real_catalog.SQLBindCol(stmt, column, type, value, length, indicator);
}

SQLRETURN SQL_API NoDiagnostics(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*,
                                SQLCHAR*, SQLSMALLINT, SQLSMALLINT*) {
  return SQL_NO_DATA;
}

TEST(Catalog, FailedQueryUnbindsAndClosesTheMainStatement) {
  auto db = NewSqliteDatabase(OdbcTestEnv::Get().NewSqliteFile("catalog_failure.db"));
  db->ExecSQL("create table t (a integer, b integer)", nullptr, nullptr);
  db->ExecSQL("create index ix_t on t (a)", nullptr, nullptr);
  TStringList list;
  {
    LoadODBC();
    g_real_catalog = ODBC();
    TODBCEntryPoints table = g_real_catalog;
    table.SQLBindCol = &FailingTypeColumnBind;
    table.SQLGetDiagRec = &NoDiagnostics;
    odbc_testing::ScopedEntryPoints fakes(table);
    try {
      db->GetIndexNames("t", list);
      FAIL() << "the bind failure was not raised";
    } catch (const EcsSQLError& error) {
      EXPECT_EQ(error.Message(), "General SQL Error");
    }
  }
  // A cursor left open would refuse the next statement; a column left bound
  // would be written into a buffer that no longer exists.
  EXPECT_EQ(db->ExecSQL("insert into t values (1, 2)", nullptr, nullptr), 1);
  db->GetIndexNames("t", list);
  EXPECT_GE(list.IndexOf("ix_t"), 0);
}

}  // namespace
}  // namespace velquarn
