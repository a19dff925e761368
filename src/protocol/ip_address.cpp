#include "protocol/ip_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace velquarn {

namespace {

constexpr std::array<uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

TIpAddress FromV4(const in_addr& v4) {
  TIpAddress address;
  std::memcpy(address.bytes.data(), kMappedPrefix.data(), kMappedPrefix.size());
  std::memcpy(address.bytes.data() + 12, &v4, 4);
  return address;
}

TIpAddress FromV6(const in6_addr& v6) {
  TIpAddress address;
  std::memcpy(address.bytes.data(), &v6, 16);
  return address;
}

}  // namespace

bool TIpAddress::IsV4() const {
  return std::memcmp(bytes.data(), kMappedPrefix.data(), kMappedPrefix.size()) == 0;
}

std::string TIpAddress::ToString() const {
  char text[INET6_ADDRSTRLEN] = "";
  if (IsV4()) {
    ::inet_ntop(AF_INET, bytes.data() + 12, text, sizeof(text));
  } else {
    ::inet_ntop(AF_INET6, bytes.data(), text, sizeof(text));
  }
  return text;
}

socklen_t TIpAddress::ToSockAddr(uint16_t port, sockaddr_storage& storage) const {
  storage = {};
  if (IsV4()) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    std::memcpy(&v4->sin_addr, bytes.data() + 12, 4);
    return sizeof(sockaddr_in);
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  v6->sin6_family = AF_INET6;
  v6->sin6_port = htons(port);
  std::memcpy(&v6->sin6_addr, bytes.data(), 16);
  return sizeof(sockaddr_in6);
}

std::optional<TIpAddress> ParseIpAddress(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
    if (text.find(':') == std::string_view::npos) return std::nullopt;
  }
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  // inet_pton wants a terminated string and is strict: four dotted decimal
  // parts for IPv4 (no "10.1", no leading zeros), no zone id for IPv6.
  const std::string terminated(text);
  in_addr v4{};
  if (::inet_pton(AF_INET, terminated.c_str(), &v4) == 1) return FromV4(v4);
  in6_addr v6{};
  if (::inet_pton(AF_INET6, terminated.c_str(), &v6) == 1) return FromV6(v6);
  return std::nullopt;
}

std::optional<TIpAddress> IpAddressOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return FromV4(reinterpret_cast<const sockaddr_in*>(&address)->sin_addr);
  }
  if (address.ss_family == AF_INET6) {
    return FromV6(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr);
  }
  return std::nullopt;
}

std::optional<TIpAddress> PeerAddressOf(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof(address);
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return std::nullopt;
  return IpAddressOf(address);
}

}  // namespace velquarn
