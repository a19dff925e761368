// TSocket: an owned socket descriptor (closed in the destructor) and the
// socket calls the server and client share. Every socket is opened with
// SOCK_CLOEXEC; writes use MSG_NOSIGNAL and loop over EINTR and short
// writes. A TSocket is used by one thread at a time, except Shutdown, which
// another thread may call to wake a blocked reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/ip_address.h"

namespace velquarn {

enum class TAddressFamily { kIPv4, kIPv6 };

// One listening socket of the server: every local address of a family, or
// one local address (whose family then decides).
struct TBinding {
  TAddressFamily family = TAddressFamily::kIPv4;
  std::optional<TIpAddress> address;  // empty: every address of the family
  uint16_t port = 0;                  // 0: the server's default port
  bool tls = false;                   // connections start with a TLS handshake

  TBinding() = default;
  // Implicit, so that AddBinding(TAddressFamily::kIPv4) still reads as it did.
  TBinding(TAddressFamily every_address_of) : family(every_address_of) {}
  explicit TBinding(const TIpAddress& one)
      : family(one.IsV4() ? TAddressFamily::kIPv4 : TAddressFamily::kIPv6), address(one) {}
  // "0.0.0.0", "[::]" or the address ("127.0.0.1", "[::1]").
  std::string ToString() const;
  friend bool operator==(const TBinding&, const TBinding&) = default;
};

class TSocket {
 public:
  TSocket() = default;
  explicit TSocket(int fd) : fd_(fd) {}  // takes ownership
  TSocket(TSocket&& other) noexcept : fd_(other.Release()) {}
  TSocket& operator=(TSocket&& other) noexcept;
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;
  ~TSocket();

  int Fd() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Close() noexcept;

  // Writes every byte; raises ESocketError when the peer is gone or the
  // socket fails.
  void WriteAll(std::string_view bytes) const { WriteAll(bytes, {}); }
  // Writes first and then second in as few system calls as the kernel
  // takes (one, as a rule): a reply line and its block reach the peer
  // together without being joined in a copy first.
  void WriteAll(std::string_view first, std::string_view second) const;
  // Stops both directions; wakes a thread blocked on the socket. Never throws.
  void Shutdown() const noexcept;

  // TCP_NODELAY on (Nagle's algorithm off).
  void SetNoDelay() const;
  // Keep-alive on: first probe after idle_ms, then every interval_ms.
  void SetKeepAlive(int idle_ms, int interval_ms) const;
  // The peer's address as "host:port" ("[host]:port" for IPv6; empty when
  // unknown). An IPv4-mapped IPv6 peer is shown as IPv4.
  std::string PeerName() const;
  // The peer's numeric host alone, as in PeerName (empty when unknown).
  std::string PeerHost() const;

 private:
  int fd_ = -1;
};

// A listening socket on the binding's address or addresses (IPv6 with
// IPV6_V6ONLY, so an IPv4 listener can share the port), Nagle off.
// Raises ESocketError when it cannot bind or listen; the text names the
// address and the port.
TSocket ListenOn(const TBinding& binding, uint16_t port, int backlog);

// The port a bound socket listens on.
uint16_t LocalPort(const TSocket& socket);

}  // namespace velquarn
