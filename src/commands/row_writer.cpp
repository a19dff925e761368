#include "commands/row_writer.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace velquarn {

namespace {

constexpr int kSignificantDigits = 15;
constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

size_t FormatGeneralFloat(double value, char* out) {
  char* p = out;
  if (std::isnan(value)) {
    std::memcpy(out, "NAN", 3);
    return 3;
  }
  if (std::isinf(value)) {
    if (value < 0) *p++ = '-';
    std::memcpy(p, "INF", 3);
    return static_cast<size_t>(p - out) + 3;
  }
  if (value == 0) {
    *out = '0';
    return 1;
  }
  // to_chars in scientific form rounds exactly and ignores the locale; the
  // exponent is read after rounding, so 999999999999999.5 becomes 1E15.
  char sci[40];
  const auto result = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific,
                                    kSignificantDigits - 1);
  const char* s = sci;
  if (*s == '-') {
    *p++ = '-';
    ++s;
  }
  char digits[kSignificantDigits];
  int count = 0;
  for (; s < result.ptr && *s != 'e'; ++s) {
    if (*s != '.') digits[count++] = *s;
  }
  ++s;  // 'e'
  const bool negative_exponent = *s == '-';
  ++s;  // the exponent's sign is always written
  int exponent = 0;
  std::from_chars(s, result.ptr, exponent);
  if (negative_exponent) exponent = -exponent;
  while (count > 1 && digits[count - 1] == '0') --count;

  if (exponent >= -4 && exponent < kSignificantDigits) {
    if (exponent < 0) {
      *p++ = '0';
      *p++ = '.';
      for (int i = -1; i > exponent; --i) *p++ = '0';
      std::memcpy(p, digits, static_cast<size_t>(count));
      p += count;
    } else if (count <= exponent + 1) {
      std::memcpy(p, digits, static_cast<size_t>(count));
      p += count;
      for (int i = count; i <= exponent; ++i) *p++ = '0';
    } else {
      std::memcpy(p, digits, static_cast<size_t>(exponent + 1));
      p += exponent + 1;
      *p++ = '.';
      std::memcpy(p, digits + exponent + 1, static_cast<size_t>(count - exponent - 1));
      p += count - exponent - 1;
    }
    return static_cast<size_t>(p - out);
  }
  *p++ = digits[0];
  if (count > 1) {
    *p++ = '.';
    std::memcpy(p, digits + 1, static_cast<size_t>(count - 1));
    p += count - 1;
  }
  *p++ = 'E';
  if (exponent < 0) {
    *p++ = '-';
    exponent = -exponent;
  }
  p = std::to_chars(p, out + kGeneralFloatBufferSize, exponent).ptr;
  return static_cast<size_t>(p - out);
}

void AppendGeneralFloat(TTextStream& stream, double value) {
  char buffer[kGeneralFloatBufferSize];
  stream.Write(buffer, FormatGeneralFloat(value, buffer));
}

void AppendInteger(TTextStream& stream, int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  stream.Write(buffer, static_cast<size_t>(result.ptr - buffer));
}

void AppendScaled4(TTextStream& stream, int64_t units) {
  char buffer[32];
  char* p = buffer;
  // Work on the magnitude as unsigned so the most negative value survives.
  uint64_t magnitude = static_cast<uint64_t>(units);
  if (units < 0) {
    *p++ = '-';
    magnitude = ~magnitude + 1;
  }
  p = std::to_chars(p, buffer + sizeof buffer, magnitude / 10000).ptr;
  unsigned fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction != 0) {
    *p++ = '.';
    char decimals[4];
    for (int i = 3; i >= 0; --i) {
      decimals[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    int used = 4;
    while (decimals[used - 1] == '0') --used;
    std::memcpy(p, decimals, static_cast<size_t>(used));
    p += used;
  }
  stream.Write(buffer, static_cast<size_t>(p - buffer));
}

void AppendQuoted(TTextStream& stream, std::string_view text) {
  stream.AppendChar('"');
  size_t start = 0;
  for (size_t quote = text.find('"'); quote != std::string_view::npos;
       quote = text.find('"', quote + 1)) {
    stream.AppendText(text.substr(start, quote + 1 - start));
    stream.AppendChar('"');
    start = quote + 1;
  }
  stream.AppendText(text.substr(start));
  stream.AppendChar('"');
}

void AppendHex(TTextStream& stream, std::string_view bytes) {
  char chunk[256];
  size_t used = 0;
  for (unsigned char byte : bytes) {
    chunk[used++] = kHexDigits[byte >> 4];
    chunk[used++] = kHexDigits[byte & 0x0F];
    if (used == sizeof chunk) {
      stream.Write(chunk, used);
      used = 0;
    }
  }
  stream.Write(chunk, used);
}

}  // namespace velquarn
