#include "dataset/record_buffers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "dataset/query.h"
#include "fake_sql_driver.h"

namespace velquarn {
namespace {

using testing::FakeColumn;
using testing::FakeDatabase;

TEST(RecordLayout, SlotsFollowTheTypeTable) {
  TcsQuery query;
  query.AddColumnDef("ID", ftInteger, 0, true, 1, false, 0);
  query.AddColumnDef("NAME", ftString, 10, false, 2, false, 0);
  query.AddColumnDef("PRICE", ftFloat, 0, false, 3, false, 2);
  ASSERT_EQ(query.FieldOffsets().Count(), 3);
  EXPECT_EQ(query.FieldOffsets().Offset(0), 0);
  EXPECT_EQ(query.FieldOffsets().Offset(1), 5);
  EXPECT_EQ(query.FieldOffsets().Offset(2), 17);
  EXPECT_EQ(query.DataSize(), 26);
  EXPECT_EQ(query.FieldDefs().Items(2).precision, 2);
  EXPECT_EQ(query.FieldDefs().Items(1).precision, 0);
}

TEST(RecordLayout, ValueSizesPerType) {
  EXPECT_EQ(FieldValueSize(ftWideString, 50), 51);
  EXPECT_EQ(FieldValueSize(ftBoolean, 0), 2);
  EXPECT_EQ(FieldValueSize(ftMemo, 0), 4);
  EXPECT_EQ(FieldValueSize(ftDate, 0), 8);
  EXPECT_EQ(FieldValueSize(ftBCD, 0), 34);
  EXPECT_EQ(FieldValueSize(ftVarBytes, 7), 7);
  EXPECT_EQ(FieldValueSize(ftCursor, 9), 0);
}

TEST(RecordLayout, DuplicateNameGetsItsFieldNumber) {
  TcsQuery query;
  query.AddColumnDef("ID", ftInteger, 0, false, 1, false, 0);
  query.AddColumnDef("NAME", ftString, 5, false, 2, false, 0);
  query.AddColumnDef("ID", ftInteger, 0, false, 3, false, 0);
  EXPECT_EQ(query.FieldDefs().Items(2).name, "ID3");
}

TEST(RecordLayout, StoreFieldValueStaysInsideTheSlot) {
  TcsQuery query;
  query.AddColumnDef("S", ftString, 3, false, 1, false, 0);
  query.AddColumnDef("N", ftInteger, 0, false, 2, false, 0);
  std::vector<char> buffer(static_cast<size_t>(query.DataSize()) + 8, 'x');
  query.StoreFieldValue(1, "abcdefgh", buffer.data(), 8);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(std::string(buffer.data() + 1, 4), std::string("abcd"));
  EXPECT_EQ(buffer[5], 'x');  // the next slot's null byte is untouched
  query.StoreFieldValue(1, "ab", buffer.data(), 2);
  EXPECT_STREQ(buffer.data() + 1, "ab");
  query.StoreFieldValue(9, "zz", buffer.data(), 2);  // no such slot
  query.StoreFieldNull(1, buffer.data());
  EXPECT_EQ(buffer[0], 0);
}

TEST(TcsBuffers, PositionsAreOneBasedAndOutsideReadsAsZeros) {
  TcsBuffers buffers(4, false);
  EXPECT_EQ(buffers.Add("aaaa"), 1);
  EXPECT_EQ(buffers.Add("cccc"), 2);
  buffers.Insert(2, "bbbb");
  char row[4];
  buffers.Get(row, 2);
  EXPECT_EQ(std::string(row, 4), "bbbb");
  buffers.Get(row, 4);
  EXPECT_EQ(std::string(row, 4), std::string(4, '\0'));
  EXPECT_FALSE(buffers.Delete(0));
  EXPECT_TRUE(buffers.Delete(1));
  buffers.Put("dddd", 2);
  buffers.Get(row, 2);
  EXPECT_EQ(std::string(row, 4), "dddd");
  EXPECT_EQ(buffers.Count(), 2);
}

// Rows are packed into chunks of many rows (262 rows of 1000 bytes to a
// chunk; a row of 6000 bytes is not split); a row inserted between them, or
// deleted, keeps every other row's bytes in place and in order.
TEST(TcsBuffers, RowsAcrossChunksKeepTheirBytesThroughInsertsAndDeletes) {
  for (const int size : {1000, 6000}) {
    SCOPED_TRACE(size);
    constexpr int kRows = 1000;
    TcsBuffers buffers(size, false);
    const auto row_of = [&](int n) { return std::string(size, static_cast<char>('a' + n % 26)); };
    for (int n = 0; n < kRows; ++n) EXPECT_EQ(buffers.Add(row_of(n).data()), n + 1);
    buffers.Insert(500, row_of(7).data());
    buffers.Insert(1, row_of(8).data());
    EXPECT_TRUE(buffers.Delete(501));  // the first inserted row
    EXPECT_TRUE(buffers.Delete(300));  // a row of a chunk
    ASSERT_EQ(buffers.Count(), kRows);
    std::vector<std::string> expected;
    expected.push_back(row_of(8));
    for (int n = 0; n < kRows; ++n) {
      if (n != 298) expected.push_back(row_of(n));
    }
    for (int position = 1; position <= buffers.Count(); ++position) {
      ASSERT_EQ(std::string(buffers.Row(position), size), expected[position - 1]) << position;
    }
    buffers.Clear();
    EXPECT_EQ(buffers.Count(), 0);
    EXPECT_EQ(buffers.Add(row_of(3).data()), 1);
    EXPECT_EQ(std::string(buffers.Row(1), size), row_of(3));
  }
}

TEST(TcsBuffers, SingleRowModeOverwritesTheOnlyRow) {
  TcsBuffers buffers(2, true);
  EXPECT_EQ(buffers.Add("aa"), 1);
  EXPECT_EQ(buffers.Add("bb"), 1);
  EXPECT_EQ(buffers.Count(), 1);
  EXPECT_EQ(std::string(buffers.Row(1), 2), "bb");
}

class FieldStorage : public ::testing::Test {
 protected:
  FieldStorage() : db_("FieldStorageDb") {
    db_.Driver().columns = {
        {"ID", ftAutoInc}, {"NAME", ftString, 10}, {"RO", ftInteger, 0, false, true}};
    db_.Driver().rows = {{1, "Smith", 5}, {2, TVariant(), 6}};
    query_.SetDataBaseName(db_.Name());
    query_.SetSQLText("select * from people");
    query_.SetQueryOptions(LocalEdit);
  }
  FakeDatabase db_;
  TcsQuery query_;
};

TEST_F(FieldStorage, AutoIncIsReadOnlyEvenWhenReportedWritable) {
  query_.Open();
  EXPECT_TRUE(query_.FieldByName("ID").ReadOnly());
  EXPECT_FALSE(query_.FieldByName("NAME").ReadOnly());
  EXPECT_TRUE(query_.FieldByName("RO").ReadOnly());
}

TEST_F(FieldStorage, ReadOnlyFieldRefusesWritesByDisplayName) {
  query_.Open();
  query_.Edit();
  TField& field = query_.FieldByName("RO");
  field.SetDisplayLabel("Read only column");
  try {
    field.SetAsInteger(3);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'Read only column' is read-only");
  }
}

TEST_F(FieldStorage, WritesOutsideEditModeAreRefused) {
  query_.Open();
  try {
    query_.FieldByName("NAME").SetAsString("x");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dataset not in edit mode.");
  }
}

TEST_F(FieldStorage, OldValueIsTheHeldRowAndNullWithoutOne) {
  query_.Open();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("Jones");
  EXPECT_EQ(query_.FieldByName("NAME").OldValue().AsString(), "Smith");
  EXPECT_EQ(query_.FieldByName("NAME").NewValue().AsString(), "Jones");
  query_.Cancel();
  query_.Append();
  EXPECT_TRUE(query_.FieldByName("NAME").OldValue().IsNull());
}

TEST_F(FieldStorage, GetFieldDataReportsNullAndCopiesTheSlot) {
  query_.Open();
  char text[11];
  ASSERT_TRUE(query_.GetFieldData(query_.FieldByName("NAME"), text));
  EXPECT_STREQ(text, "Smith");
  query_.Next();
  EXPECT_FALSE(query_.GetFieldData(query_.FieldByName("NAME"), text));
  EXPECT_EQ(query_.GetFieldDataPtr(query_.FieldByName("NAME")), nullptr);
  EXPECT_EQ(query_.FieldByName("ID").AsInteger(), 2);
}

TEST_F(FieldStorage, TrimAllStringsStoresTrimmedText) {
  query_.SetQueryOptions(LocalEdit | TrimAllStrings);
  query_.Open();
  query_.Edit();
  query_.FieldByName("NAME").SetAsString("ab  \t");
  EXPECT_EQ(query_.FieldByName("NAME").AsString(), "ab");
}

}  // namespace
}  // namespace velquarn
