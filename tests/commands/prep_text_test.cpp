#include "commands/prep_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velquarn {
namespace {

using Items = std::vector<std::string>;

TEST(ExecParamValue, UnquotedValueIsTakenUnchanged) {
  EXPECT_EQ(ExecParamValue("abc"), "abc");
  EXPECT_EQ(ExecParamValue("a\"b\""), "a\"b\"");
  EXPECT_EQ(ExecParamValue(""), "");
}

TEST(ExecParamValue, QuotedValueLosesQuotesAndHalvesDoubledOnes) {
  EXPECT_EQ(ExecParamValue("\"x\""), "x");
  EXPECT_EQ(ExecParamValue("\"say \"\"hi\"\"\""), "say \"hi\"");
  EXPECT_EQ(ExecParamValue("\"x y\""), "x y");
}

TEST(ExecParamValue, TextAfterClosingQuoteIsDropped) {
  EXPECT_EQ(ExecParamValue("\"ab\"cd"), "ab");
}

TEST(ExecParamValue, MissingClosingQuoteTakesTheRest) {
  EXPECT_EQ(ExecParamValue("\"x"), "x");
  EXPECT_EQ(ExecParamValue("\"a\"\"b"), "a\"b");
}

TEST(ExecParamValue, EmptyQuotedStringStaysAsSent) {
  EXPECT_EQ(ExecParamValue("\"\""), "\"\"");
  EXPECT_EQ(ExecParamValue("\""), "\"");
}

TEST(SplitCallList, EmptyTextGivesNoItems) { EXPECT_EQ(SplitCallList(""), Items{}); }

TEST(SplitCallList, CutsAtCommasKeepingBlanksAndEmptyItems) {
  EXPECT_EQ(SplitCallList("PROC"), (Items{"PROC"}));
  EXPECT_EQ(SplitCallList("PROC, a ,,b"), (Items{"PROC", " a ", "", "b"}));
  EXPECT_EQ(SplitCallList(",x"), (Items{"", "x"}));
}

TEST(SplitCallList, TrailingCommaAddsOneEmptyItem) {
  EXPECT_EQ(SplitCallList("PROC,"), (Items{"PROC", ""}));
  EXPECT_EQ(SplitCallList(","), (Items{"", ""}));
  EXPECT_EQ(SplitCallList("P,\"a\","), (Items{"P", "a", ""}));
}

TEST(SplitCallList, QuotedItemKeepsItsCommasAndLosesItsQuotes) {
  EXPECT_EQ(SplitCallList("MYPROC,1,\"a,b\""), (Items{"MYPROC", "1", "a,b"}));
  EXPECT_EQ(SplitCallList("P,\"say \"\"x,y\"\"\",2"), (Items{"P", "say \"x,y\"", "2"}));
  EXPECT_EQ(SplitCallList("P,\"\""), (Items{"P", ""}));
}

TEST(SplitCallList, TextAfterClosingQuoteIsAnItemOfItsOwn) {
  EXPECT_EQ(SplitCallList("P,\"a\"bc,d"), (Items{"P", "a", "bc", "d"}));
  EXPECT_EQ(SplitCallList("P,\"a\" "), (Items{"P", "a", " "}));
}

TEST(SplitCallList, QuoteAfterABlankIsAnOrdinaryCharacter) {
  EXPECT_EQ(SplitCallList("P, \"a,b\""), (Items{"P", " \"a", "b\""}));
}

TEST(SplitCallList, UnterminatedQuoteRunsToTheEnd) {
  EXPECT_EQ(SplitCallList("P,\"a,b"), (Items{"P", "a,b"}));
}

TEST(CallStatementLines, WithoutArgumentsIsTheCallAlone) {
  EXPECT_EQ(CallStatementLines("MYPROC", 0), (Items{"call MYPROC"}));
}

TEST(CallStatementLines, NumbersTheParametersFromOne) {
  EXPECT_EQ(CallStatementLines("PROC", 2), (Items{"call PROC", "(", ":p1", ",:p2", ")"}));
  EXPECT_EQ(CallStatementLines("X", 1), (Items{"call X", "(", ":p1", ")"}));
}

}  // namespace
}  // namespace velquarn
