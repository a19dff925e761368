// Writing rows with generated SQL: first seen from the driver (the text and
// the parameter values that reach it, through a recording driver), then
// against the real SQLite and PostgreSQL drivers (what ends up in the
// table).
#include "dataset/update_params.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "dataset/query.h"
#include "dataset/sql_errors.h"
#include "dataset/update_sql.h"
#include "fake_sql_driver.h"
#include "support/backend_database.h"

namespace velquarn {
namespace {

using testing::BackendName;
using testing::FakeDatabase;
using testing::TBackend;

class GeneratedSQL : public ::testing::Test {
 protected:
  GeneratedSQL() : db_("GeneratedSqlDb") {
    db_.Driver().columns = {
        {"ID", ftInteger}, {"NAME", ftString, 10}, {"QTY", ftInteger}, {"NOTES", ftMemo}};
    db_.Driver().rows = {{1, "alpha", 5, "first"}, {2, "beta", TVariant(), TVariant()}};
    query_.SetDataBaseName(db_.Name());
    query_.SetSQLText("select * from Orders");
    update_.SetTableName("dbo.Orders");
    update_.KeyFields().Add("ID");
    update_.UpdateFields().SetText("ID\r\nNAME\r\nQTY\r\nNOTES\r\n");
    AssignUpdateParams(query_, &update_);
  }

  TUpdateParams& Update() { return *dynamic_cast<TUpdateParams*>(query_.UpdateParams()); }
  const std::string& LastStatement() { return db_.Driver().statements.back(); }
  std::string LastParams() { return db_.Driver().LastParamsText(); }
  int Statements() { return static_cast<int>(db_.Driver().statements.size()); }

  FakeDatabase db_;
  TcsQuery query_;
  TUpdateParams update_;
};

TEST_F(GeneratedSQL, EditSendsTheChangedFieldsWithOldValuesOnTheMainConnection) {
  query_.Open();
  const int before = Statements();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("gamma");
  query_.Post();

  ASSERT_EQ(Statements(), before + 1);
  EXPECT_EQ(LastStatement(),
            "update \"dbo\".\"Orders\" set \"NAME\"=? where  \"ID\"=? and "
            "\"NAME\"=? ");
  EXPECT_EQ(LastParams(), "NAME=gamma;OLD_ID=1;OLD_NAME=alpha;");
  EXPECT_FALSE(db_.Driver().with_dataset.back());
  EXPECT_EQ(db_.Driver().params_seen.back().Items(1).DataType(), ftInteger);
  EXPECT_EQ(query_.FieldByName("NAME").AsString(), "gamma");
}

TEST_F(GeneratedSQL, AnEditThatChangesNothingSendsNothing) {
  query_.Open();
  const int before = Statements();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("alpha   ");  // trailing blanks do not count
  query_.Post();
  EXPECT_EQ(Statements(), before);
}

TEST_F(GeneratedSQL, SuppressNullsOnInsert) {
  query_.SetQueryOptions(SuppressNullsOnInsert);
  query_.Open();
  query_.Append();
  query_.FieldByName("ID").SetAsInteger(3);
  query_.FieldByName("QTY").SetAsInteger(9);
  query_.Post();
  EXPECT_EQ(LastStatement(), "insert into \"dbo\".\"Orders\" (\"ID\" , \"QTY\") Values(? , ?) ");
  EXPECT_EQ(LastParams(), "ID=3;QTY=9;");

  const int before = Statements();
  const int rows = query_.RecordCount();
  query_.Append();
  try {
    query_.Post();
    FAIL() << "no error";
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), "Cannot insert into dbo.Orders: every update field is null");
  }
  EXPECT_EQ(Statements(), before);
  query_.Cancel();
  EXPECT_EQ(query_.RecordCount(), rows);
}

TEST_F(GeneratedSQL, UpdateErrorHandlerIsAskedOnceAndCanAbortSilently) {
  query_.Open();
  db_.Driver().rows_affected = 0;
  std::vector<std::string> calls;
  TUpdateAction answer = uaAbort;
  query_.OnUpdateError = [&](TDataSet& dataset, EDatabaseError& error, TUpdateKind kind,
                             TUpdateAction& action) {
    EXPECT_EQ(&dataset, &query_);
    EXPECT_EQ(action, uaFail);
    calls.push_back(error.Message() + " " + std::to_string(kind));
    action = answer;
  };
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("gamma");
  EXPECT_THROW(query_.Post(), EAbort);
  EXPECT_EQ(calls, std::vector<std::string>{std::string(kNoRowsAffected) + " 0"});

  for (TUpdateAction other : {uaFail, uaSkip, uaRetry, uaApplied}) {
    answer = other;
    calls.clear();
    try {
      query_.Post();
      FAIL() << "no error";
    } catch (const EAbort&) {
      FAIL() << "aborted for action " << other;
    } catch (const EDatabaseError& error) {
      EXPECT_EQ(error.Message(), kNoRowsAffected);
    }
    EXPECT_EQ(calls.size(), 1u);
  }
  query_.Cancel();
  answer = uaAbort;
  calls.clear();
  EXPECT_THROW(query_.Delete(), EAbort);
  EXPECT_EQ(calls, std::vector<std::string>{std::string(kNoRowsAffected) + " 2"});
}

// The rows of a statement as "v,v;v,v", null as "null".
std::string ReadRows(TcsCustomDatabase& db, const std::string& sql) {
  TcsQuery reader;
  reader.SetDataBaseName(db.DataBaseName());
  reader.SetSQLText(sql);
  reader.Open();
  std::string text;
  for (; !reader.Eof(); reader.Next()) {
    if (!text.empty()) text += ";";
    for (int i = 0; i < reader.FieldCount(); ++i) {
      if (i > 0) text += ",";
      text += reader.Fields(i).IsNull() ? "null" : reader.Fields(i).AsString();
    }
  }
  return text;
}

// A table "UpdOrders" (ID, NAME, QTY with default 7, NOTES long text) with
// the rows 1,alpha,5,first and 2,beta,null,null on a real database, and a
// query over it that writes through generated SQL.
class RealGeneratedSQL : public ::testing::TestWithParam<TBackend> {
 protected:
  void SetUp() override {
    std::string long_text = "text";
    db_ = testing::NewBackendDatabase(GetParam(), "update_params_");
    if (db_ == nullptr) GTEST_SKIP() << testing::BackendUnavailable(GetParam());
    schema_ = testing::BackendSchema(GetParam());
    db_->SetName("RealGeneratedSQL");
    Exec("drop table if exists \"UpdOrders\"");
    Exec(
        "create table \"UpdOrders\" (\"ID\" integer primary key, \"NAME\" varchar(20), "
        "\"QTY\" integer default 7, \"NOTES\" " +
        long_text + ")");
    Exec("insert into \"UpdOrders\" values (1, 'alpha', 5, 'first'), (2, 'beta', null, null)");
    query_.SetDataBaseName(db_->DataBaseName());
    query_.SetSQLText(Sql("select * from \"UpdOrders\" order by \"ID\""));
    TUpdateParams update;
    update.SetTableName(schema_ + ".UpdOrders");
    update.KeyFields().Add("ID");
    update.UpdateFields().SetText("ID\r\nNAME\r\nQTY\r\nNOTES\r\n");
    AssignUpdateParams(query_, &update);
  }
  void TearDown() override {
    if (db_ == nullptr) return;
    query_.Close();
    if (db_->Connected() && db_->InTransaction()) db_->Rollback();
    Exec("drop table if exists \"UpdOrders\"");
    Exec("drop table if exists \"b.c\"");
  }

  void Exec(const std::string& sql) { db_->ExecSQL(Sql(sql), nullptr, nullptr); }
  std::string Sql(const std::string& sql) const { return testing::BackendSql(GetParam(), sql); }
  std::string Rows() {
    return ReadRows(*db_, Sql("select \"ID\", \"NAME\", \"QTY\", \"NOTES\" from "
                              "\"UpdOrders\" order by \"ID\""));
  }
  TUpdateParams& Update() { return *dynamic_cast<TUpdateParams*>(query_.UpdateParams()); }
  void EditName(const std::string& name) {
    query_.Edit();
    query_.FieldByName("NAME").SetAsString(name);
    query_.Post();
  }

  std::unique_ptr<TcsODBCDatabase> db_;  // declared first: outlives the query
  std::string schema_;
  TcsQuery query_;
};

TEST_P(RealGeneratedSQL, EditInsertAndDeleteReachTheTable) {
  query_.Open();
  EditName("gamma");
  query_.Append();
  query_.FieldByName("ID").SetAsInteger(3);
  query_.FieldByName("NAME").SetAsString("delta");
  query_.FieldByName("QTY").SetAsInteger(4);
  query_.Post();
  query_.First();
  query_.Next();
  ASSERT_EQ(query_.FieldByName("ID").AsInteger(), 2);
  query_.Delete();

  EXPECT_EQ(Rows(), "1,gamma,5,first;3,delta,4,null");
  EXPECT_EQ(query_.RecordCount(), 2);
}

TEST_P(RealGeneratedSQL, NullOldValuesAreFoundInEveryWhereMode) {
  query_.Open();
  query_.Next();
  query_.Edit();
  query_.FieldByName("QTY").SetAsInteger(3);
  query_.Post();  // where ... "QTY" is null
  EXPECT_EQ(Rows(), "1,alpha,5,first;2,beta,3,null");

  Exec("update \"UpdOrders\" set \"QTY\" = null where \"ID\" = 2");
  query_.Refresh();
  Update().SetUpdateMode(upWhereAll);
  query_.Last();
  EditName("b2");
  EXPECT_EQ(Rows(), "1,alpha,5,first;2,b2,null,null");
  query_.Delete();
  EXPECT_EQ(Rows(), "1,alpha,5,first");
}

TEST_P(RealGeneratedSQL, WhereAllSetsAMemoWithoutComparingIt) {
  query_.Open();
  if (query_.FieldByName("NOTES").DataType() != ftMemo) {
    GTEST_SKIP() << "the driver reports this long text column as a plain string";
  }
  Update().SetUpdateMode(upWhereAll);
  query_.Edit();
  query_.FieldByName("NOTES").SetAsString(std::string(20000, 'n'));
  query_.FieldByName("NAME").SetAsString("long");
  query_.Post();
  EXPECT_EQ(Rows(), "1,long,5," + std::string(20000, 'n') + ";2,beta,null,null");
}

TEST_P(RealGeneratedSQL, SuppressNullsOnInsertLetsColumnDefaultsApply) {
  query_.Open();
  query_.SetQueryOptions(SuppressNullsOnInsert);
  query_.Append();
  query_.FieldByName("ID").SetAsInteger(3);
  query_.FieldByName("NAME").SetAsString("delta");
  query_.Post();
  query_.SetQueryOptions(0);
  query_.Append();
  query_.FieldByName("ID").SetAsInteger(4);
  query_.Post();
  EXPECT_EQ(Rows(), "1,alpha,5,first;2,beta,null,null;3,delta,7,null;4,null,null,null");
}

TEST_P(RealGeneratedSQL, TableNamesSplitAtTheFirstDotOnly) {
  Exec("create table \"b.c\" (\"ID\" integer primary key, \"NAME\" varchar(20))");
  Exec("insert into \"b.c\" values (1, 'one')");
  TcsQuery query;
  query.SetDataBaseName(db_->DataBaseName());
  query.SetSQLText(Sql("select * from \"b.c\""));
  TUpdateParams update;
  update.SetTableName(schema_ + ".b.c");
  update.KeyFields().Add("ID");
  update.UpdateFields().SetText("ID\r\nNAME\r\n");
  AssignUpdateParams(query, &update);
  query.Open();
  query.Edit();
  query.FieldByName("NAME").SetAsString("uno");
  query.Post();
  query.Close();
  EXPECT_EQ(ReadRows(*db_, Sql("select * from \"b.c\"")), "1,uno");
}

TEST_P(RealGeneratedSQL, ARowGoneFromTheTableFailsTheWrite) {
  query_.Open();
  Exec("delete from \"UpdOrders\" where \"ID\" = 1");
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("gamma");
  try {
    query_.Post();
    FAIL() << "no error";
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), kNoRowsAffected);
  }
  int calls = 0;
  query_.OnUpdateError = [&calls](TDataSet&, EDatabaseError& error, TUpdateKind kind,
                                  TUpdateAction& action) {
    ++calls;
    EXPECT_EQ(error.Message(), kNoRowsAffected);
    EXPECT_EQ(kind, ukModify);
    action = uaAbort;
  };
  EXPECT_THROW(query_.Post(), EAbort);
  EXPECT_EQ(calls, 1);
  query_.Cancel();
  EXPECT_EQ(query_.FieldByName("NAME").AsString(), "alpha");
  EXPECT_EQ(Rows(), "2,beta,null,null");
}

TEST_P(RealGeneratedSQL, DriverErrorsReachTheHandlerAndPassThrough) {
  query_.Open();
  std::vector<std::string> messages;
  TUpdateAction answer = uaFail;
  query_.OnUpdateError = [&](TDataSet&, EDatabaseError& error, TUpdateKind kind,
                             TUpdateAction& action) {
    messages.push_back(error.Message());
    EXPECT_EQ(kind, ukInsert);
    action = answer;
  };
  query_.Append();
  query_.FieldByName("ID").SetAsInteger(2);  // a duplicate key
  std::string driver_message;
  try {
    query_.Post();
    FAIL() << "no error";
  } catch (const EcsSQLError& error) {
    driver_message = error.Message();
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], driver_message);
  answer = uaAbort;
  EXPECT_THROW(query_.Post(), EAbort);
  EXPECT_EQ(messages.size(), 2u);
  query_.Cancel();
  EXPECT_EQ(Rows(), "1,alpha,5,first;2,beta,null,null");
}

TEST_P(RealGeneratedSQL, EditsInsideARolledBackTransactionLeaveNoTrace) {
  query_.Open();
  db_->StartTransaction();
  EditName("gamma");
  query_.Last();
  query_.Delete();
  query_.Append();
  query_.FieldByName("ID").SetAsInteger(5);
  query_.Post();
  db_->Rollback();
  EXPECT_EQ(Rows(), "1,alpha,5,first;2,beta,null,null");

  // The query still holds what it wrote; it reads the table again.
  query_.Close();
  query_.Open();
  db_->StartTransaction();
  EditName("kept");
  db_->Commit();
  EXPECT_EQ(Rows(), "1,kept,5,first;2,beta,null,null");
}

INSTANTIATE_TEST_SUITE_P(Drivers, RealGeneratedSQL, testing::AllBackends(), BackendName);

TEST(UpdateParams, AssignCopiesAllFourAndNullListsClear) {
  TUpdateParams source;
  source.SetTableName("dbo.Orders");
  source.KeyFields().Add("ID");
  source.UpdateFields().SetText("ID\r\nNAME\r\n");
  source.SetUpdateMode(upWhereAll);
  TUpdateParams copy;
  EXPECT_EQ(copy.UpdateMode(), upWhereChanged);
  EXPECT_FALSE(copy.CanWrite());
  copy.Assign(source);
  EXPECT_EQ(copy.TableName(), "dbo.Orders");
  EXPECT_EQ(copy.KeyFields().Text(), "ID\r\n");
  EXPECT_EQ(copy.UpdateFields().Text(), "ID\r\nNAME\r\n");
  EXPECT_EQ(copy.UpdateMode(), upWhereAll);
  EXPECT_TRUE(copy.CanWrite());

  source.UpdateFields().Add("MORE");
  EXPECT_EQ(copy.UpdateFields().Count(), 2);  // a copy, not shared
  copy.SetKeyFields(nullptr);
  EXPECT_TRUE(copy.KeyFields().Empty());
  copy.SetKeyFields(&source.UpdateFields());
  EXPECT_EQ(copy.KeyFields().Count(), 3);
}

}  // namespace
}  // namespace velquarn
