// Hand-written update statements: seen from the driver (which text runs for
// each kind and what its parameters are bound to), then against the real
// SQLite and PostgreSQL drivers.
#include "dataset/sql_update.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/exceptions.h"
#include "dataset/data_link.h"
#include "dataset/query.h"
#include "dataset/update_params.h"
#include "dataset/update_sql.h"
#include "fake_sql_driver.h"
#include "support/backend_database.h"

namespace velquarn {
namespace {

using testing::BackendName;
using testing::FakeDatabase;
using testing::TBackend;

class HandWrittenSQL : public ::testing::Test {
 protected:
  HandWrittenSQL() : db_("HandWrittenDb") {
    db_.Driver().columns = {{"ID", ftInteger}, {"NAME", ftString, 10}};
    db_.Driver().rows = {{1, "alpha"}, {2, "beta"}};
    query_.SetDataBaseName(db_.Name());
    query_.SetSQLText("select * from Orders");
    update_.ModifySQL().SetText("update Orders set NAME=:NAME\r\nwhere ID=:OLD_ID");
    update_.InsertSQL().SetText(
        "insert into Orders (ID, NAME, CUSTOMER) values (:ID, :NAME, :CUST)");
    update_.DeleteSQL().SetText("delete from Orders where ID=:old_id and :NOBODY is null");
    update_.SetDataSet(&query_);
  }

  std::string LastParams() { return db_.Driver().LastParamsText(); }
  const std::string& LastStatement() { return db_.Driver().statements.back(); }

  FakeDatabase db_;
  TcsQuery query_;
  TSQLUpdate update_;
};

TEST_F(HandWrittenSQL, EachKindRunsItsStatementWithOldAndNewValues) {
  query_.Open();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("gamma");
  query_.Post();
  EXPECT_EQ(LastStatement(), "update Orders set NAME=? where ID=? ");
  EXPECT_EQ(LastParams(), "NAME=gamma;OLD_ID=1;");
  EXPECT_FALSE(db_.Driver().with_dataset.back());

  query_.Append();
  query_.FieldByName("ID").SetAsInteger(3);
  query_.FieldByName("NAME").SetAsString("delta");
  query_.Post();
  EXPECT_EQ(LastStatement(), "insert into Orders (ID, NAME, CUSTOMER) values (?, ?, ?) ");
  EXPECT_EQ(LastParams(), "ID=3;NAME=delta;CUST=null;");  // no field: unbound

  query_.First();
  query_.Next();
  query_.Delete();
  EXPECT_EQ(LastStatement(), "delete from Orders where ID=? and ? is null ");
  EXPECT_EQ(LastParams(), "old_id=2;NOBODY=null;");
  EXPECT_EQ(query_.RecordCount(), 2);
}

TEST_F(HandWrittenSQL, AChangedTextIsTakenAtTheNextWrite) {
  query_.Open();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("gamma");
  query_.Post();
  update_.ModifySQL().SetText("update Orders set NAME=:NAME where ID=:OLD_ID and NAME=:OLD_NAME");
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("delta");
  query_.Post();
  EXPECT_EQ(LastStatement(), "update Orders set NAME=? where ID=? and NAME=? ");
  EXPECT_EQ(LastParams(), "NAME=delta;OLD_ID=1;OLD_NAME=gamma;");
  EXPECT_EQ(update_.Query(ukModify).Params().Count(), 3);
}

TEST_F(HandWrittenSQL, AnUpdateObjectServesOneQueryAtATime) {
  TcsQuery other;
  other.SetDataBaseName(db_.Name());
  TUpdateParams generated;
  generated.SetTableName("Orders");
  AssignUpdateParams(other, &generated);

  update_.SetDataSet(&other);
  EXPECT_EQ(query_.UpdateObject(), nullptr);
  EXPECT_EQ(other.UpdateObject(), &update_);
  EXPECT_EQ(other.UpdateParams(), nullptr);  // generated SQL discarded
  EXPECT_EQ(update_.DataSet(), &other);

  {
    TSQLUpdate short_lived;
    short_lived.SetDataSet(&query_);
    EXPECT_EQ(query_.UpdateObject(), &short_lived);
  }
  EXPECT_EQ(query_.UpdateObject(), nullptr);

  update_.SetDataSet(nullptr);
  EXPECT_EQ(other.UpdateObject(), nullptr);

  update_.SetDataSet(&other);
  AssignUpdateParams(other, &generated);  // generated SQL replaces the object
  EXPECT_EQ(other.UpdateObject(), nullptr);
  ASSERT_NE(other.UpdateParams(), nullptr);
  EXPECT_TRUE(other.CanModify());
  AssignUpdateParams(other, nullptr);
  EXPECT_EQ(other.UpdateParams(), nullptr);
  EXPECT_FALSE(other.CanModify());
}

// Customers (the master) and their orders (the detail, without the customer
// column) on a real database; the detail writes through hand-written SQL
// whose insert takes the customer from the master.
class RealHandWrittenSQL : public ::testing::TestWithParam<TBackend> {
 protected:
  void SetUp() override {
    db_ = testing::NewBackendDatabase(GetParam(), "sql_update_");
    if (db_ == nullptr) GTEST_SKIP() << testing::BackendUnavailable(GetParam());
    db_->SetName("RealHandWrittenSQL");
    Exec("drop table if exists \"SqlUpdCustomers\"");
    Exec("drop table if exists \"SqlUpdOrders\"");
    Exec("create table \"SqlUpdCustomers\" (\"CUST\" integer primary key, \"CNAME\" varchar(20))");
    Exec(
        "create table \"SqlUpdOrders\" (\"ID\" integer primary key, \"CUST\" integer, "
        "\"NAME\" varchar(20))");
    Exec("insert into \"SqlUpdCustomers\" values (42, 'acme'), (43, 'other')");
    Exec("insert into \"SqlUpdOrders\" values (1, 42, 'alpha'), (2, 42, 'beta'), (3, 43, 'x')");

    master_.SetDataBaseName(db_->DataBaseName());
    master_.SetSQLText(Sql("select * from \"SqlUpdCustomers\" order by \"CUST\""));
    source_.SetDataSet(&master_);
    detail_.SetDataBaseName(db_->DataBaseName());
    detail_.SetSQLText(
        Sql("select \"ID\", \"NAME\" from \"SqlUpdOrders\" where \"CUST\" = :CUST "
            "order by \"ID\""));
    detail_.SetDataSource(&source_);
    update_.ModifySQL().SetText(
        Sql("update \"SqlUpdOrders\" set \"NAME\" = :NAME\r\n"
            "where \"ID\" = :OLD_ID and \"NAME\" = :OLD_NAME"));
    update_.InsertSQL().SetText(
        Sql("insert into \"SqlUpdOrders\" (\"ID\", \"CUST\", \"NAME\")\r\n"
            "values (:ID, :CUST, :NAME)"));
    update_.DeleteSQL().SetText(Sql("delete from \"SqlUpdOrders\" where \"ID\" = :OLD_ID"));
    update_.SetDataSet(&detail_);
    master_.Open();
    detail_.Open();
  }
  void TearDown() override {
    if (db_ == nullptr) return;
    detail_.Close();
    master_.Close();
    Exec("drop table if exists \"SqlUpdCustomers\"");
    Exec("drop table if exists \"SqlUpdOrders\"");
  }

  void Exec(const std::string& sql) { db_->ExecSQL(Sql(sql), nullptr, nullptr); }
  std::string Sql(const std::string& sql) const { return testing::BackendSql(GetParam(), sql); }
  std::string Orders() {
    TcsQuery reader;
    reader.SetDataBaseName(db_->DataBaseName());
    reader.SetSQLText(Sql("select * from \"SqlUpdOrders\" order by \"ID\""));
    reader.Open();
    std::string text;
    for (; !reader.Eof(); reader.Next()) {
      text += reader.FieldByName("ID").AsString() + "," + reader.FieldByName("CUST").AsString() +
              "," + reader.FieldByName("NAME").AsString() + ";";
    }
    return text;
  }

  std::unique_ptr<TcsODBCDatabase> db_;  // declared first: outlives the queries
  TcsQuery master_;
  TDataSource source_;
  TcsQuery detail_;
  TSQLUpdate update_;
};

TEST_P(RealHandWrittenSQL, WritesWithOldValuesAndTheMastersFields) {
  ASSERT_EQ(detail_.RecordCount(), 1);
  detail_.Edit();
  detail_.FieldByName("NAME").SetAsString("gamma");
  detail_.Post();
  detail_.Append();
  detail_.FieldByName("ID").SetAsInteger(4);
  detail_.FieldByName("NAME").SetAsString("delta");
  detail_.Post();
  detail_.First();
  detail_.Next();
  ASSERT_EQ(detail_.FieldByName("ID").AsInteger(), 2);
  detail_.Delete();
  EXPECT_EQ(Orders(), "1,42,gamma;3,43,x;4,42,delta;");

  master_.Next();  // the detail follows the master and writes for it
  ASSERT_EQ(detail_.FieldByName("ID").AsInteger(), 3);
  detail_.Append();
  detail_.FieldByName("ID").SetAsInteger(5);
  detail_.FieldByName("NAME").SetAsString("epsilon");
  detail_.Post();
  EXPECT_EQ(Orders(), "1,42,gamma;3,43,x;4,42,delta;5,43,epsilon;");
}

TEST_P(RealHandWrittenSQL, AStaleOldValueFailsTheWrite) {
  Exec("update \"SqlUpdOrders\" set \"NAME\" = 'changed' where \"ID\" = 1");
  detail_.Edit();
  detail_.FieldByName("NAME").SetAsString("gamma");
  try {
    detail_.Post();
    FAIL() << "no error";
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), kNoRowsAffected);
  }
  detail_.OnUpdateError = [](TDataSet&, EDatabaseError&, TUpdateKind, TUpdateAction& action) {
    action = uaAbort;
  };
  EXPECT_THROW(detail_.Post(), EAbort);
  detail_.Cancel();
  EXPECT_EQ(Orders(), "1,42,changed;2,42,beta;3,43,x;");
}

INSTANTIATE_TEST_SUITE_P(Drivers, RealHandWrittenSQL, testing::AllBackends(), BackendName);

TEST(SQLUpdate, ForgetsAQueryThatGoesAway) {
  TSQLUpdate update;
  {
    TcsQuery query;
    update.SetDataSet(&query);
  }
  EXPECT_EQ(update.DataSet(), nullptr);
  EXPECT_THROW(update.Query(ukModify), EDatabaseError);
}

}  // namespace
}  // namespace velquarn
