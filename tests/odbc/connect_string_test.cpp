#include "odbc/connect_string.h"

#include <gtest/gtest.h>

namespace velquarn {
namespace {

TEST(ConnectValue, PlainValuesStayAsTheyAre) {
  EXPECT_EQ(QuoteConnectValue(""), "");
  EXPECT_EQ(QuoteConnectValue("scott"), "scott");
  EXPECT_EQ(QuoteConnectValue("/srv/data/my db.sqlite"), "/srv/data/my db.sqlite");
}

TEST(ConnectValue, SpecialCharactersAndOuterBlanksGetBraces) {
  EXPECT_EQ(QuoteConnectValue("ab;cd}e"), "{ab;cd}}e}");
  EXPECT_EQ(QuoteConnectValue("u;Database=/some/other/file.db"),
            "{u;Database=/some/other/file.db}");
  EXPECT_EQ(QuoteConnectValue("a=b"), "{a=b}");
  EXPECT_EQ(QuoteConnectValue("{open"), "{{open}");
  EXPECT_EQ(QuoteConnectValue("x}"), "{x}}}");
  EXPECT_EQ(QuoteConnectValue(" pw"), "{ pw}");
  EXPECT_EQ(QuoteConnectValue("pw\t"), "{pw\t}");
  // A value that ends "}" after a doubled one, so reading the braces back
  // ends exactly at the last character.
  EXPECT_EQ(QuoteConnectValue("}};"), "{}}}};}");
}

TEST(ConnectValue, AlreadyQuotedValuesKeepTheirMeaning) {
  EXPECT_TRUE(IsBraceQuoted("{a;b}"));
  EXPECT_TRUE(IsBraceQuoted("{x}}y}"));
  EXPECT_TRUE(IsBraceQuoted("{}"));
  EXPECT_FALSE(IsBraceQuoted("{a}b}"));  // the first "}" ends it early
  EXPECT_FALSE(IsBraceQuoted("{a}};DSN=x}x"));
  EXPECT_FALSE(IsBraceQuoted("{"));
  EXPECT_EQ(QuoteConnectValue("{a;b}"), "{a;b}");
  EXPECT_EQ(QuoteConnectValue("{a};DSN={x}"), "{{a}};DSN={x}}}");
}

TEST(ConnectValue, PairsQuoteTheirValueOnly) {
  EXPECT_EQ(QuoteConnectPair("UID=u;DSN=other"), "UID={u;DSN=other}");
  EXPECT_EQ(QuoteConnectPair("PWD=a=b"), "PWD={a=b}");
  EXPECT_EQ(QuoteConnectPair("StepAPI=1"), "StepAPI=1");
  EXPECT_EQ(QuoteConnectPair("User Name="), "User Name=");
  EXPECT_EQ(QuoteConnectPair("NoValue"), "NoValue");
}

TEST(ConnectValue, ValuesThatABraceBlindDriverWouldSplit) {
  EXPECT_TRUE(ReadsAsOneValue("ab;cd}e"));
  EXPECT_TRUE(ReadsAsOneValue("a=b"));
  EXPECT_TRUE(ReadsAsOneValue(""));
  EXPECT_FALSE(ReadsAsOneValue("u;Database=/some/other/file.db"));
  EXPECT_FALSE(ReadsAsOneValue("x;;LoadExt=/tmp/evil.so"));
}

}  // namespace
}  // namespace velquarn
