// The two rules by which a command's raw parameter text becomes its
// parameter list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velquarn {

// Delimiter ' ': cut at every space; empty pieces are dropped. Nothing else
// is trimmed (tabs belong to the parameters) and there is no quoting.
// Delimiter ',' (and any other): the text is trimmed of characters <= ' ' at
// both ends; nothing left means no parameters. It is cut at every delimiter;
// a piece that is empty before trimming is dropped, every other piece is
// trimmed and kept, so a piece of blanks becomes an empty parameter.
std::vector<std::string> SplitParams(std::string_view raw, char delimiter);

}  // namespace velquarn
