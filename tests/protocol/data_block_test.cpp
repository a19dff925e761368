#include "protocol/data_block.h"

#include <gtest/gtest.h>

namespace velquarn {
namespace {

TEST(DataBlock, EmptyBlockIsTheDotLineAlone) { EXPECT_EQ(FormatDataBlock({}), ".\r\n"); }

TEST(DataBlock, LinesStartingWithDotGetAnotherDot) {
  EXPECT_EQ(FormatDataBlock({".", "..", ".x", "a.b", ""}), "..\r\n...\r\n..x\r\na.b\r\n\r\n.\r\n");
}

TEST(DataBlock, LinesPassThroughWireConversion) {
  EXPECT_EQ(FormatDataBlock({"\x93quoted\x94", "\xF6"}), "?quoted?\r\n\xF6\r\n.\r\n");
}

}  // namespace
}  // namespace velquarn
