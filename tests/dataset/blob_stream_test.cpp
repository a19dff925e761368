#include "dataset/blob_stream.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "dataset/query.h"
#include "fake_sql_driver.h"

namespace velquarn {
namespace {

using testing::FakeDatabase;

class BlobStream : public ::testing::Test {
 protected:
  BlobStream() : db_("BlobStreamDb") {
    db_.Driver().columns = {{"ID", ftInteger}, {"NOTE", ftMemo}, {"PIC", ftBlob, 0, false, true}};
    db_.Driver().rows = {{1, "first note", "pic"}, {2, TVariant(), TVariant()}};
    query_.SetDataBaseName(db_.Name());
    query_.SetSQLText("select * from notes");
    query_.SetQueryOptions(LocalEdit);
    query_.Open();
  }
  std::string Write(TBlobStreamMode mode, const std::string& text) {
    auto stream = query_.CreateBlobStream(query_.FieldByName("NOTE"), mode);
    stream->Write(text.data(), static_cast<int64_t>(text.size()));
    return stream->Bytes();
  }
  FakeDatabase db_;
  TcsQuery query_;
};

TEST_F(BlobStream, ReadsTheStoredValueAndNullAsEmpty) {
  EXPECT_EQ(query_.FieldByName("NOTE").AsString(), "first note");
  EXPECT_EQ(query_.BlobView(query_.FieldByName("NOTE")), "first note");
  query_.Next();
  EXPECT_TRUE(query_.FieldByName("NOTE").IsNull());
  EXPECT_EQ(query_.FieldByName("NOTE").AsString(), "");
  auto stream = query_.CreateBlobStream(query_.FieldByName("NOTE"), bmRead);
  EXPECT_EQ(stream->Size(), 0);
}

TEST_F(BlobStream, WritingNeedsEditModeAndAWritableField) {
  try {
    query_.CreateBlobStream(query_.FieldByName("NOTE"), bmWrite);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dataset not in edit mode.");
  }
  query_.Edit();
  try {
    query_.CreateBlobStream(query_.FieldByName("PIC"), bmWrite);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'PIC' is read-only");
  }
}

TEST_F(BlobStream, WriteModeStoresOnFreeAndEmptySetsNull) {
  query_.Edit();
  Write(bmWrite, "new note");
  EXPECT_EQ(query_.FieldByName("NOTE").AsString(), "new note");
  EXPECT_TRUE(query_.FieldByName("NOTE").Modified());
  query_.Post();
  EXPECT_EQ(query_.FieldByName("NOTE").AsString(), "new note");
  query_.Edit();
  Write(bmWrite, "");
  EXPECT_TRUE(query_.FieldByName("NOTE").IsNull());
}

TEST_F(BlobStream, ReadWriteModeDiscardsWhatIsWritten) {
  query_.Edit();
  EXPECT_EQ(Write(bmReadWrite, "lost"), "lost");
  EXPECT_EQ(query_.FieldByName("NOTE").AsString(), "first note");
}

TEST_F(BlobStream, CancelAndOldValueKeepTheStoredValue) {
  query_.Edit();
  Write(bmWrite, "edited");
  EXPECT_EQ(query_.FieldByName("NOTE").OldValue().AsString(), "first note");
  query_.Cancel();
  EXPECT_EQ(query_.FieldByName("NOTE").AsString(), "first note");
}

TEST_F(BlobStream, InsertedRowGetsItsOwnItem) {
  query_.Append();
  query_.FieldByName("ID").SetAsInteger(3);
  Write(bmWrite, "third");
  query_.Post();
  EXPECT_EQ(query_.FieldByName("NOTE").AsString(), "third");
  query_.First();
  EXPECT_EQ(query_.FieldByName("NOTE").AsString(), "first note");
}

TEST_F(BlobStream, FailureOnFreeGoesToTheApplicationHandler) {
  std::string reported;
  SetApplicationExceptionHandler([&](const std::exception& e) { reported = e.what(); });
  query_.Edit();
  {
    auto stream = query_.CreateBlobStream(query_.FieldByName("NOTE"), bmWrite);
    stream->Write("x", 1);
    query_.FieldByName("NOTE").SetReadOnly(true);
  }
  SetApplicationExceptionHandler(nullptr);
  EXPECT_EQ(reported, "Field 'NOTE' is read-only");
}

TEST(BlobStore, OneRowModeReusesTheItemsOfTheReplacedRow) {
  FakeDatabase db("OneRowBlobDb");
  db.Driver().columns = {{"ID", ftInteger}, {"NOTE", ftMemo}};
  for (int i = 1; i <= 50; ++i) {
    db.Driver().rows.push_back(
        {i, i % 7 == 0 ? TVariant() : TVariant("note " + std::to_string(i))});
  }
  TcsQuery query;
  query.SetDataBaseName(db.Name());
  query.SetSQLText("select * from notes");
  query.SetExecuteOptions(eoUniDirectional);
  query.Open();
  for (; !query.Eof(); query.Next()) {
    const int id = query.FieldByName("ID").AsInteger();
    EXPECT_EQ(query.FieldByName("NOTE").AsString(),
              id % 7 == 0 ? "" : "note " + std::to_string(id));
  }
  EXPECT_EQ(query.BlobList()->Count(), 1);
}

TEST(BlobStreamTypecast, OnlyBlobFieldsOfAQueryDataset) {
  TcsQuery query;
  TStringField field;
  EXPECT_THROW(TBlobStream(field, bmRead), EDatabaseError);
}

}  // namespace
}  // namespace velquarn
