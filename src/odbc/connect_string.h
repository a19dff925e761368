// Values in ODBC connection strings. A connection string is a list of
// "keyword=value" pairs separated by ";"; a value that holds ";", "{", "}"
// or "=" or that begins or ends with a blank must be written in braces, with
// every "}" inside doubled, or it would end early and let the rest of it
// name further keywords. Every value the service puts into a connection
// string goes through QuoteConnectValue, so that no value can add a keyword.
//
// Thread-safety: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace velquarn {

// The value as it stands when it needs no quoting, or when it already is a
// complete brace-quoted value ("{a;b}", "{x}}y}"); otherwise "{" + value with
// each "}" doubled + "}".
std::string QuoteConnectValue(std::string_view value);

// A "keyword=value" line with its value quoted: the keyword is what stands
// before the first "=". A line without "=" is returned as it stands.
std::string QuoteConnectPair(std::string_view line);

// True when the text is one complete brace-quoted value: "{", then any
// characters with each "}" doubled, then "}".
bool IsBraceQuoted(std::string_view value);

// False when a driver that reads connection strings without brace quoting
// (splitting at every ";", as the SQLite ODBC driver does) would find a
// further keyword in the value: a ";" followed later by "=". Such a value
// cannot be passed safely to every driver, however it is quoted.
bool ReadsAsOneValue(std::string_view value);

}  // namespace velquarn
