#include "common/number_text.h"

#include <locale.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>

#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

namespace {

constexpr int kDigits = 15;

// Appends a non-negative exponent or digit count without leading zeros.
void AppendInt(std::string& out, int value) {
  char buffer[12];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// strtod in the "C" locale, for the rare texts that std::from_chars reports as
// out of range (it cannot tell an underflow to zero from an overflow).
double ParseOutOfRange(const std::string& text) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(text.c_str(), nullptr, c_locale);
}

}  // namespace

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";

  // std::to_chars is exact, rounds like printf and ignores the locale:
  // "-d.dddddddddddddde+XX". The exponent is taken after rounding, so
  // 999999999999999.5 becomes 1E15.
  char buffer[40];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::scientific, kDigits - 1);
  const char* p = buffer;
  const bool negative = *p == '-';
  if (negative) ++p;
  char digits[kDigits];
  int count = 0;
  for (; p < result.ptr && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits[count++] = *p;
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), result.ptr, exponent);
  while (count > 1 && digits[count - 1] == '0') --count;

  std::string out;
  out.reserve(24);
  if (negative) out += '-';
  if (exponent >= -4 && exponent < kDigits) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<size_t>(-exponent - 1), '0');
      out.append(digits, static_cast<size_t>(count));
    } else if (count <= exponent + 1) {
      out.append(digits, static_cast<size_t>(count));
      out.append(static_cast<size_t>(exponent + 1 - count), '0');
    } else {
      out.append(digits, static_cast<size_t>(exponent + 1));
      out += '.';
      out.append(digits + exponent + 1, static_cast<size_t>(count - exponent - 1));
    }
    return out;
  }
  out += digits[0];
  if (count > 1) {
    out += '.';
    out.append(digits + 1, static_cast<size_t>(count - 1));
  }
  out += 'E';
  if (exponent < 0) out += '-';
  AppendInt(out, exponent < 0 ? -exponent : exponent);
  return out;
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
