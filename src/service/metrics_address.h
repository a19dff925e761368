// Settings/MetricsAddress: where the metrics endpoint listens, an IP
// address literal with a port ("127.0.0.1:9188", "[::1]:9188"). Empty means
// no endpoint.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/ip_address.h"

namespace velquarn {

struct TMetricsAddress {
  TIpAddress address;
  uint16_t port = 0;
};

// The address and port of text ("host:port", IPv6 in brackets), or empty
// when text is blank. Raises Exception naming Settings/MetricsAddress and
// the value when it is anything else: a host name, a missing or zero port,
// a port above 65535, an IPv6 address without brackets.
std::optional<TMetricsAddress> ParseMetricsAddress(std::string_view text);

}  // namespace velquarn
