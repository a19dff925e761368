#include "common/number_text.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

namespace {

constexpr int kDigits = 15;

// strtod in the "C" locale, for the rare texts that std::from_chars reports as
// out of range (it cannot tell an underflow to zero from an overflow).
double ParseOutOfRange(const std::string& text) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(text.c_str(), nullptr, c_locale);
}

}  // namespace

size_t FormatFloat(double value, char* out) {
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
  // The shortest form that reads back as the value is tried first (it is
  // much the faster): when it needs at most 15 significant digits, rounding
  // to 15 digits gives the same digits, because the value lies within half
  // a unit in the last place of it, far less than half a unit of the 15th
  // digit (for normal values). Only longer forms are formatted again with
  // 15 digits.
  char sci[40];
  auto result = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* mantissa_end = std::find(sci, result.ptr, 'e');
  const int mantissa_digits =
      static_cast<int>(mantissa_end - sci) - (sci[0] == '-') - (mantissa_end - sci > 2 ? 1 : 0);
  // Subnormal values carry fewer bits, so their shortest form can round
  // differently; they take the long way too.
  if (mantissa_digits > kDigits || std::fabs(value) < std::numeric_limits<double>::min()) {
    result =
        std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific, kDigits - 1);
  }
  const char* s = sci;
  if (*s == '-') {
    *p++ = '-';
    ++s;
  }
  char digits[kDigits];
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

  if (exponent >= -4 && exponent < kDigits) {
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
  p = std::to_chars(p, out + kFloatTextBufferSize, exponent).ptr;
  return static_cast<size_t>(p - out);
}

std::string FloatToStr(double value) {
  char buffer[kFloatTextBufferSize];
  return std::string(buffer, FormatFloat(value, buffer));
}

bool TryStrToFloat(std::string_view text, double& value) {
  const std::string trimmed = Trim(text);
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  const char* digits = begin;
  if (digits < end && (*digits == '+' || *digits == '-')) ++digits;
  // Only decimal digits or a point may start the number: std::from_chars
  // would also take "inf", "nan" and a second sign.
  if (digits == end || !((*digits >= '0' && *digits <= '9') || *digits == '.')) return false;
  double parsed = 0;
  const auto result = std::from_chars(digits, end, parsed, std::chars_format::general);
  if (result.ptr != end) return false;
  if (result.ec == std::errc::result_out_of_range) {
    parsed = ParseOutOfRange(std::string(digits, end));
    if (std::isinf(parsed)) return false;
  } else if (result.ec != std::errc()) {
    return false;
  }
  value = *begin == '-' ? -parsed : parsed;
  return true;
}

double StrToFloat(std::string_view text) {
  double value = 0;
  if (!TryStrToFloat(text, value)) {
    throw EConvertError(Format("'%.*s' is not a valid floating point value",
                               static_cast<int>(text.size()), text.data()));
  }
  return value;
}

}  // namespace velquarn
