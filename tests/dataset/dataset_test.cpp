#include "dataset/dataset.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "dataset/data_link.h"
#include "dataset/query.h"
#include "fake_sql_driver.h"

namespace velquarn {
namespace {

using testing::FakeDatabase;

class Framework : public ::testing::Test {
 protected:
  Framework() : db_("FrameworkDb"), codes_db_("CodesDb") {
    db_.Driver().columns = {{"ID", ftInteger}, {"NAME", ftString, 10}, {"KIND", ftInteger}};
    db_.Driver().rows = {{1, "one", 7}, {2, "two", 8}, {3, "three", 7}, {4, "four", 9}};
    query_.SetDataBaseName(db_.Name());
    query_.SetSQLText("select * from t");
    codes_db_.Driver().columns = {{"CODE", ftInteger}, {"TEXT", ftString, 10}};
    codes_db_.Driver().rows = {{7, "seven"}, {8, "eight"}};
    codes_.SetDataBaseName(codes_db_.Name());
    codes_.SetSQLText("select * from codes");
  }
  std::vector<int> WalkIds() {
    std::vector<int> ids;
    for (query_.First(); !query_.Eof(); query_.Next()) {
      ids.push_back(query_.FieldByName("ID").AsInteger());
    }
    return ids;
  }
  FakeDatabase db_;
  FakeDatabase codes_db_;
  TcsQuery query_;
  TcsQuery codes_;
};

TEST_F(Framework, FilterSkipsRejectedRowsBothWays) {
  query_.SetFiltered(true);
  query_.OnFilterRecord = [](TDataSet& dataset, bool& accept) {
    EXPECT_EQ(dataset.State(), dsFilter);
    accept = dataset.FieldByName("ID").AsInteger() % 2 == 0;
  };
  query_.Open();
  EXPECT_EQ(query_.FieldByName("ID").AsInteger(), 2);
  EXPECT_EQ(WalkIds(), (std::vector<int>{2, 4}));
  query_.Prior();
  EXPECT_EQ(query_.FieldByName("ID").AsInteger(), 2);
  query_.SetFiltered(false);
  EXPECT_EQ(WalkIds(), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(Framework, CalculatedFieldsFollowTheRowAndTheEdit) {
  query_.AddField(std::make_unique<TIntegerField>(), "ID");
  query_.AddField(std::make_unique<TStringField>(10), "NAME");
  query_.AddField(std::make_unique<TStringField>(20), "LABEL", fkCalculated);
  query_.OnCalcFields = [](TDataSet& dataset) {
    EXPECT_EQ(dataset.State(), dsCalcFields);
    dataset.FieldByName("LABEL").SetAsString(dataset.FieldByName("NAME").AsString() + "#" +
                                             dataset.FieldByName("ID").AsString());
  };
  query_.SetQueryOptions(LocalEdit);
  query_.Open();
  EXPECT_FALSE(query_.DefaultFields());
  EXPECT_EQ(query_.FieldByName("LABEL").AsString(), "one#1");
  EXPECT_EQ(query_.FieldByName("LABEL").FieldNo(), 0);
  EXPECT_FALSE(query_.FieldByName("LABEL").IsDataField());
  EXPECT_EQ(query_.FindField("KIND"), nullptr);  // not declared, so no field
  query_.Next();
  EXPECT_EQ(query_.FieldByName("LABEL").AsString(), "two#2");
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("deux");
  EXPECT_EQ(query_.FieldByName("LABEL").AsString(), "deux#2");
  query_.Post();
  query_.Close();
  EXPECT_EQ(query_.FieldCount(), 3);  // persistent fields outlive the cursor
}

TEST_F(Framework, PersistentFieldWithoutAColumnIsReported) {
  query_.AddField(std::make_unique<TIntegerField>(), "MISSING");
  try {
    query_.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'MISSING' not found");
  }
  EXPECT_FALSE(query_.Active());
}

TEST_F(Framework, LookupFieldReadsTheOtherDataset) {
  codes_.Open();
  query_.AddField(std::make_unique<TIntegerField>(), "ID");
  query_.AddField(std::make_unique<TIntegerField>(), "KIND");
  auto lookup = std::make_unique<TStringField>(10);
  lookup->SetLookup(&codes_, "KIND", "CODE", "TEXT");
  query_.AddField(std::move(lookup), "KINDTEXT");
  query_.Open();
  std::vector<std::string> texts;
  for (; !query_.Eof(); query_.Next()) texts.push_back(query_.FieldByName("KINDTEXT").AsString());
  EXPECT_EQ(texts, (std::vector<std::string>{"seven", "eight", "seven", ""}));
  EXPECT_EQ(codes_.FieldByName("CODE").AsInteger(), 7);  // its position is left alone
}

TEST_F(Framework, EventsFireAroundOpenScrollAndClose) {
  std::vector<std::string> events;
  auto note = [&events](const char* name) {
    return [&events, name](TDataSet&) { events.push_back(name); };
  };
  query_.BeforeOpen = note("BeforeOpen");
  query_.AfterOpen = note("AfterOpen");
  query_.BeforeScroll = note("BeforeScroll");
  query_.AfterScroll = note("AfterScroll");
  query_.BeforeClose = note("BeforeClose");
  query_.AfterClose = note("AfterClose");
  query_.Open();
  query_.Next();
  query_.Close();
  EXPECT_EQ(events,
            (std::vector<std::string>{"BeforeOpen", "AfterOpen", "AfterScroll", "BeforeScroll",
                                      "AfterScroll", "BeforeClose", "AfterClose"}));
}

TEST_F(Framework, CheckBrowseModePostsAModifiedRecordBeforeAMove) {
  query_.SetQueryOptions(LocalEdit);
  query_.Open();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("uno");
  query_.Next();
  EXPECT_EQ(query_.State(), dsBrowse);
  query_.First();
  EXPECT_EQ(query_.FieldByName("NAME").AsString(), "uno");
  query_.Edit();
  query_.Next();  // nothing changed: cancelled
  EXPECT_EQ(query_.FieldByName("ID").AsInteger(), 2);
}

class MasterDetail : public ::testing::Test {
 protected:
  MasterDetail() : master_db_("MasterDb"), detail_db_("DetailDb") {
    master_db_.Driver().columns = {{"ID", ftInteger}, {"NAME", ftString, 10}};
    master_db_.Driver().rows = {{1, "one"}, {2, "two"}};
    detail_db_.Driver().columns = {{"LINE", ftInteger}};
    detail_db_.Driver().rows = {{10}};
    master_.SetDataBaseName(master_db_.Name());
    master_.SetSQLText("select * from orders");
    source_.SetDataSet(&master_);
    detail_.SetDataBaseName(detail_db_.Name());
    detail_.SetSQLText("select * from lines where id = :ID and name = :OLD_name and x = :X");
    detail_.SetDataSource(&source_);
  }
  const TParams& LastParams() { return detail_db_.Driver().params_seen.back(); }
  FakeDatabase master_db_;
  FakeDatabase detail_db_;
  TcsQuery master_;
  TcsQuery detail_;
  TDataSource source_;
};

TEST_F(MasterDetail, DetailRunsWithTheMastersValues) {
  master_.Open();
  detail_.Params().ParamByName("X").SetAsInteger(5);
  detail_.Open();
  EXPECT_EQ(LastParams().Items(0).AsInteger(), 1);
  EXPECT_EQ(LastParams().Items(1).AsString(), "one");
  EXPECT_EQ(LastParams().Items(2).AsInteger(), 5);  // no master field: left alone
  const size_t runs = detail_db_.Driver().statements.size();
  master_.Next();
  EXPECT_GT(detail_db_.Driver().statements.size(), runs);
  EXPECT_EQ(LastParams().Items(0).AsInteger(), 2);
  EXPECT_EQ(detail_.FieldByName("LINE").AsInteger(), 10);
}

TEST_F(MasterDetail, RecursiveLinksAreRefused) {
  TDataSource detail_source;
  detail_source.SetDataSet(&detail_);
  try {
    master_.SetDataSource(&detail_source);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Recursive datalinks not allowed");
  }
  EXPECT_THROW(detail_.SetDataSource(&detail_source), EDatabaseError);
  EXPECT_EQ(master_.DataSource(), nullptr);
}

TEST_F(MasterDetail, RemovedSourceAndDatasetAreForgotten) {
  {
    TDataSource temporary;
    TcsQuery other;
    temporary.SetDataSet(&other);
    detail_.SetDataSource(&temporary);
    EXPECT_EQ(detail_.DataSource(), &temporary);
  }
  EXPECT_EQ(detail_.DataSource(), nullptr);
  TDataSource source;
  {
    TcsQuery short_lived;
    source.SetDataSet(&short_lived);
  }
  EXPECT_EQ(source.DataSet(), nullptr);
}

TEST(SplitFieldNames, TrimsEachNameAndSkipsEmptyOnes) {
  EXPECT_EQ(SplitFieldNames(" ID ;;NAME; \tKIND;"),
            (std::vector<std::string>{"ID", "NAME", "KIND"}));
  EXPECT_TRUE(SplitFieldNames("").empty());
  EXPECT_TRUE(SplitFieldNames(" ; ").empty());
}

}  // namespace
}  // namespace velquarn
