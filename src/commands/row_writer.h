// The row format of `get` and the rendering of every field type in it.
//
// A row is the field values in field order separated by ",", then one byte
// 0x00. Strings, wide strings and dates are quoted (inner quotes doubled);
// integers are decimal; floats use the general format; booleans are True or
// False; BCD is fixed-point with at most four decimals; blobs and memos are
// upper-case hex; bytes and var-bytes are written raw. A NULL of a numeric
// type is "0", any other NULL the byte 0xFF.
//
// The writers append straight into a reused TTextStream: rendering a row
// allocates nothing beyond the stream's own growth (for the date formats of
// a regional locale longer than the short-string buffer, the date texts may).
// All functions are safe to call from any thread on distinct streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "commands/text_stream.h"
#include "common/date_time.h"
#include "dataset/db_types.h"

namespace velquarn {

class TField;
class TcsQuery;

// Writes the current row of the query's fields. Raises what the fields'
// accessors raise (conversion errors, blob reads).
void WriteRow(TTextStream& stream, TcsQuery& query);

// Writes one value of the query's current row, as above.
void WriteRowValue(TTextStream& stream, TcsQuery& query, TField& field);

// The primitive renderings, shared with the JSON writer.

// A double quote, the text with each double quote doubled, a double quote.
void AppendQuoted(TTextStream& stream, std::string_view text);
// Two upper-case hexadecimal digits per byte.
void AppendHex(TTextStream& stream, std::string_view bytes);
void AppendInteger(TTextStream& stream, int64_t value);
// The general float format: 15 significant digits, no trailing zeros, "."
// as decimal separator, fixed notation for 0.0001 <= |x| < 1E15, otherwise
// mantissa "E" exponent ("1E20", "1.5E-5"): FloatToStr's text.
void AppendGeneralFloat(TTextStream& stream, double value);

// A decimal text ("-12.34567") rounded half away from zero to at most four
// decimals, trailing zeros and a trailing point removed ("-12.3457").
void AppendDecimal4(TTextStream& stream, std::string_view decimal_text);

// Appends the value of a number field's slot as both payloads write it:
// integers in decimal, ftFloat and ftCurrency in the general float format,
// ftBCD with at most four decimals. False (nothing written) for other types.
bool AppendNumberSlot(TTextStream& stream, const TField& field, const char* data);

}  // namespace velquarn
