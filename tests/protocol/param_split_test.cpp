#include "protocol/param_split.h"

#include <gtest/gtest.h>

namespace velquarn {
namespace {

using Params = std::vector<std::string>;

TEST(ParamSplit, SpaceDropsEmptyPieces) {
  EXPECT_EQ(SplitParams("a   b", ' '), (Params{"a", "b"}));
  EXPECT_EQ(SplitParams("  a b  ", ' '), (Params{"a", "b"}));
  EXPECT_TRUE(SplitParams("", ' ').empty());
  EXPECT_TRUE(SplitParams("    ", ' ').empty());
}

TEST(ParamSplit, SpaceKeepsTabsAndQuotes) {
  EXPECT_EQ(SplitParams("\ta \"b c\"", ' '), (Params{"\ta", "\"b", "c\""}));
}

TEST(ParamSplit, CommaTrimsPiecesAndDropsEmptyOnes) {
  EXPECT_EQ(SplitParams(" a , ,b,, c ", ','), (Params{"a", "", "b", "c"}));
}

TEST(ParamSplit, CommaEdges) {
  EXPECT_TRUE(SplitParams("", ',').empty());
  EXPECT_TRUE(SplitParams("   ", ',').empty());
  EXPECT_EQ(SplitParams(",a", ','), (Params{"a"}));
  EXPECT_EQ(SplitParams("a,", ','), (Params{"a"}));
  EXPECT_EQ(SplitParams("a, ", ','), (Params{"a"}));  // trailing blanks go first
  EXPECT_EQ(SplitParams("a b , c", ','), (Params{"a b", "c"}));
  EXPECT_EQ(SplitParams("x,\t,y", ','), (Params{"x", "", "y"}));
}

}  // namespace
}  // namespace velquarn
