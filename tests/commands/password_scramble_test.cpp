#include "commands/password_scramble.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "common/exceptions.h"
#include "common/ini_file.h"

namespace velquarn {
namespace {

std::string Bytes(std::initializer_list<unsigned char> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Values worked out by hand from the constants: configuration files already
// written with them must keep opening, so the constants may never change.
TEST(PasswordScramble, KnownValuesPinTheConstants) {
  EXPECT_EQ(ScramblePassword("hunter2"), Bytes({0x32, 0xB4, 0xC1, 0xA4, 0x32, 0xF2, 0x25}));
  EXPECT_EQ(UnscramblePassword(Bytes({0x32, 0xB4, 0xC1, 0xA4, 0x32, 0xF2, 0x25})), "hunter2");
  EXPECT_EQ(ScramblePassword("secret"), Bytes({0x29, 0xBC, 0x97, 0x62, 0x0A, 0x07}));
  EXPECT_EQ(ScramblePassword(""), "");
}

TEST(PasswordScramble, EveryByteValueRoundTrips) {
  std::string all;
  for (int c = 0; c < 255; ++c) all += static_cast<char>(c + 1);
  ASSERT_EQ(all.size(), kMaxScrambledPasswordBytes);
  EXPECT_EQ(UnscramblePassword(ScramblePassword(all)), all);
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(UnscramblePassword(ScramblePassword(with_nul)), with_nul);
}

TEST(PasswordScramble, OnlyLengthModulo256BytesAreUnscrambled) {
  EXPECT_EQ(UnscramblePassword(std::string(256, 'x')), "");
  const std::string stored = ScramblePassword("ab") + std::string(256, 'q');
  EXPECT_EQ(UnscramblePassword(stored), "ab");
  EXPECT_THROW(ScramblePassword(std::string(256, 'p')), Exception);
}

TEST(PasswordScramble, LineBreaksAndNulCannotBeStored) {
  std::string why;
  EXPECT_FALSE(IsStorableOnIniLine("ab\rc", why));
  EXPECT_EQ(why, "a carriage return");
  EXPECT_FALSE(IsStorableOnIniLine("ab\nc", why));
  EXPECT_EQ(why, "a line feed");
  EXPECT_FALSE(IsStorableOnIniLine(std::string("ab\0c", 4), why));
  EXPECT_EQ(why, "a NUL byte");
  EXPECT_TRUE(IsStorableOnIniLine(" a\tb ", why));
  EXPECT_TRUE(IsStorableOnIniLine("", why));
}

TEST(PasswordScramble, OuterBlanksAndMatchingQuotesAreWrittenQuoted) {
  EXPECT_EQ(IniLineValue("abc"), "abc");
  EXPECT_EQ(IniLineValue(" abc"), "\" abc\"");
  EXPECT_EQ(IniLineValue("abc\t"), "\"abc\t\"");
  EXPECT_EQ(IniLineValue("\"abc\""), "\"\"abc\"\"");
  EXPECT_EQ(IniLineValue("'abc'"), "\"'abc'\"");
  EXPECT_EQ(IniLineValue("\"abc'"), "\"abc'");
  EXPECT_EQ(IniLineValue("\""), "\"");
}

// Through the real INI reader: whatever the tool accepts reads back as the
// same password.
TEST(PasswordScramble, AcceptedValuesReadBackThroughTheIniReader) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<int> byte(1, 255);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string password(static_cast<size_t>(length(random)), '\0');
    for (char& c : password) {
      do c = static_cast<char>(byte(random));
      while (c == '\n' || c == '\r');  // a password typed on one line has no line break
    }
    std::istringstream in(password + "\n");
    std::ostringstream out, err;
    if (RunScramblePasswordTool(in, out, err) != 0) continue;
    ++accepted;
    std::string line = out.str();
    ASSERT_EQ(line.back(), '\n');
    line.pop_back();
    TIniFile config;
    config.LoadFromText("[sales]\r\nPassword=" + line + "\r\nDSN=x\r\n");
    ASSERT_EQ(UnscramblePassword(config.ReadString("sales", "Password", "")), password) << round;
  }
  EXPECT_GT(accepted, 2000);
}

TEST(ScramblePasswordTool, PrintsTheValueAloneOnOneLine) {
  for (const char* input : {"hunter2\n", "hunter2\r\n", "hunter2"}) {
    std::istringstream in(input);
    std::ostringstream out, err;
    EXPECT_EQ(RunScramblePasswordTool(in, out, err), 0) << input;
    EXPECT_EQ(out.str(), ScramblePassword("hunter2") + "\n");
    EXPECT_EQ(err.str(), "");
  }
}

TEST(ScramblePasswordTool, QuotesAValueWithALeadingBlank) {
  // 'z' scrambles to a blank with the start key.
  std::istringstream in("z\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunScramblePasswordTool(in, out, err), 0);
  EXPECT_EQ(out.str(), "\" \"\n");
}

TEST(ScramblePasswordTool, RefusesWhatCannotBeStored) {
  struct Case {
    std::string input;
    std::string message;
  };
  const Case cases[] = {
      {"", "No password on standard input: write the password as one line\n"},
      {std::string(256, 'p') + "\n",
       "The password is 256 bytes long; a scrambled password holds at most 255 bytes\n"},
      {"secret\n",
       "The scrambled password contains a line feed and cannot be stored in the INI file; choose "
       "another password\n"},
      // 'W' scrambles to CR.
      {"W\n",
       "The scrambled password contains a carriage return and cannot be stored in the INI file; "
       "choose another "
       "password\n"},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    std::ostringstream out, err;
    EXPECT_EQ(RunScramblePasswordTool(in, out, err), 1) << c.input;
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), c.message);
  }
  std::istringstream in(std::string(255, 'p') + "\n");
  std::ostringstream out, err;
  RunScramblePasswordTool(in, out, err);
  EXPECT_EQ(err.str().find("bytes long"), std::string::npos) << "255 bytes is not too long";
}

}  // namespace
}  // namespace velquarn

namespace velquarn {
namespace {

// The first password "pw<n>" whose scrambled form the line protocol cannot
// carry, found rather than hard-wired so the test follows the constants.
std::string PasswordWithUnsendableScramble() {
  for (int n = 0; n < 10000; ++n) {
    const std::string candidate = "pw" + std::to_string(n);
    std::string why;
    const std::string scrambled = ScramblePassword(candidate);
    if (!SurvivesLineProtocol(scrambled) && IsStorableOnIniLine(scrambled, why)) return candidate;
  }
  return "";
}

TEST(ScramblePasswordTool, WarnsWhenTheValueWouldNotSurviveGetconfigAndSetconfig) {
  EXPECT_TRUE(SurvivesLineProtocol(ScramblePassword("hunter2")));
  EXPECT_FALSE(SurvivesLineProtocol(Bytes({'a', 0x80})));  // the euro sign goes as '?'
  EXPECT_FALSE(SurvivesLineProtocol(Bytes({0x9F})));
  EXPECT_TRUE(SurvivesLineProtocol(Bytes({0xA0, 0xE5, 0xFF})));

  const std::string password = PasswordWithUnsendableScramble();
  ASSERT_FALSE(password.empty());
  std::istringstream in(password + "\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunScramblePasswordTool(in, out, err), 0);
  EXPECT_EQ(out.str(), IniLineValue(ScramblePassword(password)) + "\n");
  EXPECT_NE(err.str().find("Warning: the scrambled value holds bytes (0x80-0x9F)"),
            std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("PasswordFile"), std::string::npos);
}

}  // namespace
}  // namespace velquarn
