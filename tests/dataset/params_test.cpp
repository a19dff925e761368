#include "dataset/params.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/exceptions.h"
#include "dataset/query.h"

namespace velquarn {
namespace {

std::vector<std::string> Names(const TParams& params) {
  std::vector<std::string> names;
  for (int i = 0; i < params.Count(); ++i) names.push_back(params.Items(i).Name());
  return names;
}

TEST(ParseSQL, ColonNameBecomesMarkerButNotInsideQuotes) {
  TParams params;
  EXPECT_EQ(ParseSQL("select * from t where a = :a and b = ':x'", &params),
            "select * from t where a = ? and b = ':x'");
  EXPECT_EQ(Names(params), std::vector<std::string>{"a"});
}

TEST(ParseSQL, DoubleColonBecomesOneColonWithoutParameter) {
  TParams params;
  EXPECT_EQ(ParseSQL("select a::int from t", &params), "select a:int from t");
  EXPECT_EQ(params.Count(), 0);
}

TEST(ParseSQL, NameEndsOnlyAtDelimiters) {
  TParams params;
  EXPECT_EQ(ParseSQL("insert into t values(:a,:b.c;:d=(:e)\r\n:f", &params),
            "insert into t values(?,?;?)\r\n?");
  EXPECT_EQ(Names(params), (std::vector<std::string>{"a", "b.c", "d=(:e", "f"}));
}

TEST(ParseSQL, QuotedNameLosesItsQuotesAndMayHoldBlanks) {
  TParams params;
  EXPECT_EQ(ParseSQL("select :\"my name\", :'x' from t", &params), "select ?, ? from t");
  EXPECT_EQ(Names(params), (std::vector<std::string>{"my name", "x"}));
}

TEST(ParseSQL, RepeatedNamesGiveRepeatedParameters) {
  TParams params;
  ParseSQL("select * from t where a = :k or b = :k", &params);
  EXPECT_EQ(Names(params), (std::vector<std::string>{"k", "k"}));
}

TEST(ParseSQL, EveryQuoteKindOpensALiteral) {
  TParams params;
  EXPECT_EQ(ParseSQL("select `:a`, \":b\" from t where c = :c", &params),
            "select `:a`, \":b\" from t where c = ?");
  EXPECT_EQ(Names(params), std::vector<std::string>{"c"});
}

TEST(QuerySQL, ProcessedTextEndsInOneBlankAndJoinsLines) {
  TcsQuery query;
  query.SetSQLText("select * from t where a = :a and b = ':x'");
  EXPECT_EQ(query.ProcessedSQL(), "select * from t where a = ? and b = ':x' ");
  query.SetSQLText("select *\r\nfrom t\r\nwhere a = :a");
  EXPECT_EQ(query.ProcessedSQL(), "select * from t where a = ? ");
  ASSERT_EQ(query.Params().Count(), 1);
}

TEST(QuerySQL, ParamCheckOffSendsTextUnchangedAndKeepsParams) {
  TcsQuery query;
  query.SetSQLText("select :a");
  query.Params().ParamByName("a").SetAsInteger(5);
  query.SetParamCheck(false);
  query.SetSQLText("select :b\r\nfrom t");
  EXPECT_EQ(query.ProcessedSQL(), "select :b\r\nfrom t");
  ASSERT_EQ(query.Params().Count(), 1);
  EXPECT_EQ(query.Params()[0].Name(), "a");
}

TEST(QuerySQL, ValuesSurviveAChangeForParametersThatKeepTheirNames) {
  TcsQuery query;
  query.SetSQLText("select * from t where a = :a and b = :b");
  query.Params().ParamByName("a").SetAsString("kept");
  query.Params().ParamByName("b").SetAsInteger(2);
  query.SetSQLText("select * from t where A = :A and c = :c");
  ASSERT_EQ(query.Params().Count(), 2);
  EXPECT_EQ(query.Params()[0].AsString(), "kept");
  EXPECT_EQ(query.Params()[0].DataType(), ftString);
  EXPECT_TRUE(query.Params()[1].IsNull());
  EXPECT_EQ(query.About(), "6.7.14");
}

TEST(TParams, ParamByNameIgnoresCaseAndNamesTheMissingOne) {
  TParams params;
  params.CreateParam(ftInteger, "Id", ptInput);
  EXPECT_EQ(&params.ParamByName("ID"), &params[0]);
  try {
    params.ParamByName("nope");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'nope' not found");
  }
}

TEST(TParam, NativeFormForBindingAndBack) {
  TParam text("s", ptInput);
  text.SetAsString("abc");
  ASSERT_EQ(text.GetDataSize(), 4);
  char buffer[16] = {1, 1, 1, 1, 1};
  text.GetData(buffer);
  EXPECT_STREQ(buffer, "abc");

  TParam number("n", ptInputOutput);
  number.SetValue(TVariant(int64_t{7}));
  EXPECT_EQ(number.DataType(), ftInteger);
  EXPECT_EQ(number.GetDataSize(), 4);
  const int32_t back = 42;
  number.SetData(&back, 4);
  EXPECT_EQ(number.AsInteger(), 42);

  TParam output("o", ptOutput, ftString);
  output.SetData("returned\0junk", 13);
  EXPECT_EQ(output.AsString(), "returned");

  TParam blob("b", ptInput);
  blob.SetAsBlob(std::string("a\0b", 3));
  EXPECT_EQ(blob.GetDataSize(), 3);
}

}  // namespace
}  // namespace velquarn
