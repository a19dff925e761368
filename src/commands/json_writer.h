// The JSON documents of `infoJSON` and `getJSON`: the column list and the
// row document, built without line breaks as UTF-8 text.
//
// Column list: '{ "columns": [ ' items ' ] }', an item being
// '{ "name": <name>, "type": <code>, "length": <n|null>, "scale": <2|null> }'.
// Row document: '{ "rows": [ ' rows ' ] }', a row being '{ "<name>": <value>, ... }'.
// Names and text values are converted from code page 1252 to UTF-8 and
// escaped per RFC 8259. A NULL is the JSON string "null". Dates and
// date-times are millisecond counts (with the server time zone added, moved
// back 1969 years, days from 0001-01-01 as day 1), times the fraction of a
// day plus the zone in milliseconds. Booleans are JSON true / false and
// blobs a JSON string of upper-case hex. A float that is NaN or infinite is
// a JSON string of its text ("NAN", "INF", "-INF"), as JSON has no number
// for it.
//
// All functions are safe to call from any thread on distinct streams.
#pragma once

#include <cstdint>
#include <string_view>

#include "commands/text_stream.h"
#include "common/date_time.h"
#include "dataset/db_types.h"

namespace velquarn {

class TcsQuery;

// Appends the column list of the query's fields.
void WriteJsonColumns(TTextStream& stream, TcsQuery& query);

// Appends the row document of the query's rows from the current one to the
// end (the caller rewinds to the first row).
// Raises what the query raises (a closed dataset, fetch errors) and
// EConvertError "Invalid argument to date encode" for a date before 1970.
// Returns the number of rows written.
size_t WriteJsonRows(TTextStream& stream, TcsQuery& query, int32_t server_time_zone);

// The primitives.

// The JSON type code of a field type (1 string and others, 2 boolean,
// 3 integer, 4 float, 5 date, 6 time, 7 date-time, 8 bytes and blobs).
int JsonTypeCode(TFieldType type);
// A JSON string: the cp1252 text as UTF-8, with quote, backslash and the
// control characters escaped.
void AppendJsonString(TTextStream& stream, std::string_view cp1252_text);
// A float as JSON: the general 15-digit format; NaN and the infinities as
// strings ("NAN", "INF", "-INF"), since JSON has no token for them; and the
// few finite values whose 15-digit text rounds beyond the double range in
// their shortest exact form, so that a strict reader takes them.
void AppendJsonFloat(TTextStream& stream, double value);
// The millisecond count of a date or date-time value shifted by zone hours.
// Raises EConvertError "Invalid argument to date encode" when the value lies
// before 1970 after the shift.
double JsonDateMilliseconds(TDateTime value, int32_t zone_hours);
// The millisecond count of a time value shifted by zone hours (not wrapped).
double JsonTimeMilliseconds(TDateTime value, int32_t zone_hours);

}  // namespace velquarn
