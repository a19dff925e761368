#include "protocol/reply.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"

namespace velquarn {
namespace {

TEST(Reply, OneLineReplyIsCodeSpaceText) {
  EXPECT_EQ(TReply(200, "Ok").FormatWire(), "200 Ok\r\n");
}

TEST(Reply, OnlyTheLastLineHasSpaceAfterCode) {
  TReply reply(400, "unknown command");
  reply.AddLine("frobnicate x");
  EXPECT_EQ(reply.FormatWire(), "400-unknown command\r\n400 frobnicate x\r\n");
}

TEST(Reply, TextSplitsAtEveryKindOfLineBreak) {
  TReply reply(500, "line one\r\nline two\nline three\rline four\r\n");
  EXPECT_EQ(reply.Text(),
            (std::vector<std::string>{"line one", "line two", "line three", "line four"}));
  EXPECT_EQ(TReply(500, "line one\nline two").FormatWire(), "500-line one\r\n500 line two\r\n");
  // Inner empty lines stay; only the trailing break adds nothing.
  EXPECT_EQ(SplitTextLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(SplitTextLines("").empty());
}

TEST(Reply, DefaultTextsByCodeClass) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {{100, "Information"},
               {200, "Ok"},
               {299, "Ok"},
               {300, "Temporary Error"},
               {400, "Permanent Error"},
               {512, "Unknown Internal Error"}};
  for (const auto& c : cases) {
    TReply reply(c.code, "");
    reply.FillDefaultText();
    EXPECT_EQ(reply.FormatWire(), std::to_string(c.code) + " " + c.text + "\r\n") << c.code;
  }
  TReply own(200, "OK");
  own.FillDefaultText();
  EXPECT_EQ(own.FormatWire(), "200 OK\r\n");
}

TEST(Reply, CodesOutsideRangeAreRejected) {
  TReply reply;
  for (const char* bad : {"99", "1000", "abc", "-200", "20x"}) {
    try {
      reply.SetCode(bad);
      ADD_FAILURE() << bad;
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), std::string("Reply Code is not valid: ") + bad);
    }
  }
  EXPECT_THROW(reply.SetCode(1000), Exception);
  reply.SetCode("999");
  EXPECT_EQ(reply.NumericCode(), 999);
  reply.SetCode("");
  EXPECT_FALSE(reply.HasCode());
  EXPECT_EQ(reply.FormatWire(), "");
}

TEST(Reply, NewCodeClearsTextSameCodeKeepsIt) {
  TReply reply(200, "kept");
  reply.SetCode(200);
  EXPECT_EQ(reply.Text(), std::vector<std::string>{"kept"});
  reply.SetCode(512);
  EXPECT_TRUE(reply.Text().empty());
}

TEST(Reply, CodeWithoutTextIsCodeAlone) {
  TReply reply(650, "");
  reply.FillDefaultText();
  EXPECT_EQ(reply.FormatWire(), "650\r\n");
}

TEST(Reply, OutgoingTextPassesThroughWireConversion) {
  // 0xE5 (a-ring) is a code point below 256 and goes as it is; the euro sign
  // (0x80 in cp1252, U+20AC) cannot be one byte on the wire.
  EXPECT_EQ(TReply(200, "\xE5 \x80").FormatWire(), "200 \xE5 ?\r\n");
}

}  // namespace
}  // namespace velquarn
