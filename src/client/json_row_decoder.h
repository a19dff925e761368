// Decoding of the `getJSON` document into the same typed values as
// DecodeRows (row_decoder.h), by the columns of the field-definition
// document. Pure functions; thread-safe.
//
// What the document carries differs from the row format in three ways that
// the values show: a NULL of any column is the JSON string "null" (so a text
// value "null" reads as NULL too, while numeric NULLs are told from 0);
// strings are UTF-8 and read back into code page 1252; dates and date-times
// are millisecond counts of a date moved back by 1969 years and shifted by
// the server's time zone (a 29 February comes back as 28 February).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "client/client_value.h"

namespace velquarn {

// Every row of the document. zone_hours is the database section's
// ServerTimeZone, which the server added to dates and times. Raises
// EDecodeError (decode_error.h) for text that is not JSON, a document
// without "rows", a row whose member count differs from the columns, or a
// value that its column cannot hold.
std::vector<TClientRow> DecodeJsonRows(const std::vector<TColumnDef>& columns,
                                       std::string_view document, int32_t zone_hours = 0);

}  // namespace velquarn
