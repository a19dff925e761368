// The little of HTTP/1.x the metrics endpoint speaks: reading the head of a
// request (request line and headers) from what has arrived so far, and
// formatting a complete response that closes the connection.
//
// Thread-safety: pure functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velquarn {

// The most bytes a request head may take, request line and headers together.
inline constexpr size_t kMaxRequestHeadBytes = 8 * 1024;

enum class THeadState {
  kIncomplete,  // no blank line yet; read more
  kComplete,    // method and path filled in
  kTooLarge,    // no end of head within the limit: close the connection
  kMalformed,   // the request line is not "METHOD TARGET HTTP/1.x"
};

struct TRequestHead {
  std::string method;
  std::string path;  // the target without its query string
};

// Reads the head at the start of received, which ends at the first empty
// line (CR LF or LF line ends). The head may take at most max_bytes bytes,
// line ends included.
THeadState ParseRequestHead(std::string_view received, TRequestHead& head,
                            size_t max_bytes = kMaxRequestHeadBytes);

// "HTTP/1.1 STATUS REASON" with Content-Type, Content-Length and
// "Connection: close", then the body unless head_only (a HEAD request).
std::string FormatHttpResponse(int status, std::string_view content_type, std::string_view body,
                               bool head_only = false);

}  // namespace velquarn
