#include "support/http_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace velquarn::testing {

THttpPeer::THttpPeer(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

THttpPeer::~THttpPeer() { ::close(fd_); }

bool THttpPeer::Send(const std::string& bytes) {
  return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> THttpPeer::ReadToClose(int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string text;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd fd{fd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    const ssize_t got = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (got <= 0) return text;
    text.append(chunk, static_cast<size_t>(got));
  }
}

std::string HttpGet(uint16_t port, const std::string& path) {
  THttpPeer peer(port);
  if (!peer.Connected()) return "";
  peer.Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  return peer.ReadToClose(10000).value_or("");
}

std::string BodyOf(const std::string& response) {
  const size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? "" : response.substr(end + 4);
}

double SampleOf(const std::string& text, const std::string& series) {
  const std::string head = series + " ";
  for (size_t at = 0; (at = text.find(head, at)) != std::string::npos; at += head.size()) {
    if (at == 0 || text[at - 1] == '\n') {
      return std::stod(text.substr(at + head.size(), text.find('\n', at) - at - head.size()));
    }
  }
  return -1;
}

}  // namespace velquarn::testing
