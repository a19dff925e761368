// Code page 1252, the one text encoding inside the server, and the
// conversions at its edges: the wire, JSON (UTF-8), the ODBC driver's
// encoding and 16-bit wide characters. Characters that the target lacks
// become '?'. All functions are thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velquarn {

// The Unicode code point of a cp1252 byte (undefined bytes map to U+0080..).
char32_t Cp1252ToCodePoint(unsigned char byte);
// The cp1252 byte for a code point, or '?' when cp1252 has none.
char CodePointToCp1252(char32_t code_point);
// Writes the UTF-8 bytes of a code point of the Basic Multilingual Plane
// (every code point cp1252 reaches) to out and returns their count, 1 to
// kMaxUtf8Bytes.
constexpr size_t kMaxUtf8Bytes = 3;
size_t EncodeUtf8(char32_t code_point, char* out);

std::string Cp1252ToUtf8(std::string_view text);
// Each invalid, overlong or truncated sequence gives one '?'; the decoder
// never reads past the end of the text.
std::string Utf8ToCp1252(std::string_view text);
// A surrogate pair or a lone surrogate gives one '?'.
std::string Utf16ToCp1252(const char16_t* units, size_t count);
std::u16string Cp1252ToUtf16(std::string_view text);

// Reply and data lines going out: each byte's code point is sent as one byte
// when it is <= 255, else '?' (so the cp1252 characters 0x80..0x9F go as '?').
std::string ToWire(std::string_view text);
// Incoming lines: each byte is code point 0..255, mapped back to cp1252.
std::string FromWire(std::string_view line);

// The driver's encoding named by a database section's `Charset` key.
// "UTF-8" (the default, also for an empty name) converts; "CP1252" and
// "WINDOWS-1252" (any letter case, blanks around ignored) pass text through
// unchanged. Any other name is taken as UTF-8, the encoding of the Linux
// drivers. Instances are immutable values, safe to share between threads.
class TCharset {
 public:
  TCharset() = default;  // UTF-8
  static TCharset FromName(std::string_view name);
  bool IsUtf8() const { return utf8_; }
  std::string ToDriver(std::string_view cp1252) const;
  std::string FromDriver(std::string_view driver_text) const;

 private:
  bool utf8_ = true;
};

}  // namespace velquarn
