// The query dataset over the real ODBC drivers: SQLite always, PostgreSQL
// and MariaDB when their private servers run.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "dataset/query.h"
#include "support/backend_database.h"

namespace velquarn {
namespace {

using testing::BackendName;
using testing::NewBackendDatabase;
using testing::TBackend;

class QueryOdbc : public ::testing::TestWithParam<TBackend> {
 protected:
  void SetUp() override {
    db_ = NewBackendDatabase(GetParam(), "query");
    if (db_ == nullptr) GTEST_SKIP() << testing::BackendUnavailable(GetParam());
    static std::atomic<int> names{0};
    db_->SetName("QueryOdbcDb" + std::to_string(++names));
    db_->SetConnectionPoolSize(1);
    query_.SetDataBaseName(db_->DataBaseName());
    Exec("drop table if exists vq_q");
    Exec("create table vq_q (id integer, name varchar(20), note text)");
    for (int i = 1; i <= 5; ++i) {
      Exec("insert into vq_q values (" + std::to_string(i) + ", 'name" + std::to_string(i) +
           "', 'note " + std::to_string(i) + "')");
    }
  }
  void TearDown() override {
    if (db_ == nullptr) return;
    try {
      query_.Close();
      query_.ReleaseConnection(false);
      Exec("drop table if exists vq_q");
    } catch (...) {
    }
  }
  int Exec(const std::string& sql) { return db_->ExecSQL(sql, nullptr, nullptr); }
  int Id() { return query_.FieldByName("id").AsInteger(); }

  std::unique_ptr<TcsODBCDatabase> db_;
  TcsQuery query_;
};

TEST_P(QueryOdbc, WalksATableRowByRow) {
  query_.SetSQLText("select * from vq_q order by id");
  query_.Open();
  ASSERT_EQ(query_.FieldCount(), 3);
  EXPECT_EQ(query_.RecordCount(), 1);
  std::vector<int> ids;
  std::string notes;
  for (; !query_.Eof(); query_.Next()) {
    ids.push_back(Id());
    notes += query_.FieldByName("note").AsString() + ";";
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(notes, "note 1;note 2;note 3;note 4;note 5;");
  query_.First();
  EXPECT_EQ(Id(), 1);
  EXPECT_EQ(query_.FieldByName("name").Origin(), "name");
}

TEST_P(QueryOdbc, UniDirectionalKeepsOneRowAndOneSetOfLongValues) {
  query_.SetExecuteOptions(eoUniDirectional);
  query_.SetSQLText("select * from vq_q order by id");
  query_.Open();
  int rows = 0;
  for (; !query_.Eof(); query_.Next()) {
    ++rows;
    EXPECT_EQ(query_.RecordCount(), 1);
    const TField& note = query_.FieldByName("note");
    // SQLite reports text as a long type (a memo); PostgreSQL as a string.
    EXPECT_EQ(note.IsBlob() ? std::string(query_.BlobView(note)) : note.AsString(),
              "note " + std::to_string(rows));
  }
  EXPECT_EQ(rows, 5);
  if (query_.FieldByName("note").IsBlob()) {
    EXPECT_LE(query_.BlobList()->Count(), 1);
  }
}

TEST_P(QueryOdbc, PositionBeyondTheHeldRowsFetchesTheRest) {
  query_.SetSQLText("select id from vq_q order by id");
  query_.Open();
  query_.Next();
  query_.SetRecNo(10);
  EXPECT_EQ(Id(), 5);
  EXPECT_EQ(query_.RecordCount(), 5);
  EXPECT_TRUE(query_.EndOfResult());
}

TEST_P(QueryOdbc, ExecSQLCountsRowsAndParametersBind) {
  EXPECT_EQ(query_.ExecSQL("update vq_q set name = :n where id > :low"), 0);
  query_.Params().ParamByName("n").SetAsString("changed");
  query_.Params().ParamByName("low").SetAsInteger(2);
  EXPECT_EQ(query_.ExecSQL(), 3);
  EXPECT_EQ(query_.ExecSQL("delete from vq_q where id = 99"), 0);
  query_.SetSQLText("select count(*) from vq_q where name = 'changed'");
  query_.Open();
  EXPECT_EQ(query_.Fields(0).AsInteger(), 3);
}

TEST_P(QueryOdbc, UpdateThroughOpenGivesNoFields) {
  query_.SetSQLText("update vq_q set name = 'x' where id <= 2");
  query_.Open();
  EXPECT_EQ(query_.FieldCount(), 0);
  EXPECT_EQ(query_.RowsAffected(), 2);
  EXPECT_TRUE(query_.Eof());
  query_.Close();
  EXPECT_NE(query_.Connection(), nullptr);
}

TEST_P(QueryOdbc, CacheAllGivesTheConnectionBack) {
  query_.SetExecuteOptions(eoCacheAll);
  query_.SetSQLText("select id from vq_q");
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 5);
  EXPECT_EQ(query_.Connection(), nullptr);
  query_.Last();
  EXPECT_EQ(query_.RecNo(), 5);
}

TEST_P(QueryOdbc, LocateAndLocalDelete) {
  query_.SetQueryOptions(LocalEdit);
  query_.SetSQLText("select id, name from vq_q order by id");
  query_.Open();
  EXPECT_TRUE(query_.Locate("name", TVariant("NAME4"), loCaseInsensitive));
  EXPECT_EQ(Id(), 4);
  EXPECT_TRUE(query_.Locate("id", TVariant(2), 0));
  query_.Delete();
  EXPECT_EQ(Id(), 3);
  EXPECT_EQ(query_.RecordCount(), 4);
  // Nothing was written. The MariaDB driver counts the rows an update
  // changed, not those it matched (unless the connection string has
  // OPTION=2, the FOUND_ROWS flag), so there the row is found by a count.
  if (GetParam() == TBackend::kMariaDb) {
    EXPECT_EQ(Exec("update vq_q set id = id where id = 2"), 0);
    EXPECT_EQ(Exec("update vq_q set id = 20 where id = 2"), 1);
  } else {
    EXPECT_EQ(Exec("update vq_q set id = id where id = 2"), 1);
  }
}

TEST_P(QueryOdbc, NewStatementRunsOnTheSameConnection) {
  query_.SetSQLText("select id from vq_q");
  query_.Open();
  TConnectionHandle* connection = query_.Connection();
  query_.SetSQLText("select name from vq_q where id = :id");
  query_.Params().ParamByName("id").SetAsInteger(3);
  EXPECT_EQ(query_.Connection(), connection);
  query_.Open();
  EXPECT_EQ(query_.Connection(), connection);
  EXPECT_EQ(query_.Fields(0).AsString(), "name3");
  query_.Refresh();
  EXPECT_EQ(query_.Fields(0).AsString(), "name3");
}

TEST_P(QueryOdbc, Cp1252TextRoundTrips) {
  query_.SetSQLText("insert into vq_q (id, name) values (6, :n)");
  query_.Params().ParamByName("n").SetAsString("\xE5\xE4\xF6 \x80");
  query_.ExecSQL();
  query_.SetSQLText("select name from vq_q where id = 6");
  query_.Open();
  EXPECT_EQ(query_.Fields(0).AsString(), "\xE5\xE4\xF6 \x80");
}

INSTANTIATE_TEST_SUITE_P(Drivers, QueryOdbc, testing::AllBackends(), BackendName);

}  // namespace
}  // namespace velquarn
