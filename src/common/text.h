// Small string helpers shared by every layer. Strings are code page 1252
// bytes; letter case rules are those of ASCII plus the Latin-1 letters
// (0xC0..0xDE and 0xE0..0xFE without the signs 0xD7 and 0xF7). All functions
// are thread-safe and independent of the process's locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velquarn {

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);    // case-insensitive
int CompareText(std::string_view a, std::string_view b);  // <0, 0, >0

// Trim removes leading and trailing characters <= ' ' (blanks and control
// characters); TrimRight only the trailing ones.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

std::string IntToStr(int64_t value);
// Leading blanks, an optional sign, then decimal digits, or hexadecimal
// digits after "$", "x" or "0x" (any letter case). Anything else, a trailing
// blank included, or a value outside the type's range makes the text invalid.
// Raises EConvertError "'%s' is not a valid integer value".
int64_t StrToInt(std::string_view text);
bool TryStrToInt(std::string_view text, int64_t& value);
int64_t StrToIntDef(std::string_view text, int64_t fallback);
// The same for a signed 32-bit integer (a row count, a port).
int32_t StrToInt32(std::string_view text);
bool TryStrToInt32(std::string_view text, int32_t& value);

// Upper-case hexadecimal of every byte ("0AFF").
std::string BytesToHex(std::string_view bytes);
// The upper-case hexadecimal digits, indexed by their value.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace velquarn
