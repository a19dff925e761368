// Floating-point text in the general format: 15 significant digits, no
// trailing zeros, "." as decimal separator, exponent form below 0.0001 and
// from 1E15 on ("1E20", "1E-5", "1.5E-5"). NaN and the infinities give
// "NAN", "INF" and "-INF". Thread-safe and independent of the locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velquarn {

std::string FloatToStr(double value);
// FloatToStr into out, which holds at least kFloatTextBufferSize bytes;
// returns the length. Allocates nothing (for the row writers).
constexpr size_t kFloatTextBufferSize = 32;
size_t FormatFloat(double value, char* out);
// Parses "." decimal text with an optional sign and exponent; blanks around
// it are ignored; "inf", "nan", hexadecimal and values beyond the double
// range are refused (values too small for it read as 0). Raises
// EConvertError "'%s' is not a valid floating point value".
double StrToFloat(std::string_view text);
bool TryStrToFloat(std::string_view text, double& value);

}  // namespace velquarn
