// TMetricsEndpoint: the HTTP listener of Settings/MetricsAddress. One thread
// of its own accepts scrapers and answers one request at a time: it reads
// the request head (at most kMaxRequestHeadBytes) within the request
// timeout, asks the handler for the response and writes it within the same
// deadline, then closes the connection. A scraper that sends too much or
// too slowly is closed without an answer. Nothing here runs on, or waits
// for, the command server's threads; the handler only reads counters.
//
// Thread-safety: Start and Stop are called from one controlling thread; the
// handler runs on the endpoint's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "protocol/socket.h"
#include "service/metrics_address.h"

namespace velquarn {

class TMetricsEndpoint {
 public:
  struct TResponse {
    int status = 404;
    std::string content_type = "text/plain; charset=utf-8";
    std::string body = "Not Found\n";
  };
  // Called with the path of a GET or HEAD request.
  using THandler = std::function<TResponse(std::string_view path)>;

  static constexpr int kRequestTimeoutMs = 5000;

  TMetricsEndpoint(TMetricsAddress address, THandler handler,
                   int request_timeout_ms = kRequestTimeoutMs);
  TMetricsEndpoint(const TMetricsEndpoint&) = delete;
  TMetricsEndpoint& operator=(const TMetricsEndpoint&) = delete;
  // Stops the endpoint if it still runs.
  ~TMetricsEndpoint();

  // Binds, listens and starts the thread. Raises ESocketError when the
  // address cannot be bound; nothing is left listening then.
  void Start();
  // Closes the listener and the connection being served, and joins the
  // thread. Never throws.
  void Stop() noexcept;
  // The port listened on (useful with port 0). REQUIRES: started.
  uint16_t BoundPort() const;

 private:
  void Run();
  // Serves one accepted connection until its answer is written, its
  // deadline passes or a stop is requested.
  void Serve(const TSocket& client);
  // Waits until fd is ready for events; false when the deadline passed, a
  // stop was requested or the wait failed.
  bool WaitReady(int fd, short events, std::chrono::steady_clock::time_point deadline) const;
  // The response to a request head, as bytes on the wire.
  std::string Answer(const std::string& method, const std::string& path);

  TMetricsAddress address_;
  THandler handler_;
  int request_timeout_ms_;
  TSocket listener_;
  int stop_fd_ = -1;  // eventfd that wakes the thread to stop
  std::thread thread_;
};

}  // namespace velquarn
