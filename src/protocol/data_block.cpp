#include "protocol/data_block.h"

#include "common/cp1252.h"

namespace velquarn {

std::string FormatDataBlock(const std::vector<std::string>& lines) {
  std::string out;
  size_t size = 3;
  for (const auto& line : lines) size += line.size() + 3;
  out.reserve(size);
  for (const auto& line : lines) {
    if (!line.empty() && line[0] == '.') out += '.';
    out += ToWire(line);
    out += "\r\n";
  }
  out += ".\r\n";
  return out;
}

}  // namespace velquarn
