// A loopback listener that plays the server for the client library's
// targets: it accepts the client's connection, sends the fuzz input and
// closes, so every read ends in data or in the client's exception.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "client/velquarn_client.h"

namespace velquarn::fuzz {

// Fits the socket buffers: the whole input is written before the client
// reads, without a writer thread.
inline constexpr size_t kMaxWire = 32 * 1024;

// The listening socket on 127.0.0.1 and its port, opened once.
class TListener {
 public:
  TListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::abort();
    }
    port_ = ntohs(address.sin_port);
  }

  // Connects client, sends wire to it from the server's side and closes
  // that side.
  void Serve(TVelquarnClient& client, std::string_view wire) const {
    client.Connect("127.0.0.1", port_, 1000);
    client.SetReadTimeoutMs(1000);
    const int server = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (server < 0) std::abort();
    if (::write(server, wire.data(), wire.size()) != static_cast<ssize_t>(wire.size())) {
      std::abort();
    }
    ::close(server);
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace velquarn::fuzz
