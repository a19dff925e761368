// Text between the terminal (UTF-8) and the gateway: command lines go out as
// one byte per code point up to 255 (the wire's form), reply lines come back
// the same way, and row values are code page 1252. Pure functions.
#pragma once

#include <string>
#include <string_view>

namespace velquarn {

// A UTF-8 line as the wire carries it; characters beyond U+00FF become '?'.
std::string WireFromUtf8(std::string_view utf8);
// A reply line from the wire, for the terminal.
std::string Utf8FromWire(std::string_view wire);
// The columns a UTF-8 text takes on a terminal: one per code point.
size_t DisplayWidth(std::string_view utf8);

}  // namespace velquarn
