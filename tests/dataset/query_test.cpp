#include "dataset/query.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/exceptions.h"
#include "dataset/sql_errors.h"
#include "fake_sql_driver.h"

namespace velquarn {
namespace {

using testing::FakeDatabase;

std::vector<std::vector<TVariant>> Rows(int count) {
  std::vector<std::vector<TVariant>> rows;
  for (int i = 1; i <= count; ++i) rows.push_back({i, "name" + std::to_string(i)});
  return rows;
}

class Query : public ::testing::Test {
 protected:
  explicit Query(int pool_size = 1) : db_("QueryDb", pool_size) {
    db_.Driver().columns = {{"ID", ftInteger}, {"NAME", ftString, 10}};
    db_.Driver().rows = Rows(5);
    query_.SetDataBaseName(db_.Name());
    query_.SetSQLText("select * from t");
  }
  int Id() { return query_.FieldByName("ID").AsInteger(); }
  FakeDatabase db_;
  TcsQuery query_;
};

TEST_F(Query, OpenFetchesLazilyAndWalksToTheEnd) {
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 1);
  EXPECT_EQ(query_.FieldCount(), 2);
  ASSERT_NE(query_.FieldByNumber(2), nullptr);
  EXPECT_EQ(query_.FieldByNumber(2)->FieldName(), "NAME");
  EXPECT_EQ(query_.FieldByNumber(3), nullptr);
  std::vector<int> ids;
  while (!query_.Eof()) {
    ids.push_back(Id());
    query_.Next();
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(query_.RecordCount(), 5);
  EXPECT_TRUE(query_.EndOfResult());
  const int calls = db_.Driver().fetch_calls;
  query_.Next();
  query_.Next();
  EXPECT_EQ(db_.Driver().fetch_calls, calls);  // the end is known
  EXPECT_EQ(Id(), 5);
}

TEST_F(Query, CacheAllFetchesEverythingAtOpen) {
  query_.SetExecuteOptions(eoCacheAll);
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 5);
  EXPECT_EQ(Id(), 1);
  // Pooling is on and the result is complete: the connection went back.
  EXPECT_EQ(query_.Connection(), nullptr);
  EXPECT_EQ(db_.Database().AttachedCount(), 0);
}

TEST_F(Query, UniDirectionalHoldsOneRow) {
  query_.SetExecuteOptions(eoUniDirectional);
  query_.Open();
  int seen = 0;
  while (!query_.Eof()) {
    ++seen;
    EXPECT_EQ(Id(), seen);
    EXPECT_EQ(query_.RecordCount(), 1);
    query_.Next();
  }
  EXPECT_EQ(seen, 5);
  query_.First();
  EXPECT_EQ(Id(), 5);  // only the last fetched row is held
  query_.Last();
  EXPECT_EQ(Id(), 5);
}

TEST_F(Query, AFailedFetchLeavesTheWindowOnItsRow) {
  query_.Open();
  db_.Driver().failing_fetch = db_.Driver().fetch_calls + 1;
  EXPECT_THROW(query_.Next(), EcsSQLError);
  EXPECT_EQ(Id(), 1);
  query_.Prior();
  EXPECT_TRUE(query_.Bof());
  EXPECT_EQ(Id(), 1);
  query_.Next();
  EXPECT_EQ(Id(), 2);
}

// Reading ahead holds rows for later moves; the moves read the same rows
// as without it, and a fetch error the read-ahead met is raised by the move
// that reaches the failing row, once, as a plain walk would raise it.
TEST_F(Query, ReadAheadHoldsRowsUpToTheBlockAndMovesReadThem) {
  const auto never = [] { return false; };
  query_.Open();
  EXPECT_EQ(query_.ReadAhead(2, never), 2);  // rows 2 and 3 beyond row 1
  EXPECT_EQ(query_.RecordCount(), 3);
  EXPECT_EQ(query_.ReadAhead(2, never), 0);  // already two ahead
  const int calls = db_.Driver().fetch_calls;
  query_.Next();
  query_.Next();
  EXPECT_EQ(Id(), 3);
  EXPECT_EQ(db_.Driver().fetch_calls, calls);  // read from memory
  EXPECT_EQ(query_.ReadAhead(10, never), 2);   // only rows 4 and 5 exist
  EXPECT_TRUE(query_.EndOfResult());
  std::vector<int> ids;
  for (; !query_.Eof(); query_.Next()) ids.push_back(Id());
  EXPECT_EQ(ids, (std::vector<int>{3, 4, 5}));
}

TEST_F(Query, ReadAheadGivesWayWhenAsked) {
  query_.Open();
  int asked = 0;
  EXPECT_EQ(query_.ReadAhead(4, [&] { return ++asked > 1; }), 1);
  EXPECT_EQ(query_.ReadAhead(4, [] { return true; }), 0);
  EXPECT_EQ(query_.RecordCount(), 2);
}

TEST_F(Query, AFetchErrorMetReadingAheadIsRaisedByTheMoveThatReachesIt) {
  query_.Open();
  db_.Driver().failing_fetch = db_.Driver().fetch_calls + 2;  // row 3
  EXPECT_EQ(query_.ReadAhead(4, [] { return false; }), 1);
  query_.Next();
  EXPECT_EQ(Id(), 2);
  EXPECT_THROW(query_.Next(), EcsSQLError);
  EXPECT_EQ(Id(), 2);
  query_.Next();  // raised once; the next move fetches again, as without read-ahead
  EXPECT_EQ(Id(), 3);
}

TEST_F(Query, AHeldRowLimitMetReadingAheadWaitsForTheMoveThatReachesIt) {
  query_.Open();
  query_.SetMaxHeldBytes(2 * static_cast<int64_t>(query_.RecordBuffers()->RecordSize()));
  EXPECT_EQ(query_.ReadAhead(4, [] { return false; }), 1);
  query_.Next();
  EXPECT_THROW(query_.Next(), EResultTooLarge);
}

TEST_F(Query, ClosingForgetsAnErrorMetReadingAhead) {
  query_.Open();
  db_.Driver().failing_fetch = db_.Driver().fetch_calls + 1;
  EXPECT_EQ(query_.ReadAhead(4, [] { return false; }), 0);
  query_.Close();
  query_.Open();
  std::vector<int> ids;
  for (; !query_.Eof(); query_.Next()) ids.push_back(Id());
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(Query, SettingPositionBeyondHeldRowsFetchesTheRest) {
  query_.Open();
  query_.Next();
  EXPECT_EQ(query_.RecordCount(), 2);
  query_.SetRecNo(10);
  EXPECT_EQ(query_.RecordCount(), 5);
  EXPECT_EQ(Id(), 5);
  EXPECT_EQ(query_.RecNo(), 5);
  query_.SetRecNo(2);
  EXPECT_EQ(Id(), 2);
}

TEST_F(Query, FirstReplaysHeldRowsWithoutRunningTheStatementAgain) {
  query_.Open();
  query_.Last();
  const size_t statements = db_.Driver().statements.size();
  const int calls = db_.Driver().fetch_calls;
  query_.First();
  EXPECT_EQ(Id(), 1);
  EXPECT_TRUE(query_.Bof());
  query_.Prior();
  EXPECT_TRUE(query_.Bof());
  EXPECT_EQ(db_.Driver().statements.size(), statements);
  EXPECT_EQ(db_.Driver().fetch_calls, calls);
}

TEST_F(Query, PriorAfterTheEndComesBackFromTheLastRow) {
  query_.Open();
  query_.Last();
  EXPECT_TRUE(query_.Eof());
  query_.Prior();
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(query_.MoveBy(-10), -3);
  EXPECT_EQ(Id(), 1);
}

TEST_F(Query, LocateWithAndWithoutPartialKey) {
  db_.Driver().rows = {{1, "Jones"}, {2, "Smith"}, {3, "Brown"}};
  query_.Open();
  EXPECT_FALSE(query_.Locate("NAME", TVariant("Sm"), 0));
  query_.Close();
  query_.Open();
  EXPECT_TRUE(query_.Locate("NAME", TVariant("Sm"), loPartialKey));
  EXPECT_EQ(Id(), 2);
  EXPECT_FALSE(query_.Locate("NAME", TVariant("brown"), 0));
  EXPECT_TRUE(query_.Locate("NAME", TVariant("brown"), loCaseInsensitive));
  EXPECT_EQ(Id(), 3);
  EXPECT_TRUE(query_.Locate("ID;NAME", {TVariant(1), TVariant("Jones")}, 0));
  EXPECT_EQ(Id(), 1);
}

TEST_F(Query, LocateFetchesAsItWalksAndNotForANullKey) {
  query_.Open();
  const int calls = db_.Driver().fetch_calls;
  EXPECT_FALSE(query_.Locate("ID", TVariant(), 0));
  EXPECT_EQ(db_.Driver().fetch_calls, calls);
  EXPECT_TRUE(query_.Locate("ID", TVariant(3), 0));
  EXPECT_EQ(Id(), 3);
  EXPECT_EQ(query_.RecordCount(), 3);
  EXPECT_FALSE(query_.EndOfResult());
}

TEST_F(Query, LookupLeavesThePositionAlone) {
  query_.Open();
  const std::vector<TVariant> found = query_.Lookup("ID", {TVariant(4)}, "NAME;ID");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].AsString(), "name4");
  EXPECT_EQ(Id(), 1);
  query_.Next();
  EXPECT_EQ(Id(), 2);
  EXPECT_TRUE(query_.Lookup("ID", {TVariant(40)}, "NAME").empty());
}

TEST_F(Query, LocateRefusesFieldsOfUndefinedType) {
  db_.Driver().columns.push_back({"ODD", ftUnknown});
  db_.Driver().columns.push_back({"WIDE", ftWideString, 4});
  query_.Open();
  query_.AddColumnDef("x", ftUnknown, 0, false, 9, false, 0);
  try {
    query_.Locate("WIDE", TVariant("x"), 0);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'WIDE' has an unsupported type.");
  }
}

TEST_F(Query, BookmarksFindRowsAndCompareByNumber) {
  query_.Open();
  query_.Next();
  const TBookmark second = query_.GetBookmark();
  query_.Last();
  EXPECT_TRUE(query_.BookmarkValid(second));
  query_.GotoBookmark(second);
  EXPECT_EQ(Id(), 2);
  TBookmark b256(4);
  const int32_t n256 = 256;
  std::memcpy(b256.data(), &n256, 4);
  EXPECT_EQ(query_.CompareBookmarks(second, b256), -1);
  EXPECT_EQ(query_.CompareBookmarks(b256, second), 1);
  EXPECT_EQ(query_.CompareBookmarks(second, second), 0);
  EXPECT_EQ(query_.CompareBookmarks(TBookmark(), second), -1);
  EXPECT_EQ(query_.CompareBookmarks(TBookmark(), TBookmark()), 0);
  EXPECT_FALSE(query_.BookmarkValid(b256));
  try {
    query_.GotoBookmark(b256);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Bookmark not found.");
  }
  query_.Close();
  EXPECT_FALSE(query_.BookmarkValid(second));
}

TEST_F(Query, StatementWithoutColumnsGivesNoFieldsAndRowsAffected) {
  db_.Driver().rows_affected = 3;
  query_.SetSQLText("update t set a = 1");
  query_.Open();
  EXPECT_TRUE(query_.Active());
  EXPECT_EQ(query_.FieldCount(), 0);
  EXPECT_TRUE(query_.Eof());
  EXPECT_EQ(query_.RowsAffected(), 3);
  query_.Close();
  EXPECT_NE(query_.Connection(), nullptr);  // kept for the next statement
}

TEST_F(Query, ExecSQLUsesTheMainConnectionAndNeverGoesNegative) {
  db_.Driver().rows_affected = -1;
  EXPECT_EQ(query_.ExecSQL("delete from t where id = :id"), 0);
  EXPECT_FALSE(db_.Driver().with_dataset.back());
  EXPECT_EQ(db_.Driver().statements.back(), "delete from t where id = ? ");
  db_.Driver().rows_affected = 2;
  EXPECT_EQ(query_.ExecSQL(), 2);
}

TEST_F(Query, MissingStatementAndDatabaseAreReported) {
  query_.ClearSQL();
  try {
    query_.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "No statement in query");
  }
  EXPECT_FALSE(query_.Active());
  TcsQuery lost;
  lost.SetDataBaseName("NoSuchDb");
  lost.SetSQLText("select 1");
  try {
    lost.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Database 'NoSuchDb' not found");
  }
}

TEST_F(Query, ParametersGoToTheDriverInOrder) {
  query_.SetSQLText("select * from t where a = :a and b = :b");
  query_.Params().ParamByName("a").SetAsInteger(1);
  query_.Params().ParamByName("b").SetAsString("x");
  query_.Open();
  const TParams& sent = db_.Driver().params_seen.back();
  ASSERT_EQ(sent.Count(), 2);
  EXPECT_EQ(sent.Items(0).AsInteger(), 1);
  EXPECT_EQ(sent.Items(1).AsString(), "x");
  EXPECT_TRUE(db_.Driver().with_dataset.back());
}

TEST_F(Query, ChangingTheStatementKeepsTheConnection) {
  query_.Open();
  TConnectionHandle* connection = query_.Connection();
  ASSERT_NE(connection, nullptr);
  query_.SetSQLText("select * from t where id > 2");
  EXPECT_FALSE(query_.Active());
  EXPECT_EQ(query_.Connection(), connection);
  EXPECT_EQ(db_.Driver().released, 0);
  query_.Open();
  EXPECT_EQ(db_.Driver().acquired, 1);
}

TEST_F(Query, ReleaseConnectionWithForceClosesIt) {
  query_.Open();
  query_.ReleaseConnection(true);
  EXPECT_EQ(db_.Driver().forced_releases, 1);
  EXPECT_EQ(query_.Connection(), nullptr);
  EXPECT_EQ(db_.Database().AttachedCount(), 0);
}

TEST_F(Query, DatabaseNameChangeForgetsTheDatabase) {
  query_.Open();
  query_.SetDataBaseName("Elsewhere");
  EXPECT_FALSE(query_.Active());
  EXPECT_EQ(query_.Database(), nullptr);
  EXPECT_EQ(query_.Connection(), nullptr);
}

TEST_F(Query, RefreshRunsTheStatementAgain) {
  query_.Open();
  query_.Next();
  db_.Driver().rows = Rows(2);
  query_.Refresh();
  EXPECT_EQ(db_.Driver().statements.size(), 2u);
  query_.Last();
  EXPECT_EQ(query_.RecordCount(), 2);
}

TEST_F(Query, PrepareHandsTheTextToTheDriver) {
  query_.Prepare();
  EXPECT_TRUE(query_.Prepared());
  EXPECT_EQ(db_.Driver().prepared, 1);
  query_.SetSQLText("select 2");
  EXPECT_FALSE(query_.Prepared());
}

TEST(QueryLifetime, DestroyingTheDatabaseFirstLeavesTheQueryUsable) {
  TcsQuery query;
  {
    FakeDatabase db("ShortLivedDb");
    db.Driver().columns = {{"ID", ftInteger}};
    db.Driver().rows = {{1}};
    query.SetDataBaseName(db.Name());
    query.SetSQLText("select * from t");
    query.Open();
  }
  EXPECT_FALSE(query.Active());
  EXPECT_EQ(query.Database(), nullptr);
  EXPECT_EQ(query.Connection(), nullptr);
  EXPECT_THROW(query.Open(), EDatabaseError);
}

TEST(QueryLifetime, DestroyingTheQueryDetachesIt) {
  FakeDatabase db("DetachDb", 0);
  db.Driver().columns = {{"ID", ftInteger}};
  {
    TcsQuery query;
    query.SetDataBaseName(db.Name());
    query.SetSQLText("select * from t");
    query.Open();
    EXPECT_EQ(db.Database().AttachedCount(), 1);
  }
  EXPECT_EQ(db.Database().AttachedCount(), 0);
  EXPECT_EQ(db.Driver().released, 1);
}

class Editing : public Query {
 protected:
  Editing() { db_.Driver().rows = Rows(3); }
};

class RecordingWriter : public TcsUpdateWriter {
 public:
  void ApplyUpdate(TcsDataset& dataset, TUpdateKind kind) override {
    kinds.push_back(kind);
    if (dataset.FieldCount() > 0) names.push_back(dataset.FieldByName("NAME").AsString());
    if (fail) throw EcsSQLError(1, "HY000:write failed");
  }
  std::vector<TUpdateKind> kinds;
  std::vector<std::string> names;
  bool fail = false;
};

TEST_F(Editing, ReadOnlyWithoutAWriter) {
  query_.Open();
  EXPECT_FALSE(query_.CanModify());
  try {
    query_.Edit();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot modify a read-only dataset");
  }
}

TEST_F(Editing, DeletingTheSecondOfThreeShowsTheFormerThird) {
  query_.SetQueryOptions(LocalEdit);
  query_.Open();
  query_.Next();
  query_.Delete();
  EXPECT_EQ(Id(), 3);
  EXPECT_EQ(query_.RecordCount(), 2);
  query_.Delete();
  EXPECT_EQ(Id(), 1);  // the new last row
  EXPECT_EQ(query_.LoadedCount(), 1);
}

TEST_F(Editing, PostTrimsStringsAndCanConvertBlanksToNull) {
  RecordingWriter writer;
  query_.SetUpdateObject(&writer);
  query_.Open();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("abc   ");
  query_.Post();
  EXPECT_EQ(query_.FieldByName("NAME").AsString(), "abc");
  ASSERT_EQ(writer.names.size(), 1u);
  EXPECT_EQ(writer.names[0], "abc");
  EXPECT_EQ(writer.kinds[0], ukModify);
  query_.SetQueryOptions(ConvertBlankToNull);
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("   ");
  query_.Post();
  EXPECT_TRUE(query_.FieldByName("NAME").IsNull());
  query_.First();
  query_.Next();
  query_.Prior();
  EXPECT_TRUE(query_.FieldByName("NAME").IsNull());
}

TEST_F(Editing, InsertGoesBeforeTheCurrentRowAndAppendAtTheEnd) {
  RecordingWriter writer;
  query_.SetUpdateObject(&writer);
  query_.Open();
  query_.Next();
  query_.Insert();
  query_.FieldByName("ID").SetAsInteger(10);
  query_.Post();
  EXPECT_EQ(Id(), 10);
  query_.Append();
  query_.FieldByName("ID").SetAsInteger(20);
  query_.Post();
  std::vector<int> ids;
  for (query_.First(); !query_.Eof(); query_.Next()) ids.push_back(Id());
  EXPECT_EQ(ids, (std::vector<int>{1, 10, 2, 3, 20}));
  EXPECT_EQ(writer.kinds, (std::vector<TUpdateKind>{ukInsert, ukInsert}));
  const TBookmark last = query_.GetBookmark();
  query_.First();
  query_.GotoBookmark(last);
  EXPECT_EQ(Id(), 20);
}

TEST_F(Editing, UpdateRecordHandlerDecidesWhatIsWritten) {
  RecordingWriter writer;
  query_.SetUpdateObject(&writer);
  query_.Open();
  TUpdateAction answer = uaApplied;
  query_.OnUpdateRecord = [&](TDataSet&, TUpdateKind, TUpdateAction& action) { action = answer; };
  query_.Delete();  // applied by the handler: removed locally only
  EXPECT_TRUE(writer.kinds.empty());
  EXPECT_EQ(Id(), 2);
  answer = uaSkip;
  query_.Delete();
  EXPECT_EQ(writer.kinds, std::vector<TUpdateKind>{ukDelete});
  answer = uaFail;
  EXPECT_THROW(query_.Delete(), EAbort);
  EXPECT_EQ(Id(), 3);
  query_.Edit();
  EXPECT_THROW(query_.Post(), EAbort);
}

TEST_F(Editing, PostErrorHandlerCanTurnAFailureIntoAnAbort) {
  RecordingWriter writer;
  writer.fail = true;
  query_.SetUpdateObject(&writer);
  query_.Open();
  query_.Edit();
  EXPECT_THROW(query_.Post(), EcsSQLError);
  EXPECT_EQ(query_.State(), dsEdit);
  query_.OnPostError = [](TDataSet&, EDatabaseError&, TDataAction& action) { action = daAbort; };
  EXPECT_THROW(query_.Post(), EAbort);
  int posted = 0;
  query_.OnPost = [&](TDataSet&) { ++posted; };
  writer.fail = false;
  query_.Post();
  EXPECT_EQ(posted, 1);
}

TEST_F(Editing, OneRowModeWritesTheRowBeingEdited) {
  class OldIdWriter : public TcsUpdateWriter {
   public:
    void ApplyUpdate(TcsDataset& dataset, TUpdateKind) override {
      old_ids.push_back(static_cast<int>(dataset.FieldByName("ID").OldValue().AsInteger()));
    }
    std::vector<int> old_ids;
  } writer;
  query_.SetUpdateObject(&writer);
  query_.SetExecuteOptions(eoUniDirectional);
  query_.Open();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("first");
  query_.Post();
  query_.Delete();
  EXPECT_EQ(writer.old_ids, (std::vector<int>{1, 1}));
}

TEST_F(Editing, RemovedUpdateObjectIsForgotten) {
  query_.Open();
  {
    RecordingWriter writer;
    query_.SetUpdateObject(&writer);
    EXPECT_TRUE(query_.CanModify());
  }
  EXPECT_EQ(query_.UpdateObject(), nullptr);
  EXPECT_FALSE(query_.CanModify());
}

TEST_F(Editing, AddRecordStoresWithoutWriting) {
  RecordingWriter writer;
  query_.SetUpdateObject(&writer);
  query_.Open();
  query_.AppendRecord({TVariant(9), TVariant("nine")});
  EXPECT_EQ(Id(), 9);
  EXPECT_EQ(query_.RecordCount(), 4);
  query_.First();
  query_.InsertRecord({TVariant(0), TVariant("zero")});
  EXPECT_EQ(Id(), 0);
  query_.Next();
  EXPECT_EQ(Id(), 1);
  EXPECT_TRUE(writer.kinds.empty());
}

TEST(QueryDatabase, AHandedDatabaseIsUsedWithoutTheListLookup) {
  FakeDatabase first("HandedFirstDb");
  FakeDatabase second("HandedSecondDb");
  for (FakeDatabase* db : {&first, &second}) {
    db->Driver().columns = {{"ID", ftInteger}};
    db->Driver().rows = {{1}, {2}};
  }
  TcsQuery query;
  query.SetDatabase(&first.Database());
  EXPECT_EQ(query.Database(), &first.Database());
  EXPECT_EQ(query.DataBaseName(), first.Name());
  query.SetSQLText("select * from t");
  query.Open();
  EXPECT_EQ(first.Driver().statements.size(), 1u);
  // Another database closes the open query first.
  query.SetDatabase(&second.Database());
  EXPECT_FALSE(query.Active());
  EXPECT_EQ(query.Connection(), nullptr);
  query.Open();
  EXPECT_EQ(second.Driver().statements.size(), 1u);
  EXPECT_EQ(query.FieldByName("ID").AsInteger(), 1);
  query.Close();
}

}  // namespace
}  // namespace velquarn
