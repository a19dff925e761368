#include "protocol/line_reader.h"

#include <gtest/gtest.h>

namespace velquarn {
namespace {

using TResult = TLineReader::TResult;

std::vector<std::string> TakeAll(TLineReader& reader) {
  std::vector<std::string> lines;
  std::string line;
  while (reader.TakeLine(line) == TResult::kLine) lines.push_back(line);
  return lines;
}

TEST(LineReader, CrLfAndLfEndLines) {
  TLineReader reader(1000);
  reader.Append("one\r\ntwo\nthree\r\n");
  EXPECT_EQ(TakeAll(reader), (std::vector<std::string>{"one", "two", "three"}));
}

TEST(LineReader, OnlyOneCrBeforeLfIsRemoved) {
  TLineReader reader(1000);
  reader.Append("\r\n\n\r\r\na\rb\r\n");
  EXPECT_EQ(TakeAll(reader), (std::vector<std::string>{"", "", "\r", "a\rb"}));
}

TEST(LineReader, PartialLineStaysBuffered) {
  TLineReader reader(1000);
  std::string line;
  reader.Append("tes");
  EXPECT_EQ(reader.TakeLine(line), TResult::kNeedMore);
  reader.Append("t\r");
  EXPECT_EQ(reader.TakeLine(line), TResult::kNeedMore);
  reader.Append("\nne");
  ASSERT_EQ(reader.TakeLine(line), TResult::kLine);
  EXPECT_EQ(line, "test");
  EXPECT_EQ(reader.Buffered(), 2u);
  reader.Append("xt\n");
  ASSERT_EQ(reader.TakeLine(line), TResult::kLine);
  EXPECT_EQ(line, "next");
}

TEST(LineReader, LineOfExactlyTheMaximumIsAccepted) {
  TLineReader reader(5);
  std::string line;
  reader.Append("12345\r");
  EXPECT_EQ(reader.TakeLine(line), TResult::kNeedMore);
  reader.Append("\n");
  ASSERT_EQ(reader.TakeLine(line), TResult::kLine);
  EXPECT_EQ(line, "12345");
}

TEST(LineReader, LongerLineIsReportedBeforeItsEnd) {
  TLineReader reader(5);
  std::string line;
  reader.Append("ok\n123456");
  ASSERT_EQ(reader.TakeLine(line), TResult::kLine);
  EXPECT_EQ(reader.TakeLine(line), TResult::kTooLong);
  TLineReader complete(5);
  complete.Append("123456\n");
  EXPECT_EQ(complete.TakeLine(line), TResult::kTooLong);
}

TEST(LineReader, ManySmallPiecesFormOneLargeLine) {
  TLineReader reader(10 * 1024 * 1024);
  std::string piece(1000, 'x');
  for (int i = 0; i < 5000; ++i) reader.Append(piece);
  reader.Append("\r\nafter\n");
  std::string line;
  ASSERT_EQ(reader.TakeLine(line), TResult::kLine);
  EXPECT_EQ(line.size(), 5000000u);
  ASSERT_EQ(reader.TakeLine(line), TResult::kLine);
  EXPECT_EQ(line, "after");
}

TEST(LineReader, RawBytesFollowLines) {
  TLineReader reader(100);
  reader.Append(
      std::string("line\n\x00\x00\x00\x02"
                  "a\nb\n",
                  13));
  std::string line;
  ASSERT_EQ(reader.TakeLine(line), TResult::kLine);
  std::string bytes;
  EXPECT_FALSE(reader.TakeBytes(100, bytes));
  ASSERT_TRUE(reader.TakeBytes(4, bytes));
  EXPECT_EQ(bytes, std::string("\x00\x00\x00\x02", 4));
  EXPECT_EQ(TakeAll(reader), (std::vector<std::string>{"a", "b"}));
}

TEST(LineReader, TakingBytesAfterAScanStillFindsTheNextLine) {
  TLineReader reader(100);
  std::string line;
  reader.Append("abcdef");
  EXPECT_EQ(reader.TakeLine(line), TResult::kNeedMore);
  std::string bytes;
  ASSERT_TRUE(reader.TakeBytes(2, bytes));
  reader.Append("\n");
  ASSERT_EQ(reader.TakeLine(line), TResult::kLine);
  EXPECT_EQ(line, "cdef");
}

}  // namespace
}  // namespace velquarn
