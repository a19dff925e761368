#include "client/row_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "client/decode_error.h"
#include "client/field_defs.h"

namespace velquarn {
namespace {

using namespace std::string_literals;

TColumnDef RowColumn(const std::string& data_type, int size = 0, int precision = -1) {
  TColumnDef column;
  column.Name = "C";
  column.DataType = data_type;
  column.Size = size;
  column.Precision = precision;
  column.Kind = ColumnKindOf(data_type, precision >= 0);
  return column;
}

TEST(RowDecoderTest, ReadsEachTypeAsTheServerWritesIt) {
  const std::vector<TColumnDef> columns = {
      RowColumn("int32"),         RowColumn("string", 20), RowColumn("double"),
      RowColumn("double", 0, 12), RowColumn("boolean"),    RowColumn("date"),
      RowColumn("time"),          RowColumn("datetime"),   RowColumn("blob"),
      RowColumn("memo"),          RowColumn("currency"),   RowColumn("int64")};
  const std::string payload =
      "-7,\"a \"\"q\"\", b\",1.5E-5,-12.25,True,\"2024-02-29\",\"13:04:05\","
      "\"1999-12-31 23:59:58\",00FF41,4142,0.5,9223372036854775807\0"s;
  const std::vector<TClientRow> rows = DecodeRows(columns, payload);
  ASSERT_EQ(rows.size(), 1u);
  const TClientRow& row = rows[0];
  EXPECT_EQ(row[0], TClientValue::OfInteger(-7));
  EXPECT_EQ(row[1], TClientValue::OfText("a \"q\", b"));
  EXPECT_EQ(row[2], TClientValue::OfFloat(1.5e-5));
  EXPECT_EQ(row[3], TClientValue::OfDecimal("-12.25"));
  EXPECT_EQ(row[4], TClientValue::OfBoolean(true));
  EXPECT_EQ(row[5], TClientValue::OfTime(TValueKind::kDate, {2024, 2, 29}));
  EXPECT_EQ(row[6], TClientValue::OfTime(TValueKind::kTime, {0, 0, 0, 13, 4, 5}));
  EXPECT_EQ(row[7], TClientValue::OfTime(TValueKind::kDateTime, {1999, 12, 31, 23, 59, 58}));
  EXPECT_EQ(row[8], TClientValue::OfBytes("\x00\xFF\x41"s));
  EXPECT_EQ(row[9], TClientValue::OfText("AB"));
  EXPECT_EQ(row[10], TClientValue::OfFloat(0.5));
  EXPECT_EQ(row[11].Integer, INT64_MAX);
}

TEST(RowDecoderTest, NullsEmptyValuesAndMidnight) {
  const std::vector<TColumnDef> columns = {RowColumn("string", 5), RowColumn("int16"),
                                           RowColumn("blob"),      RowColumn("datetime"),
                                           RowColumn("boolean"),   RowColumn("memo")};
  // A NULL string and boolean are 0xFF, a NULL number is 0, an empty blob
  // is nothing, a date-time at midnight is the date alone.
  const std::string payload = "\xFF,0,,\"2020-01-02\",\xFF,\xFF\0\"\",0,\xFF,\xFF,False,\0"s;
  const std::vector<TClientRow> rows = DecodeRows(columns, payload);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0][0].IsNull());
  EXPECT_EQ(rows[0][1], TClientValue::OfInteger(0));
  EXPECT_EQ(rows[0][2], TClientValue::OfBytes(""));
  EXPECT_EQ(rows[0][3], TClientValue::OfTime(TValueKind::kDateTime, {2020, 1, 2}));
  EXPECT_TRUE(rows[0][4].IsNull());
  EXPECT_TRUE(rows[0][5].IsNull());
  EXPECT_EQ(rows[1][0], TClientValue::OfText(""));
  EXPECT_TRUE(rows[1][2].IsNull());
  EXPECT_TRUE(rows[1][3].IsNull());
  EXPECT_EQ(rows[1][4], TClientValue::OfBoolean(false));
  EXPECT_EQ(rows[1][5], TClientValue::OfText(""));
}

TEST(RowDecoderTest, RawByteColumnsMayHoldSeparatorsZerosAndFF) {
  // Fixed-size bytes and a variable binary column (named "string") travel
  // raw: any byte may stand in them.
  const std::vector<TColumnDef> columns = {RowColumn("bytes", 4), RowColumn("string", 3),
                                           RowColumn("int32")};
  const std::string payload = ",\0\xFF\",\0,\0,1\0\xFF,\xFF,2\0"s;
  const std::vector<TClientRow> rows = DecodeRows(columns, payload);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], TClientValue::OfBytes(",\0\xFF\""s));
  EXPECT_EQ(rows[0][1], TClientValue::OfBytes("\0,\0"s));
  EXPECT_EQ(rows[0][2], TClientValue::OfInteger(1));
  EXPECT_TRUE(rows[1][0].IsNull());
  EXPECT_TRUE(rows[1][1].IsNull());
  EXPECT_EQ(rows[1][2], TClientValue::OfInteger(2));
}

// Raw bytes of a string column (a variable binary column) may look like
// other values followed by separators; a token reads only in the server's
// own spelling (an integer without leading zeros, upper-case hex), so such
// look-alikes do not complete a wrong reading and the row sent is the row
// read.
TEST(RowDecoderTest, OnlyTheServersSpellingOfATokenReadsAsOne) {
  // Text and a second row "09" would spell the same bytes.
  const std::string quoted = "\"ab\"\0" "09\0"s;
  const std::vector<TClientRow> one = DecodeRows({RowColumn("string", 7)}, quoted);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0][0], TClientValue::OfBytes("\"ab\"\0" "09"s));

  // An auto-increment value read as 12 raw bytes "355807281,6F", and the
  // memo after it as "b1111111", would spell them too.
  const std::vector<TColumnDef> columns = {RowColumn("int32"), RowColumn("string", 12),
                                           RowColumn("memo"), RowColumn("string", 20)};
  const std::vector<TClientRow> rows =
      DecodeRows(columns, "0,355807281,6F,b1111111,11111111111\0"s);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], TClientValue::OfInteger(355807281));
  EXPECT_EQ(rows[0][2], TClientValue::OfText("o"));
  EXPECT_EQ(rows[0][3], TClientValue::OfBytes("b1111111,11111111111"));

  for (const std::string& token : {"-0"s, "007"s, "-01"s, "+1"s, "-"s}) {
    EXPECT_THROW(DecodeRows({RowColumn("int32")}, token + "\0"s), EDecodeError) << token;
  }
  EXPECT_EQ(DecodeRows({RowColumn("int32")}, "0\0-10\0"s)[1][0], TClientValue::OfInteger(-10));
  EXPECT_THROW(DecodeRows({RowColumn("blob")}, "6f\0"s), EDecodeError);
}

TEST(RowDecoderTest, QuotedTextMayHoldCommasZeroLookalikesAndFF) {
  const std::vector<TColumnDef> columns = {RowColumn("string", 10), RowColumn("string", 10)};
  const std::string payload = "\",\xFF,\",\"\"\"\"\0"s;
  const std::vector<TClientRow> rows = DecodeRows(columns, payload);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], TClientValue::OfText(",\xFF,"));
  EXPECT_EQ(rows[0][1], TClientValue::OfText("\""));
}

TEST(RowDecoderTest, FloatsInTheGeneralFormat) {
  const std::vector<TColumnDef> columns = {RowColumn("double")};
  const std::vector<TClientRow> rows = DecodeRows(columns,
                                                  "1E20\0-2.5\0"
                                                  "0\0NAN\0-INF\0"s);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0][0].Float, 1e20);
  EXPECT_EQ(rows[1][0].Float, -2.5);
  EXPECT_EQ(rows[2][0].Float, 0);
  EXPECT_TRUE(std::isnan(rows[3][0].Float));
  EXPECT_EQ(rows[4][0].Float, -INFINITY);
}

TEST(RowDecoderTest, TheLargestDoublesReadBackFromTheirFifteenDigits) {
  // 15 digits round the largest doubles up past the double range.
  const std::vector<TColumnDef> columns = {RowColumn("double")};
  const std::vector<TClientRow> rows =
      DecodeRows(columns, "1.79769313486232E308\0-1.79769313486232E308\0"s);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].Float, 1.7976931348623157e308);
  EXPECT_EQ(rows[1][0].Float, -1.7976931348623157e308);
  // Further out is no server's float.
  EXPECT_THROW(DecodeRows(columns, "1.8E308\0"s), EDecodeError);
  EXPECT_THROW(DecodeRows(columns, "1E400\0"s), EDecodeError);
}

TEST(RowDecoderTest, ZeroSizedBinaryColumnsAndZeroBytesInsideRawValues) {
  // A var-bytes column of size 0 is nothing between its separators.
  const std::vector<TClientRow> empty =
      DecodeRows({RowColumn("int32"), RowColumn("string", 0)}, "7,\0"s);
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0][1], TClientValue::OfBytes(""));
  // Raw bytes FF 00 read first as a NULL that ends the row; the bytes after
  // it then fit no row, so the whole raw value is the reading.
  const std::vector<TClientRow> rows = DecodeRows({RowColumn("string", 4)}, "\xFF\0ab\0\"q\"\0"s);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], TClientValue::OfBytes("\xFF\0ab"s));
  EXPECT_EQ(rows[1][0], TClientValue::OfText("q"));
}

TEST(RowDecoderTest, NonIsoDatesStayText) {
  const std::vector<TColumnDef> columns = {RowColumn("date")};
  const std::vector<TClientRow> rows = DecodeRows(columns, "\"31.12.1999\"\0"s);
  EXPECT_EQ(rows[0][0], TClientValue::OfText("31.12.1999"));
}

TEST(RowDecoderTest, BadBlocksNameWhatWasExpected) {
  const std::vector<TColumnDef> columns = {RowColumn("int32"), RowColumn("string", 5)};
  const auto message = [&](const std::string& payload) {
    try {
      DecodeRows(columns, payload);
    } catch (const EDecodeError& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(message("1,\"ab\"").find("row's zero byte"), std::string::npos);
  EXPECT_NE(message("1,\"ab\"").find("column 2"), std::string::npos);
  EXPECT_NE(message("x,\"ab\"\0"s).find("column 1"), std::string::npos);
  EXPECT_NE(message("1\0"s).find("','"), std::string::npos);
  EXPECT_NE(message("1,\"ab\"\0"
                    "2,\"unclosed\0"s)
                .find("row 2"),
            std::string::npos);
  EXPECT_THROW(DecodeRows({}, "x"), EDecodeError);
  EXPECT_TRUE(DecodeRows(columns, "").empty());
}

TEST(RowDecoderTest, HostileAmbiguityStaysLinear) {
  // Many raw-byte columns over a block of separators: every column has two
  // readings, yet the dead ends are remembered.
  std::vector<TColumnDef> columns(200, RowColumn("bytes", 1));
  std::string payload(4000, ',');
  EXPECT_THROW(DecodeRows(columns, payload), EDecodeError);
}

}  // namespace
}  // namespace velquarn
