#include "service/metrics_endpoint.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "protocol/connection_errors.h"
#include "service/http_request.h"

namespace velquarn {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kListenQueue = 16;
constexpr auto kLingerAfterAnswer = std::chrono::milliseconds(200);

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TMetricsEndpoint::TMetricsEndpoint(TMetricsAddress address, THandler handler,
                                   int request_timeout_ms)
    : address_(address), handler_(std::move(handler)), request_timeout_ms_(request_timeout_ms) {}

TMetricsEndpoint::~TMetricsEndpoint() { Stop(); }

void TMetricsEndpoint::Start() {
  if (thread_.joinable()) return;
  TSocket listener = ListenOn(TBinding(address_.address), address_.port, kListenQueue);
  stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) throw ESocketError(errno, "eventfd");
  listener_ = std::move(listener);
  thread_ = std::thread([this] { Run(); });
}

void TMetricsEndpoint::Stop() noexcept {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  if (::write(stop_fd_, &one, sizeof(one)) < 0) {
    // Fails only on counter overflow, when the thread is awake already.
  }
  thread_.join();
  ::close(stop_fd_);
  stop_fd_ = -1;
  listener_ = TSocket();
}

uint16_t TMetricsEndpoint::BoundPort() const { return LocalPort(listener_); }

void TMetricsEndpoint::Run() {
  pthread_setname_np(pthread_self(), "Metrics");
  for (;;) {
    pollfd fds[2] = {{listener_.Fd(), POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if (ready <= 0 || fds[0].revents == 0) continue;
    TSocket client(::accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!client.Valid()) {
      // Out of descriptors: the connection stays queued; pause instead of
      // spinning on it.
      if (errno == EMFILE || errno == ENFILE || errno == ENOMEM || errno == ENOBUFS) {
        pollfd stop{stop_fd_, POLLIN, 0};
        ::poll(&stop, 1, 100);
      }
      continue;
    }
    try {
      Serve(client);
    } catch (...) {
      // A handler failure closes this scraper's connection only.
    }
  }
}

bool TMetricsEndpoint::WaitReady(int fd, short events, Clock::time_point deadline) const {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {stop_fd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && fds[1].revents == 0;
  }
}

void TMetricsEndpoint::Serve(const TSocket& client) {
  // One deadline for reading the request and writing the answer: a scraper
  // that reads slowly holds the endpoint no longer than one that sends
  // slowly.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(request_timeout_ms_);
  std::string received;
  TRequestHead head;
  std::string response;
  for (;;) {
    if (!WaitReady(client.Fd(), POLLIN, deadline)) return;
    char chunk[2048];
    const ssize_t got = ::recv(client.Fd(), chunk, sizeof(chunk), 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return;
    received.append(chunk, static_cast<size_t>(got));
    const THeadState state = ParseRequestHead(received, head);
    if (state == THeadState::kIncomplete) continue;
    if (state == THeadState::kTooLarge) return;
    response = state == THeadState::kMalformed
                   ? FormatHttpResponse(400, "text/plain; charset=utf-8", "Bad Request\n")
                   : Answer(head.method, head.path);
    break;
  }
  size_t sent = 0;
  while (sent < response.size()) {
    if (!WaitReady(client.Fd(), POLLOUT, deadline)) return;
    const ssize_t put =
        ::send(client.Fd(), response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
    if (put < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (put <= 0) return;
    sent += static_cast<size_t>(put);
  }
  // The request's unread rest, if any, must not turn the close into a reset
  // that discards the answer before the scraper read it: the scraper gets
  // the end of the answer and a moment to close its side first.
  ::shutdown(client.Fd(), SHUT_WR);
  const Clock::time_point linger = std::min(deadline, Clock::now() + kLingerAfterAnswer);
  for (;;) {
    if (!WaitReady(client.Fd(), POLLIN, linger)) return;
    char chunk[2048];
    const ssize_t got = ::recv(client.Fd(), chunk, sizeof(chunk), 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return;
  }
}

std::string TMetricsEndpoint::Answer(const std::string& method, const std::string& path) {
  const bool head_only = method == "HEAD";
  TResponse response;
  if (method == "GET" || head_only) response = handler_(path);
  return FormatHttpResponse(response.status, response.content_type, response.body, head_only);
}

}  // namespace velquarn
