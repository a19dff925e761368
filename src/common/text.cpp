#include "common/text.h"

#include <array>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "common/exceptions.h"

namespace velquarn {

namespace {

// Code page 1252 shares its letters 0xC0..0xFE with Latin-1; 0xD7 and 0xF7 are
// the multiplication and division signs.
constexpr bool IsLatinUpper(unsigned c) {
  return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
}
constexpr bool IsLatinLower(unsigned c) {
  return (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
}

constexpr std::array<unsigned char, 256> MakeUpperTable() {
  std::array<unsigned char, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    table[c] = static_cast<unsigned char>(IsLatinLower(c) ? c - 0x20 : c);
  }
  return table;
}
constexpr std::array<unsigned char, 256> MakeLowerTable() {
  std::array<unsigned char, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    table[c] = static_cast<unsigned char>(IsLatinUpper(c) ? c + 0x20 : c);
  }
  return table;
}

constexpr auto kUpper = MakeUpperTable();
constexpr auto kLower = MakeLowerTable();

inline unsigned char Lower(char c) { return kLower[static_cast<unsigned char>(c)]; }

inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void ThrowInvalidInteger(std::string_view text) {
  throw EConvertError(
      Format("'%.*s' is not a valid integer value", static_cast<int>(text.size()), text.data()));
}

}  // namespace

std::string Format(const char* format, ...) {
  // One pass into a stack buffer covers nearly every message; longer texts
  // are formatted a second time into a string of the exact size.
  char buffer[512];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  std::string result;
  if (length < 0) {
    va_end(copy);
    return result;
  }
  if (static_cast<size_t>(length) < sizeof buffer) {
    result.assign(buffer, static_cast<size_t>(length));
  } else {
    result.resize(static_cast<size_t>(length));
    vsnprintf(result.data(), result.size() + 1, format, copy);
  }
  va_end(copy);
  return result;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(kUpper[static_cast<unsigned char>(c)]);
  return result;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(kLower[static_cast<unsigned char>(c)]);
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    const int diff = static_cast<int>(Lower(a[i])) - static_cast<int>(Lower(b[i]));
    if (diff != 0) return diff;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string TrimLeft(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size() && IsBlank(text[begin])) ++begin;
  return std::string(text.substr(begin));
}

std::string TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

std::string IntToStr(int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool TryStrToInt(std::string_view text, int64_t& value) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    negative = text[pos] == '-';
    ++pos;
  }
  unsigned base = 10;
  if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
    base = 16;
    ++pos;
  } else if (pos + 1 < text.size() && text[pos] == '0' &&
             (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }
  if (pos == text.size()) return false;
  // Accumulate the magnitude unsigned so that the most negative value fits.
  const uint64_t limit =
      negative ? uint64_t{1} << 63 : uint64_t{std::numeric_limits<int64_t>::max()};
  uint64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = base == 16 ? HexDigit(text[pos])
                                 : (text[pos] >= '0' && text[pos] <= '9' ? text[pos] - '0' : -1);
    if (digit < 0) return false;
    if (magnitude > (limit - static_cast<unsigned>(digit)) / base) return false;
    magnitude = magnitude * base + static_cast<unsigned>(digit);
  }
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

int64_t StrToInt(std::string_view text) {
  int64_t value = 0;
  if (!TryStrToInt(text, value)) ThrowInvalidInteger(text);
  return value;
}

int64_t StrToIntDef(std::string_view text, int64_t fallback) {
  int64_t value = 0;
  return TryStrToInt(text, value) ? value : fallback;
}

bool TryStrToInt32(std::string_view text, int32_t& value) {
  int64_t wide = 0;
  if (!TryStrToInt(text, wide) || wide < std::numeric_limits<int32_t>::min() ||
      wide > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  value = static_cast<int32_t>(wide);
  return true;
}

int32_t StrToInt32(std::string_view text) {
  int32_t value = 0;
  if (!TryStrToInt32(text, value)) ThrowInvalidInteger(text);
  return value;
}

std::string BytesToHex(std::string_view bytes) {
  std::string result(bytes.size() * 2, '\0');
  char* out = result.data();
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    *out++ = kHexDigits[byte >> 4];
    *out++ = kHexDigits[byte & 0x0F];
  }
  return result;
}

}  // namespace velquarn
