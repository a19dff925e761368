// Raw HTTP over loopback for tests of the metrics endpoint: a connection
// that sends exactly the bytes given, a whole GET, and the pieces of the
// exposition text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velquarn::testing {

// A loopback TCP connection for raw HTTP.
class THttpPeer {
 public:
  explicit THttpPeer(uint16_t port);
  ~THttpPeer();
  THttpPeer(const THttpPeer&) = delete;
  THttpPeer& operator=(const THttpPeer&) = delete;

  bool Connected() const { return connected_; }
  // False when the peer closed or reset before everything went out.
  bool Send(const std::string& bytes);
  // Everything until the peer closes (or resets); nullopt when it is still
  // open after timeout_ms.
  std::optional<std::string> ReadToClose(int timeout_ms);

 private:
  int fd_;
  bool connected_ = false;
};

// The whole response to a GET of path, "" when there was none.
std::string HttpGet(uint16_t port, const std::string& path);
// The body of a response: what follows the blank line after the head.
std::string BodyOf(const std::string& response);
// The value of the exposition sample line that starts with series, or -1.
double SampleOf(const std::string& text, const std::string& series);

}  // namespace velquarn::testing
