// TIpAddress: an IPv4 or IPv6 address as the server sees a peer or binds a
// listener. An IPv4 address is held in its IPv4-mapped IPv6 form
// (::ffff:a.b.c.d), so a peer reached over an IPv4 socket and the same peer
// reached over a dual-stack IPv6 socket compare equal and fall in the same
// ranges.
//
// Thread-safety: values; every function is pure except PeerAddressOf, which
// asks the kernel about a socket.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velquarn {

struct TIpAddress {
  std::array<uint8_t, 16> bytes{};

  // True for an IPv4-mapped address (the form every IPv4 address takes).
  bool IsV4() const;
  // "192.0.2.7" for an IPv4 address, "2001:db8::1" otherwise.
  std::string ToString() const;
  // The address with port into `storage`; returns the length to pass to
  // bind or connect (a sockaddr_in for IPv4, a sockaddr_in6 otherwise).
  socklen_t ToSockAddr(uint16_t port, sockaddr_storage& storage) const;

  friend bool operator==(const TIpAddress&, const TIpAddress&) = default;
};

// A literal "192.0.2.7", "2001:db8::1", "::ffff:192.0.2.7" or "[::1]";
// nothing else (no host names, no zone ids, no shortened IPv4 forms).
std::optional<TIpAddress> ParseIpAddress(std::string_view text);

// The address of an AF_INET or AF_INET6 socket address; empty for any
// other family.
std::optional<TIpAddress> IpAddressOf(const sockaddr_storage& address);

// The peer of a connected socket (getpeername); empty when the kernel does
// not know it or the socket is not an IP socket.
std::optional<TIpAddress> PeerAddressOf(int fd);

}  // namespace velquarn
