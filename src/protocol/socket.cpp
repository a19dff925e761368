#include "protocol/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/text.h"
#include "protocol/connection_errors.h"

namespace velquarn {

ESocketError::ESocketError(int error_code, const std::string& operation)
    : EConnectionError(Format("%s%s%s (Socket Error # %d)", operation.c_str(),
                              operation.empty() ? "" : ": ", std::strerror(error_code),
                              error_code)),
      error_code_(error_code) {}

TSocket& TSocket::operator=(TSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

TSocket::~TSocket() { Close(); }

int TSocket::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void TSocket::Close() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void TSocket::WriteAll(std::string_view first, std::string_view second) const {
  iovec pieces[2] = {{const_cast<char*>(first.data()), first.size()},
                     {const_cast<char*>(second.data()), second.size()}};
  iovec* next = pieces;
  size_t count = 2;
  for (;;) {
    while (count > 0 && next->iov_len == 0) {
      ++next;
      --count;
    }
    if (count == 0) return;
    msghdr message{};
    message.msg_iov = next;
    message.msg_iovlen = count;
    ssize_t sent = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      throw ESocketError(errno, "send");
    }
    // Past the pieces sent whole, into the one sent in part.
    for (auto done = static_cast<size_t>(sent); done > 0;) {
      const size_t taken = std::min(done, next->iov_len);
      next->iov_base = static_cast<char*>(next->iov_base) + taken;
      next->iov_len -= taken;
      done -= taken;
      if (next->iov_len == 0 && count > 1) {
        ++next;
        --count;
      }
    }
  }
}

void TSocket::Shutdown() const noexcept {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TSocket::SetNoDelay() const {
  int on = 1;
  if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) != 0) {
    throw ESocketError(errno, "setsockopt(TCP_NODELAY)");
  }
}

void TSocket::SetKeepAlive(int idle_ms, int interval_ms) const {
  // Linux counts keep-alive times in whole seconds.
  int on = 1;
  int idle = idle_ms < 1000 ? 1 : idle_ms / 1000;
  int interval = interval_ms < 1000 ? 1 : interval_ms / 1000;
  int count = 10;
  if (::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on)) != 0 ||
      ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle)) != 0 ||
      ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval)) != 0 ||
      ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof(count)) != 0) {
    throw ESocketError(errno, "setsockopt(SO_KEEPALIVE)");
  }
}

namespace {

// The peer's numeric host (an IPv4-mapped IPv6 address as plain IPv4, so
// one client counts as one host on either listener) and port; false when
// the socket has no peer.
bool PeerAddress(int fd, std::string& host, unsigned& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof(address);
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    auto* in = reinterpret_cast<sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
    port = ntohs(in->sin_port);
  } else if (address.ss_family == AF_INET6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
      ::inet_ntop(AF_INET, &in6->sin6_addr.s6_addr[12], text, sizeof(text));
    } else {
      ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof(text));
    }
    port = ntohs(in6->sin6_port);
  } else {
    return false;
  }
  host = text;
  return true;
}

}  // namespace

std::string TSocket::PeerName() const {
  std::string host;
  unsigned port = 0;
  if (!PeerAddress(fd_, host, port)) return "";
  if (host.find(':') != std::string::npos) return Format("[%s]:%u", host.c_str(), port);
  return Format("%s:%u", host.c_str(), port);
}

std::string TSocket::PeerHost() const {
  std::string host;
  unsigned port = 0;
  return PeerAddress(fd_, host, port) ? host : std::string();
}

std::string TBinding::ToString() const {
  if (address) return address->IsV4() ? address->ToString() : "[" + address->ToString() + "]";
  return family == TAddressFamily::kIPv6 ? "[::]" : "0.0.0.0";
}

TSocket ListenOn(const TBinding& binding, uint16_t port, int backlog) {
  const bool v6 = binding.family == TAddressFamily::kIPv6;
  TSocket socket(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.Valid()) throw ESocketError(errno, "socket");
  int on = 1;
  // SO_REUSEADDR lets a restarted service bind while old connections linger
  // in TIME_WAIT; Linux still refuses a port that another socket listens on.
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  socket.SetNoDelay();
  if (v6 && ::setsockopt(socket.Fd(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on)) != 0) {
    throw ESocketError(errno, "setsockopt(IPV6_V6ONLY)");
  }
  sockaddr_storage address{};
  socklen_t length;
  if (binding.address) {
    length = binding.address->ToSockAddr(port, address);
  } else if (v6) {
    auto* any = reinterpret_cast<sockaddr_in6*>(&address);
    any->sin6_family = AF_INET6;
    any->sin6_addr = in6addr_any;
    any->sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
  } else {
    auto* any = reinterpret_cast<sockaddr_in*>(&address);
    any->sin_family = AF_INET;
    any->sin_addr.s_addr = htonl(INADDR_ANY);
    any->sin_port = htons(port);
    length = sizeof(sockaddr_in);
  }
  if (::bind(socket.Fd(), reinterpret_cast<sockaddr*>(&address), length) != 0) {
    const int error = errno;
    if (binding.address) {
      throw ESocketError(error, Format("Could not bind socket to %s port %u",
                                       binding.ToString().c_str(), unsigned(port)));
    }
    throw ESocketError(error, Format("Could not bind socket to port %u", unsigned(port)));
  }
  if (::listen(socket.Fd(), backlog) != 0) throw ESocketError(errno, "listen");
  return socket;
}

uint16_t LocalPort(const TSocket& socket) {
  sockaddr_storage address{};
  socklen_t length = sizeof(address);
  if (::getsockname(socket.Fd(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw ESocketError(errno, "getsockname");
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  }
  return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

}  // namespace velquarn
