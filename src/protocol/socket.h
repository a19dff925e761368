// TSocket: an owned socket descriptor (closed in the destructor) and the
// socket calls the server and client share. Every socket is opened with
// SOCK_CLOEXEC; writes use MSG_NOSIGNAL and loop over EINTR and short
// writes. A TSocket is used by one thread at a time, except Shutdown, which
// another thread may call to wake a blocked reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velquarn {

enum class TAddressFamily { kIPv4, kIPv6 };

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
  void WriteAll(std::string_view bytes) const;
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

// A listening socket on every local address of the family (IPv6 with
// IPV6_V6ONLY, so an IPv4 listener can share the port), Nagle off.
// Raises ESocketError when it cannot bind or listen.
TSocket ListenOn(TAddressFamily family, uint16_t port, int backlog);

// The port a bound socket listens on.
uint16_t LocalPort(const TSocket& socket);

}  // namespace velquarn
