#include "support/local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velquarn::testing {

namespace {

constexpr size_t kMaxRequestHead = 64 * 1024;
constexpr int kClientTimeoutMs = 5000;

std::runtime_error SocketError(const char* what) {
  return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

uint16_t BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw SocketError("getsockname");
  return ntohs(address.sin_port);
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

}  // namespace

TLocalHttpServer::TLocalHttpServer() {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw SocketError("socket");
  const sockaddr_in address = Loopback(0);
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listen_fd_, 16) != 0) {
    const auto error = SocketError("bind/listen");
    close(listen_fd_);
    throw error;
  }
  port_ = BoundPort(listen_fd_);
  wake_fd_ = eventfd(0, EFD_CLOEXEC);
  if (wake_fd_ < 0) {
    const auto error = SocketError("eventfd");
    close(listen_fd_);
    throw error;
  }
  thread_ = std::thread([this] { Serve(); });
}

TLocalHttpServer::~TLocalHttpServer() {
  const uint64_t one = 1;
  if (write(wake_fd_, &one, sizeof(one)) < 0) {
    // The thread also ends when the listening socket is shut down.
    shutdown(listen_fd_, SHUT_RDWR);
  }
  if (thread_.joinable()) thread_.join();
  close(wake_fd_);
  close(listen_fd_);
}

void TLocalHttpServer::SetReply(int status, std::string reason, std::string body,
                                std::vector<std::string> extra_headers) {
  std::scoped_lock lock(mutex_);
  status_ = status;
  reason_ = std::move(reason);
  body_ = std::move(body);
  headers_ = std::move(extra_headers);
}

std::string TLocalHttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::string TLocalHttpServer::LastRequest() const {
  std::scoped_lock lock(mutex_);
  return last_request_;
}

void TLocalHttpServer::Serve() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Answer(client);
    close(client);
  }
}

void TLocalHttpServer::Answer(int client_fd) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestHead) {
    pollfd fd = {client_fd, POLLIN, 0};
    if (poll(&fd, 1, kClientTimeoutMs) <= 0) return;
    const ssize_t got = recv(client_fd, buffer, sizeof(buffer), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    head.append(buffer, static_cast<size_t>(got));
  }
  std::string reply;
  {
    std::scoped_lock lock(mutex_);
    last_request_ = head.substr(0, head.find("\r\n\r\n") + 2);
    reply = "HTTP/1.1 " + std::to_string(status_) + (reason_.empty() ? "" : " " + reason_) + "\r\n";
    for (const std::string& header : headers_) reply += header + "\r\n";
    reply += "Content-Length: " + std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n";
    reply += body_;
  }
  ++request_count_;
  SendAll(client_fd, reply);
}

uint16_t UnusedLocalPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw SocketError("socket");
  const sockaddr_in address = Loopback(0);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const auto error = SocketError("bind");
    close(fd);
    throw error;
  }
  const uint16_t port = BoundPort(fd);
  close(fd);
  return port;
}

}  // namespace velquarn::testing
