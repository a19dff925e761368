// Scrambled passwords of the configuration file (key `Password` of a
// database section) and the operators' tool that writes them.
//
// The scrambling is a 16-bit running key started at kScrambleStartKey: each
// byte is XORed with the key's high byte, and the key then becomes
// (key + scrambled byte) * kScrambleMultiplier + kScrambleAddend, modulo
// 65536. It keeps a password from being read at a glance; it is not
// encryption.
//
// Thread-safety: all functions are pure (the tool touches only its streams).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace velquarn {

inline constexpr uint16_t kScrambleStartKey = 0x5A3C;
inline constexpr uint16_t kScrambleMultiplier = 0x6F19;
inline constexpr uint16_t kScrambleAddend = 0x3B07;
// Only (length modulo 256) bytes of a stored value are unscrambled, so the
// longest password that survives the trip is 255 bytes.
inline constexpr size_t kMaxScrambledPasswordBytes = 255;

// The plain password of a stored value: its first (size % 256) bytes
// unscrambled; a value of exactly 256 bytes gives an empty password.
std::string UnscramblePassword(std::string_view stored);

// The stored form of a plain password, the inverse of UnscramblePassword.
// Raises Exception when `plain` is longer than kMaxScrambledPasswordBytes.
std::string ScramblePassword(std::string_view plain);

// False, with `why` set to what is wrong ("a line feed"), when the value
// cannot be written on one INI key line at all: it contains CR, LF or NUL.
bool IsStorableOnIniLine(std::string_view scrambled, std::string& why);

// The text to write after "Password=" so that the INI reader gives back
// exactly `scrambled`: the value itself, or the value in double quotes when
// the reader would otherwise trim a blank or control character at either end
// or strip a matching pair of quotes. REQUIRES: IsStorableOnIniLine.
std::string IniLineValue(std::string_view scrambled);

// False when the scrambled value holds bytes that the line protocol cannot
// carry (the code page 1252 bytes 0x80-0x9F go out as '?'), so that the
// value does not survive `sys getconfig` followed by `sys setconfig`.
bool SurvivesLineProtocol(std::string_view scrambled);

// `velquarn --scramble-password`: reads one line (the password, without its
// LF or CR LF) from `in` and writes its scrambled value alone on one line to
// `out` as IniLineValue gives it; returns 0. Returns 1 with a message on
// `err`, writing nothing to `out`, when no line could be read, the password
// is longer than kMaxScrambledPasswordBytes, or its scrambled value contains
// CR, LF or NUL. A value that SurvivesLineProtocol refuses is written all
// the same, with a warning on `err` that points to PasswordFile.
int RunScramblePasswordTool(std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace velquarn
