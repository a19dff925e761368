#include "common/cp1252.h"

#include <gtest/gtest.h>

namespace velquarn {
namespace {

const char16_t kExpectedHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

TEST(Cp1252, HighControlRangeMapsBothWays) {
  for (unsigned byte = 0x80; byte < 0xA0; ++byte) {
    const char32_t cp = Cp1252ToCodePoint(static_cast<unsigned char>(byte));
    EXPECT_EQ(cp, kExpectedHigh[byte - 0x80]) << std::hex << byte;
    EXPECT_EQ(static_cast<unsigned char>(CodePointToCp1252(cp)), byte) << std::hex << byte;
  }
  EXPECT_EQ(CodePointToCp1252(0x0080), '?');
  EXPECT_EQ(CodePointToCp1252(0x0100), '?');
  EXPECT_EQ(CodePointToCp1252(0x1F600), '?');
  EXPECT_EQ(Cp1252ToCodePoint(0xE5), U'\u00E5');
}

TEST(Cp1252, EveryByteRoundTripsThroughUtf8AndUtf16) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  const std::u16string wide = Cp1252ToUtf16(all);
  EXPECT_EQ(Utf16ToCp1252(wide.data(), wide.size()), all);
}

TEST(Cp1252, SwedishLettersAndEuroInUtf8) {
  EXPECT_EQ(Cp1252ToUtf8("\xE5\xE4\xF6"), "\xC3\xA5\xC3\xA4\xC3\xB6");
  EXPECT_EQ(Utf8ToCp1252("\xC3\xA5\xC3\xA4\xC3\xB6"), "\xE5\xE4\xF6");
  EXPECT_EQ(Cp1252ToUtf8("\x80 5"), "\xE2\x82\xAC 5");
  EXPECT_EQ(Utf8ToCp1252("\xE2\x82\xAC\xE2\x80\x9C"), "\x80\x93");
  // Characters cp1252 lacks: a Greek letter and an emoji.
  EXPECT_EQ(Utf8ToCp1252("a\xCE\xA9"
                         "b\xF0\x9F\x98\x80"
                         "c"),
            "a?b?c");
}

TEST(Cp1252, NonAsciiBytesAreFoundAtEveryPosition) {
  // ASCII runs are copied in blocks of eight; a letter at any offset of a
  // block must still be converted.
  for (size_t at = 0; at < 20; ++at) {
    std::string text(19, 'a');
    text.insert(at, 1, '\xE5');
    std::string utf8(19, 'a');
    utf8.insert(at, "\xC3\xA5");
    EXPECT_EQ(Cp1252ToUtf8(text), utf8) << at;
    EXPECT_EQ(Utf8ToCp1252(utf8), text) << at;
    std::string bad(19, 'a');
    bad.insert(at, 1, '\xFF');
    EXPECT_EQ(Utf8ToCp1252(bad), std::string(19, 'a').insert(at, 1, '?')) << at;
  }
  EXPECT_EQ(Cp1252ToUtf8(""), "");
  EXPECT_EQ(Utf8ToCp1252(""), "");
}

TEST(Cp1252, InvalidUtf8GivesOneQuestionMarkPerBadSequence) {
  EXPECT_EQ(Utf8ToCp1252("\x80"), "?");
  EXPECT_EQ(Utf8ToCp1252("a\xFF"
                         "b"),
            "a?b");
  EXPECT_EQ(Utf8ToCp1252("\xC0\x80"), "??");            // overlong NUL
  EXPECT_EQ(Utf8ToCp1252("\xE0\x80\x80"), "???");       // overlong
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???");       // surrogate
  EXPECT_EQ(Utf8ToCp1252("\xF4\x90\x80\x80"), "????");  // above U+10FFFF
  EXPECT_EQ(Utf8ToCp1252("\xE2\x82"
                         "x"),
            "?x");  // cut short inside
  // Truncated at the very end: the decoder must stop at the view's end even
  // when bytes that would complete the sequence follow in memory.
  const std::string backing = "\xC3\xA5";
  EXPECT_EQ(Utf8ToCp1252(std::string_view(backing.data(), 1)), "?");
  const std::string euro = "ab\xE2\x82\xAC";
  EXPECT_EQ(Utf8ToCp1252(std::string_view(euro.data(), 4)), "ab?");
}

TEST(Cp1252, Utf16SurrogatesBecomeOneQuestionMark) {
  const char16_t pair[] = {u'a', 0xD83D, 0xDE00, u'b'};
  EXPECT_EQ(Utf16ToCp1252(pair, 4), "a?b");
  const char16_t lone[] = {0xDC00, u'x', 0xD800};
  EXPECT_EQ(Utf16ToCp1252(lone, 3), "?x?");
  const char16_t euro[] = {0x20AC, 0x00E5};
  EXPECT_EQ(Utf16ToCp1252(euro, 2), "\x80\xE5");
  EXPECT_EQ(Cp1252ToUtf16("\x80\xE5"), u"\u20AC\u00E5");
}

TEST(Wire, OutgoingKeepsLatin1AndReplacesTheCp1252Extras) {
  EXPECT_EQ(ToWire("abc\xE5\xE4\xF6\xFF"), "abc\xE5\xE4\xF6\xFF");
  EXPECT_EQ(ToWire("\x80\x85\x9F"), "???");
  // The undefined bytes stand for the C1 controls of the same number.
  EXPECT_EQ(ToWire("\x81\x8D\x8F\x90\x9D"), "\x81\x8D\x8F\x90\x9D");
}

TEST(Wire, IncomingTakesBytesAsLatin1) {
  EXPECT_EQ(FromWire("abc\xE5\xE4\xF6"), "abc\xE5\xE4\xF6");
  EXPECT_EQ(FromWire("\x80\x9F"), "??");
  EXPECT_EQ(FromWire("\x81\x9D"), "\x81\x9D");
}

TEST(TCharset, NamesSelectConversionOrPassThrough) {
  EXPECT_TRUE(TCharset().IsUtf8());
  EXPECT_TRUE(TCharset::FromName("").IsUtf8());
  EXPECT_TRUE(TCharset::FromName("utf-8").IsUtf8());
  EXPECT_TRUE(TCharset::FromName("latin9").IsUtf8());
  EXPECT_FALSE(TCharset::FromName("cp1252").IsUtf8());
  EXPECT_FALSE(TCharset::FromName(" Windows-1252 ").IsUtf8());

  const TCharset utf8 = TCharset::FromName("UTF8");
  EXPECT_EQ(utf8.ToDriver("\xE5"), "\xC3\xA5");
  EXPECT_EQ(utf8.FromDriver("\xC3\xA5"), "\xE5");
  const TCharset raw = TCharset::FromName("CP1252");
  EXPECT_EQ(raw.ToDriver("\xE5\x80"), "\xE5\x80");
  EXPECT_EQ(raw.FromDriver("\xC3\xA5"), "\xC3\xA5");
}

TEST(Utf8, EncoderAgreesWithTheTextConversionForEveryByte) {
  for (int byte = 0; byte < 256; ++byte) {
    char bytes[kMaxUtf8Bytes];
    const size_t length = EncodeUtf8(Cp1252ToCodePoint(static_cast<unsigned char>(byte)), bytes);
    ASSERT_GE(length, 1u);
    ASSERT_LE(length, kMaxUtf8Bytes);
    EXPECT_EQ(std::string(bytes, length), Cp1252ToUtf8(std::string(1, static_cast<char>(byte))))
        << byte;
  }
  char bytes[kMaxUtf8Bytes];
  EXPECT_EQ(std::string(bytes, EncodeUtf8(0x20AC, bytes)), "\xE2\x82\xAC");
  EXPECT_EQ(std::string(bytes, EncodeUtf8(0x7FF, bytes)), "\xDF\xBF");
}

}  // namespace
}  // namespace velquarn
