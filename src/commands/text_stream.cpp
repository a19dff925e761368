#include "commands/text_stream.h"

#include <limits>

#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

std::array<char, 4> CountedBlockHeader(size_t size) {
  // The count is unsigned 32-bit on the wire; a larger payload (a getJSON of
  // a huge result) cannot be framed and must fail rather than wrap.
  if (size > std::numeric_limits<uint32_t>::max()) {
    throw Exception(Format("Result too large to send: %zu bytes", size));
  }
  const auto n = static_cast<uint32_t>(size);
  return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
          static_cast<char>(n)};
}

std::string_view TTextStream::CountedBlock() {
  const std::array<char, 4> header = CountedBlockHeader(Position());
  buffer_.replace(0, kHeaderSize, header.data(), header.size());
  return buffer_;
}

}  // namespace velquarn
