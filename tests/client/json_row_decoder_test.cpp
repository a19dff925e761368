#include "client/json_row_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "client/decode_error.h"
#include "client/field_defs.h"

namespace velquarn {
namespace {

using namespace std::string_literals;

TColumnDef JsonColumn(const std::string& data_type, int precision = -1) {
  TColumnDef column;
  column.Name = data_type;
  column.DataType = data_type;
  column.Precision = precision;
  column.Kind = ColumnKindOf(data_type, precision >= 0);
  return column;
}

TEST(JsonRowDecoderTest, ReadsEachTypeAsTheServerWritesIt) {
  const std::vector<TColumnDef> columns = {
      JsonColumn("int32"), JsonColumn("string"),   JsonColumn("double"),    JsonColumn("boolean"),
      JsonColumn("date"),  JsonColumn("datetime"), JsonColumn("time"),      JsonColumn("blob"),
      JsonColumn("bytes"), JsonColumn("memo"),     JsonColumn("double", 10)};
  // 1970-01-01 is 86400000; 2000-03-01 12:00 is 951912000000 (moved back by
  // 1969 years); 12:00 is 43200000.
  const std::string document =
      "{ \"rows\": [ { \"int32\": -3, \"string\": \"a\\\"b,\\u00e9\\u20ac\", \"double\": 1E-5, "
      "\"boolean\": true, \"date\": 86400000, \"datetime\": 951912000000, \"time\": 43200000, "
      "\"blob\": \"00FF\", \"bytes\": \"\\u0000\\u00ff,\", \"memo\": \"x\\r\\ny\", "
      "\"double\": 1.25 } ] }";
  const std::vector<TClientRow> rows = DecodeJsonRows(columns, document);
  ASSERT_EQ(rows.size(), 1u);
  const TClientRow& row = rows[0];
  EXPECT_EQ(row[0], TClientValue::OfInteger(-3));
  EXPECT_EQ(row[1], TClientValue::OfText("a\"b,\xE9\x80"));
  EXPECT_EQ(row[2], TClientValue::OfFloat(1e-5));
  EXPECT_EQ(row[3], TClientValue::OfBoolean(true));
  EXPECT_EQ(row[4], TClientValue::OfTime(TValueKind::kDate, {1970, 1, 1}));
  EXPECT_EQ(row[5], TClientValue::OfTime(TValueKind::kDateTime, {2000, 3, 1, 12, 0, 0}));
  EXPECT_EQ(row[6], TClientValue::OfTime(TValueKind::kTime, {0, 0, 0, 12, 0, 0}));
  EXPECT_EQ(row[7], TClientValue::OfBytes("\x00\xFF"s));
  EXPECT_EQ(row[8], TClientValue::OfBytes("\x00\xFF,"s));
  EXPECT_EQ(row[9], TClientValue::OfText("x\r\ny"));
  EXPECT_EQ(row[10], TClientValue::OfDecimal("1.25"));
}

TEST(JsonRowDecoderTest, NullsEmptyDocumentsAndTheTimeZone) {
  const std::vector<TColumnDef> columns = {JsonColumn("int32"), JsonColumn("datetime"),
                                           JsonColumn("time")};
  EXPECT_TRUE(DecodeJsonRows(columns, "{ \"rows\": [  ] }").empty());
  // With the server two hours ahead, 1970-01-01 00:00 is 93600000.
  const std::vector<TClientRow> rows = DecodeJsonRows(
      columns, "{ \"rows\": [ { \"a\": \"null\", \"b\": 93600000, \"c\": 50400000 } ] }", 2);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0][0].IsNull());
  EXPECT_EQ(rows[0][1], TClientValue::OfTime(TValueKind::kDateTime, {1970, 1, 1}));
  EXPECT_EQ(rows[0][2], TClientValue::OfTime(TValueKind::kTime, {0, 0, 0, 12, 0, 0}));
}

TEST(JsonRowDecoderTest, NonFiniteFloatsAsTheServerWritesThem) {
  // A JSON string, as JSON has no number for them; the bare token of older
  // servers reads too.
  const std::vector<TColumnDef> columns = {JsonColumn("double"), JsonColumn("currency"),
                                           JsonColumn("double")};
  const std::vector<TClientRow> rows =
      DecodeJsonRows(columns, "{ \"rows\": [ { \"a\": \"NAN\", \"b\": \"-INF\", \"c\": INF } ] }");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(std::isnan(rows[0][0].Float));
  EXPECT_EQ(rows[0][1].Float, -INFINITY);
  EXPECT_EQ(rows[0][2].Float, INFINITY);
  EXPECT_THROW(DecodeJsonRows(columns, "{ \"rows\": [ { \"a\": \"1.5\", \"b\": 1, \"c\": 1 } ] }"),
               EDecodeError);
}

TEST(JsonRowDecoderTest, BadDocumentsNameWhatWasExpected) {
  const std::vector<TColumnDef> columns = {JsonColumn("int32")};
  const auto message = [&](const std::string& document) {
    try {
      DecodeJsonRows(columns, document);
    } catch (const EDecodeError& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(message("{ \"rows\": [ { \"a\": 1 }").find("','"), std::string::npos);
  EXPECT_NE(message("{ \"columns\": [] }").find("\"rows\""), std::string::npos);
  EXPECT_NE(message("{ \"rows\": [ { \"a\": 1, \"b\": 2 } ] }").find("1 members"),
            std::string::npos);
  EXPECT_NE(message("{ \"rows\": [ { \"a\": \"x\" } ] }").find("an integer"), std::string::npos);
  EXPECT_NE(message("{ \"rows\": [ { \"a\": 1 } ] } x").find("end of the document"),
            std::string::npos);
  EXPECT_NE(message(std::string(10000, '[')).find("nested"), std::string::npos);
  EXPECT_NE(message("{ \"rows\": [ { \"a\": \"\\u12").find("hexadecimal"), std::string::npos);
}

}  // namespace
}  // namespace velquarn
