// The PROXY protocol header that a TCP load balancer puts in front of the
// client's bytes to tell the server the client's real address. Both
// versions are read: version 1, one text line
//   "PROXY TCP4 192.0.2.7 198.51.100.1 51000 8888\r\n"
// (TCP4, TCP6 or UNKNOWN; at most 107 bytes), and version 2, a binary
// header after a fixed 12-byte signature. A version 2 LOCAL header (the
// balancer's own health check) and a version 1 UNKNOWN header carry no
// client address: the connection's own peer stands.
//
// Thread-safety: pure functions on values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/ip_address.h"

namespace velquarn {

struct TProxyHeader {
  size_t length = 0;                 // bytes of the header, to skip
  std::optional<TIpAddress> source;  // empty: no client address carried
  uint16_t source_port = 0;
};

enum class TProxyParse { kComplete, kNeedMore, kInvalid };

// Reads a header from the start of bytes. kNeedMore while bytes are a
// proper prefix of a header that may still turn out valid; kInvalid as soon
// as they cannot start one (a client that sends a command first) or a field
// does not parse.
TProxyParse ParseProxyHeader(std::string_view bytes, TProxyHeader& header);

// The longest header read: version 1's limit, or version 2's 16 bytes and
// the address block with its extensions (which are skipped unread).
inline constexpr size_t kMaxProxyHeaderLength = 16 + 4096;

}  // namespace velquarn
