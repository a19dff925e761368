#include "client/field_defs.h"

#include <gtest/gtest.h>

#include "client/decode_error.h"

namespace velquarn {
namespace {

TEST(FieldDefsTest, ReadsTheServerDocument) {
  const std::vector<TColumnDef> columns = ParseFieldDefs(
      "<?xml version = \"1.0\" ?><fielddefs datetimeformat=\"iso\" decimalseparator=\".\">"
      "<field><name>ID</name><size>0</size><origin>ID</origin><required>true</required>"
      "<datatype>int32</datatype></field>"
      "<field><name>A&amp;B&lt;</name><size>30</size><origin>T.AB</origin>"
      "<readonly>true</readonly><datatype>string</datatype></field>"
      "<field><name>P</name><size>0</size><origin></origin><precision>12</precision>"
      "<datatype>double</datatype></field></fielddefs>");
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(columns[0].Name, "ID");
  EXPECT_TRUE(columns[0].Required);
  EXPECT_EQ(columns[0].Kind, TColumnKind::kInteger);
  EXPECT_EQ(columns[1].Name, "A&B<");
  EXPECT_EQ(columns[1].Origin, "T.AB");
  EXPECT_EQ(columns[1].Size, 30);
  EXPECT_TRUE(columns[1].ReadOnly);
  EXPECT_FALSE(columns[1].Required);
  EXPECT_EQ(columns[1].Kind, TColumnKind::kText);
  EXPECT_EQ(columns[2].Precision, 12);
  EXPECT_EQ(columns[2].Kind, TColumnKind::kDecimal);
}

TEST(FieldDefsTest, KindsOfEveryDataTypeName) {
  EXPECT_EQ(ColumnKindOf("int16", false), TColumnKind::kInteger);
  EXPECT_EQ(ColumnKindOf("int64", false), TColumnKind::kInteger);
  EXPECT_EQ(ColumnKindOf("double", false), TColumnKind::kFloat);
  EXPECT_EQ(ColumnKindOf("currency", false), TColumnKind::kFloat);
  EXPECT_EQ(ColumnKindOf("boolean", false), TColumnKind::kBoolean);
  EXPECT_EQ(ColumnKindOf("date", false), TColumnKind::kDate);
  EXPECT_EQ(ColumnKindOf("time", false), TColumnKind::kTime);
  EXPECT_EQ(ColumnKindOf("datetime", false), TColumnKind::kDateTime);
  EXPECT_EQ(ColumnKindOf("bytes", false), TColumnKind::kBytes);
  EXPECT_EQ(ColumnKindOf("blob", false), TColumnKind::kBlob);
  EXPECT_EQ(ColumnKindOf("memo", false), TColumnKind::kMemo);
  EXPECT_EQ(ColumnKindOf("whatever", false), TColumnKind::kText);
}

TEST(FieldDefsTest, MalformedDocumentsAreRefused) {
  EXPECT_THROW(ParseFieldDefs("200 OK"), EDecodeError);
  EXPECT_THROW(ParseFieldDefs("<fielddefs><field><name>A</name>"), EDecodeError);
  EXPECT_THROW(ParseFieldDefs("<fielddefs><field><name>A</name></field></fielddefs>"),
               EDecodeError);
  EXPECT_THROW(ParseFieldDefs("<fielddefs><field><size>x</size><datatype>string</datatype>"
                              "</field></fielddefs>"),
               EDecodeError);
  EXPECT_THROW(ParseFieldDefs("<fielddefs><field><name>&bad;</name><datatype>string"
                              "</datatype></field></fielddefs>"),
               EDecodeError);
  EXPECT_TRUE(ParseFieldDefs("<fielddefs></fielddefs>").empty());
}

}  // namespace
}  // namespace velquarn
