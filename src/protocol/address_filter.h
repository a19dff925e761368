// The address settings of the service: lists of addresses and CIDR ranges
// that decide which peers may connect (Settings/AllowFrom) and which may run
// the configuration commands (Settings/AdminFrom), and the list of local
// addresses to listen on (Settings/ListenAddress).
//
// Lists are comma-separated; blanks around an entry and empty entries are
// ignored. An entry is an address ("192.0.2.7", "2001:db8::1") or a range
// ("10.0.0.0/8", "2001:db8::/32"). IPv4 entries also match IPv4 peers seen
// through an IPv6 socket (::ffff:a.b.c.d), and the IPv4-mapped range
// "::ffff:0:0/96" matches every IPv4 peer.
//
// Thread-safety: values; a filter is built before the server starts and
// only read afterwards, from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/ip_address.h"
#include "protocol/socket.h"

namespace velquarn {

struct TAddressRange {
  TIpAddress base;   // host bits cleared
  int prefix = 128;  // leading bits that must match, over the 128-bit form

  bool Contains(const TIpAddress& address) const;
  // "10.0.0.0/8", "2001:db8::/32"; an IPv4 range shows its IPv4 prefix.
  std::string ToString() const;
};

// "a.b.c.d", "a.b.c.d/0-32", an IPv6 literal, "ipv6/0-128". Host bits set
// under the prefix are cleared ("10.1.2.3/8" is "10.0.0.0/8"). Empty when
// the text is none of these.
std::optional<TAddressRange> ParseAddressRange(std::string_view text);

class TAddressFilter {
 public:
  // An empty filter: every peer is allowed.
  TAddressFilter() = default;

  // The filter of a setting's value. Raises Exception naming the key and
  // the offending entry ("Settings/AllowFrom: '10.0.0.300' is not an IP
  // address or CIDR range") when an entry does not parse, or when the value
  // is not blank but holds no entry: a list that silently came out empty
  // would let everyone in.
  static TAddressFilter Parse(std::string_view key, std::string_view value);

  bool Empty() const { return ranges_.empty() && common_names_.empty(); }
  const std::vector<TAddressRange>& Ranges() const { return ranges_; }
  // "CN=name" entries: a TLS client whose verified certificate carries this
  // common name (compared exactly) is allowed from any address.
  const std::vector<std::string>& CommonNames() const { return common_names_; }
  // True when the filter is empty, a range contains the peer or the
  // client's certificate name is listed. A peer whose address is unknown is
  // allowed only by an empty filter or by its name.
  bool Allows(const std::optional<TIpAddress>& peer, const std::string& common_name = "") const;

 private:
  std::vector<TAddressRange> ranges_;
  std::vector<std::string> common_names_;
};

// The bindings of Settings/ListenAddress: one per listed address, in list
// order without repeats. "*" stands for every local address: an IPv4
// binding on all addresses and, when ipv6 (Settings/IPV6) is true, an IPv6
// binding on all addresses as well. A blank value gives the same as "*".
// Raises Exception naming the key and the entry when an entry is not an
// address literal or "*".
std::vector<TBinding> ParseListenAddresses(std::string_view key, std::string_view value, bool ipv6);

}  // namespace velquarn
