// A tiny HTTP server on 127.0.0.1 for tests: it answers every request with
// one fixed reply (status, reason phrase, body, extra header lines), closes
// the connection after each reply, and counts the requests it has read.
//
// Thread-safety: the server runs its own accept thread; SetReply, the
// counters and the accessors may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velquarn::testing {

class TLocalHttpServer {
 public:
  // Listens on an ephemeral port of 127.0.0.1 and serves "200 OK" with an
  // empty body until SetReply says otherwise. Aborts the test program (via
  // an exception) when the socket cannot be set up.
  TLocalHttpServer();
  ~TLocalHttpServer();
  TLocalHttpServer(const TLocalHttpServer&) = delete;
  TLocalHttpServer& operator=(const TLocalHttpServer&) = delete;

  // `extra_headers` are whole header lines without line end ("Location: x").
  void SetReply(int status, std::string reason, std::string body,
                std::vector<std::string> extra_headers = {});

  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(std::string_view path = "/") const;
  int RequestCount() const { return request_count_.load(); }
  // The head of the latest request (request line and header lines, CR LF
  // ended), as received.
  std::string LastRequest() const;

 private:
  void Serve();
  void Answer(int client_fd);

  int listen_fd_ = -1;
  int wake_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<int> request_count_{0};
  mutable std::mutex mutex_;
  int status_ = 200;                  // Guarded by mutex_
  std::string reason_ = "OK";         // Guarded by mutex_
  std::string body_;                  // Guarded by mutex_
  std::vector<std::string> headers_;  // Guarded by mutex_
  std::string last_request_;          // Guarded by mutex_
  std::thread thread_;
};

// A port of 127.0.0.1 on which nothing listens: bound, read and closed again,
// so a connection to it is refused.
uint16_t UnusedLocalPort();

}  // namespace velquarn::testing
