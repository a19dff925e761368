#include "dataset/field.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "dataset/query.h"
#include "fake_sql_driver.h"

namespace velquarn {
namespace {

using testing::FakeDatabase;

class Fields : public ::testing::Test {
 protected:
  Fields() : db_("FieldsDb") {
    db_.Driver().columns = {{"D", ftDate},     {"T", ftTime},          {"DT", ftDateTime},
                            {"B", ftBoolean},  {"L", ftLargeint},      {"S", ftSmallint},
                            {"W", ftWord},     {"C", ftBCD},           {"Y", ftBytes, 3},
                            {"F", ftCurrency}, {"WS", ftWideString, 4}};
    query_.SetDataBaseName(db_.Name());
    query_.SetSQLText("select * from t");
    query_.SetQueryOptions(LocalEdit);
    query_.Open();
    query_.Append();
  }
  TField& F(const char* name) { return query_.FieldByName(name); }
  FakeDatabase db_;
  TcsQuery query_;
};

TEST_F(Fields, EachFieldClassRoundTripsItsSlot) {
  const TDateTime when = EncodeDate(2024, 2, 29) + EncodeTime(13, 45, 30, 250);
  F("D").SetAsDateTime(when);
  F("T").SetAsDateTime(when);
  F("DT").SetAsDateTime(when);
  F("B").SetAsBoolean(true);
  F("L").SetAsInteger(int64_t{1} << 40);
  F("S").SetAsString("-12");
  F("W").SetAsInteger(65535);
  F("C").SetAsString("-1234.5600");
  F("Y").SetAsString("abcdef");
  F("F").SetAsFloat(2.5);
  F("WS").SetAsString("wide!");
  query_.Post();
  EXPECT_EQ(F("D").AsString(), "2024-02-29");
  EXPECT_EQ(F("T").AsString(), "13:45:30");
  EXPECT_EQ(F("DT").AsString(), "2024-02-29 13:45:30");
  EXPECT_DOUBLE_EQ(F("DT").AsFloat(), when);
  EXPECT_EQ(F("B").AsString(), "True");
  EXPECT_EQ(F("L").AsLargeInt(), int64_t{1} << 40);
  EXPECT_EQ(F("S").AsInteger(), -12);
  EXPECT_EQ(F("W").AsInteger(), 65535);
  EXPECT_EQ(F("C").AsString(), "-1234.56");
  EXPECT_DOUBLE_EQ(F("C").AsFloat(), -1234.56);
  EXPECT_EQ(F("Y").AsString(), "abc");
  EXPECT_EQ(F("F").AsString(), "2.5");
  EXPECT_EQ(F("WS").AsString(), "wide");
}

TEST_F(Fields, OutOfRangeAndBadTextAreRefused) {
  try {
    F("S").SetAsInteger(40000);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "40000 is not a valid value for field 'S'. The allowed range is -32768 to 32767");
  }
  EXPECT_THROW(F("W").SetAsInteger(-1), EDatabaseError);
  EXPECT_THROW(F("L").SetAsString("twelve"), EConvertError);
  EXPECT_THROW(F("C").SetAsString("1.2.3"), EConvertError);
}

TEST_F(Fields, NullReadsAsEmptyAndZero) {
  EXPECT_TRUE(F("D").IsNull());
  EXPECT_EQ(F("D").AsString(), "");
  EXPECT_EQ(F("L").AsInteger(), 0);
  EXPECT_FALSE(F("B").AsBoolean());
  EXPECT_TRUE(F("C").Value().IsNull());
  F("L").SetAsInteger(3);
  F("L").Clear();
  EXPECT_TRUE(F("L").IsNull());
}

TEST(TVariant, ConversionsBetweenKinds) {
  EXPECT_EQ(TVariant(1.5).AsString(), "1.5");
  EXPECT_EQ(TVariant("42").AsInteger(), 42);
  EXPECT_TRUE(TVariant("true").AsBoolean());
  EXPECT_EQ(TVariant(true).AsString(), "True");
  EXPECT_DOUBLE_EQ(TVariant("2024-01-02 03:04:05").AsDateTime(),
                   EncodeDate(2024, 1, 2) + EncodeTime(3, 4, 5, 0));
  EXPECT_THROW(TVariant("x").AsFloat(), EConvertError);
  EXPECT_TRUE(TVariant().IsNull());
  EXPECT_EQ(TVariant().AsString(), "");
}

}  // namespace
}  // namespace velquarn
