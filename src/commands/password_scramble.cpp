#include "commands/password_scramble.h"

#include <istream>
#include <ostream>

#include "common/cp1252.h"
#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

namespace {

uint16_t NextKey(uint16_t key, unsigned char scrambled) {
  // Computed in 32 bits and cut back: the product overflows 16 bits by design.
  const uint32_t next =
      (static_cast<uint32_t>(key) + scrambled) * kScrambleMultiplier + kScrambleAddend;
  return static_cast<uint16_t>(next & 0xFFFF);
}

unsigned char HighByte(uint16_t key) { return static_cast<unsigned char>(key >> 8); }

}  // namespace

std::string UnscramblePassword(std::string_view stored) {
  const size_t count = stored.size() % 256;
  std::string plain(count, '\0');
  uint16_t key = kScrambleStartKey;
  for (size_t i = 0; i < count; ++i) {
    const auto c = static_cast<unsigned char>(stored[i]);
    plain[i] = static_cast<char>(c ^ HighByte(key));
    key = NextKey(key, c);
  }
  return plain;
}

std::string ScramblePassword(std::string_view plain) {
  if (plain.size() > kMaxScrambledPasswordBytes) {
    throw Exception(
        Format("The password is %zu bytes long; a scrambled password holds at most %zu bytes",
               plain.size(), kMaxScrambledPasswordBytes));
  }
  std::string stored(plain.size(), '\0');
  uint16_t key = kScrambleStartKey;
  for (size_t i = 0; i < plain.size(); ++i) {
    const auto scrambled =
        static_cast<unsigned char>(static_cast<unsigned char>(plain[i]) ^ HighByte(key));
    stored[i] = static_cast<char>(scrambled);
    key = NextKey(key, scrambled);
  }
  return stored;
}

bool IsStorableOnIniLine(std::string_view scrambled, std::string& why) {
  for (char c : scrambled) {
    if (c == '\r') {
      why = "a carriage return";
      return false;
    }
    if (c == '\n') {
      why = "a line feed";
      return false;
    }
    if (c == '\0') {
      why = "a NUL byte";
      return false;
    }
  }
  return true;
}

std::string IniLineValue(std::string_view scrambled) {
  // The reader trims the value and then strips one pair of matching quotes,
  // so a value in double quotes keeps its outer blanks and its own quotes.
  const bool outer_blank =
      !scrambled.empty() && (static_cast<unsigned char>(scrambled.front()) <= ' ' ||
                             static_cast<unsigned char>(scrambled.back()) <= ' ');
  const bool outer_quotes = scrambled.size() >= 2 &&
                            (scrambled.front() == '"' || scrambled.front() == '\'') &&
                            scrambled.back() == scrambled.front();
  if (outer_blank || outer_quotes) return "\"" + std::string(scrambled) + "\"";
  return std::string(scrambled);
}

bool SurvivesLineProtocol(std::string_view scrambled) {
  return FromWire(ToWire(scrambled)) == scrambled;
}

int RunScramblePasswordTool(std::istream& in, std::ostream& out, std::ostream& err) {
  std::string password;
  if (!std::getline(in, password)) {
    err << "No password on standard input: write the password as one line\n";
    return 1;
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.size() > kMaxScrambledPasswordBytes) {
    err << "The password is " << password.size()
        << " bytes long; a scrambled password holds at most " << kMaxScrambledPasswordBytes
        << " bytes\n";
    return 1;
  }
  const std::string scrambled = ScramblePassword(password);
  std::string why;
  if (!IsStorableOnIniLine(scrambled, why)) {
    err << "The scrambled password contains " << why
        << " and cannot be stored in the INI file; choose another password\n";
    return 1;
  }
  if (!SurvivesLineProtocol(scrambled)) {
    err << "Warning: the scrambled value holds bytes (0x80-0x9F) that the line protocol sends as "
           "'?': a 'sys getconfig' followed by 'sys setconfig' destroys this password. Keep it "
           "in a file named by the section's PasswordFile key instead, or choose another "
           "password\n";
  }
  out << IniLineValue(scrambled) << '\n';
  out.flush();
  return out ? 0 : 1;
}

}  // namespace velquarn
