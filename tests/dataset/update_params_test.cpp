// Writing rows with generated SQL, seen from the driver: the text and the
// parameter values that reach it. The effects on real databases are tested
// in update_sql_odbc_test.cpp.
#include "dataset/update_params.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "dataset/query.h"
#include "dataset/sql_update.h"
#include "dataset/update_sql.h"
#include "fake_sql_driver.h"

namespace velquarn {
namespace {

using testing::FakeDatabase;

class GeneratedSQL : public ::testing::Test {
 protected:
  GeneratedSQL() : db_("GeneratedSqlDb") {
    db_.Driver().columns = {{"ID", ftInteger}, {"NAME", ftString, 10}, {"QTY", ftInteger},
                            {"NOTES", ftMemo}};
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
  // The parameters of the last statement as name=value lines ("null").
  std::string LastParams() {
    const TParams& params = db_.Driver().params_seen.back();
    std::string text;
    for (int i = 0; i < params.Count(); ++i) {
      text += params.Items(i).Name() + "=" +
              (params.Items(i).IsNull() ? "null" : params.Items(i).AsString()) + ";";
    }
    return text;
  }
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
  EXPECT_EQ(LastStatement(), "update \"dbo\".\"Orders\" set \"NAME\"=? where  \"ID\"=? and "
                             "\"NAME\"=? ");
  EXPECT_EQ(LastParams(), "NAME=gamma;OLD_ID=1;OLD_NAME=alpha;");
  EXPECT_FALSE(db_.Driver().with_dataset.back());
  EXPECT_EQ(db_.Driver().params_seen.back().Items(1).DataType(), ftInteger);
  EXPECT_EQ(query_.FieldByName("NAME").AsString(), "gamma");
}

TEST_F(GeneratedSQL, NullOldValueBecomesIsNullAndMemoStaysOutOfTheWhere) {
  Update().SetUpdateMode(upWhereAll);
  query_.Open();
  query_.Next();
  query_.Edit();
  query_.FieldByName("QTY").SetAsInteger(7);
  query_.Post();
  EXPECT_EQ(LastStatement(), "update \"dbo\".\"Orders\" set \"QTY\"=? where  \"ID\"=? and "
                             "\"NAME\"=? and \"QTY\"=? ");
  EXPECT_EQ(LastParams(), "QTY=7;OLD_ID=2;OLD_NAME=beta;OLD_QTY=null;");

  Update().SetUpdateMode(upWhereChanged);
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("b2");
  query_.FieldByName("NOTES").SetAsString("note");
  query_.Post();
  EXPECT_EQ(LastStatement(), "update \"dbo\".\"Orders\" set \"NAME\"=? , \"NOTES\"=? where  "
                             "\"ID\"=? and \"NAME\"=? ");
  EXPECT_EQ(LastParams(), "NAME=b2;NOTES=note;OLD_ID=2;OLD_NAME=beta;");
}

TEST_F(GeneratedSQL, ChangedIsNullConditionForANullOldValue) {
  query_.Open();
  query_.Next();
  query_.Edit();
  query_.FieldByName("QTY").SetAsInteger(3);
  query_.Post();
  EXPECT_EQ(LastStatement(), "update \"dbo\".\"Orders\" set \"QTY\"=? where  \"ID\"=? and "
                             "\"QTY\" is null ");
  EXPECT_EQ(LastParams(), "QTY=3;OLD_ID=2;");
}

TEST_F(GeneratedSQL, AnEditThatChangesNothingSendsNothing) {
  query_.Open();
  const int before = Statements();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("alpha   ");  // trailing blanks do not count
  query_.Post();
  EXPECT_EQ(Statements(), before);
}

TEST_F(GeneratedSQL, InsertAndDelete) {
  query_.Open();
  query_.Append();
  query_.FieldByName("ID").SetAsInteger(3);
  query_.FieldByName("NAME").SetAsString("gamma");
  query_.Post();
  EXPECT_EQ(LastStatement(), "insert into \"dbo\".\"Orders\" (\"ID\" , \"NAME\" , \"QTY\" , "
                             "\"NOTES\") Values(? , ? , ? , ?) ");
  EXPECT_EQ(LastParams(), "ID=3;NAME=gamma;QTY=null;NOTES=null;");

  query_.First();
  query_.Delete();
  EXPECT_EQ(LastStatement(), "delete from \"dbo\".\"Orders\" where  \"ID\"=? ");
  EXPECT_EQ(LastParams(), "OLD_ID=1;");
  EXPECT_EQ(query_.RecordCount(), 2);
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

TEST_F(GeneratedSQL, NoRowAffectedFailsAndKeepsTheHeldRow) {
  query_.Open();
  db_.Driver().rows_affected = 0;
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("gamma");
  try {
    query_.Post();
    FAIL() << "no error";
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), kNoRowsAffected);
  }
  query_.Cancel();
  EXPECT_EQ(query_.FieldByName("NAME").AsString(), "alpha");
  EXPECT_THROW(query_.Delete(), EDatabaseError);
  EXPECT_EQ(query_.RecordCount(), 2);
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

TEST_F(GeneratedSQL, UpdateObjectAndUpdateParamsExcludeEachOther) {
  TSQLUpdate sql_update;
  sql_update.SetDataSet(&query_);
  EXPECT_EQ(query_.UpdateObject(), &sql_update);
  EXPECT_EQ(query_.UpdateParams(), nullptr);

  AssignUpdateParams(query_, &update_);
  EXPECT_EQ(query_.UpdateObject(), nullptr);
  ASSERT_NE(query_.UpdateParams(), nullptr);
  EXPECT_EQ(Update().TableName(), "dbo.Orders");

  AssignUpdateParams(query_, nullptr);
  EXPECT_EQ(query_.UpdateParams(), nullptr);
  EXPECT_FALSE(query_.CanModify());
}

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
