// Data blocks: the lines that follow a reply. Every line is ended by CR LF;
// a line that begins with "." gets one more "." in front; a line of "."
// alone ends the block, so an empty block is just that line.
#pragma once

#include <string>
#include <vector>

namespace velquarn {

// The block's bytes as sent, every line through ToWire.
std::string FormatDataBlock(const std::vector<std::string>& lines);

}  // namespace velquarn
