// Decoding of the `get` payload: rows of values separated by "," and each
// ended by a zero byte, typed by the columns of the field-definition
// document. Pure functions; thread-safe.
//
// The format has no escapes: text is quoted with doubled quotes, a NULL is
// the byte 0xFF (numeric NULLs are written as 0 and read as 0), fixed-size
// byte columns travel as raw bytes in which any byte, commas and zeros
// included, may stand, and blobs and memos as hexadecimal text. A payload
// is therefore read by trying each reading of a value that its column
// allows and keeping the first reading of the whole payload in which every
// row ends in its zero byte. A "string" column may hold quoted text, raw
// bytes of its size (a variable-length binary column) or an integer (an
// auto-increment column) in the server's spelling, without leading zeros;
// quoted text is tried first, so raw bytes that themselves begin with a
// quote and end in one can read as text.
//
// Dates and times are read in the ISO forms the server writes under the C
// locale ("yyyy-mm-dd", "hh:mm:ss", both with one blank between); a server
// that renders another regional format yields the text of the value.
#pragma once

#include <string_view>
#include <vector>

#include "client/client_value.h"

namespace velquarn {

// Every row of the payload. Raises EDecodeError (decode_error.h) naming the
// row, the column and the byte offset where no reading fits.
std::vector<TClientRow> DecodeRows(const std::vector<TColumnDef>& columns,
                                   std::string_view payload);

// A date, time or date-time in the ISO forms above; false when text is not
// one of them or names an impossible date or time.
bool ParseIsoTime(std::string_view text, TValueKind kind, TCivilTime& time);

}  // namespace velquarn
