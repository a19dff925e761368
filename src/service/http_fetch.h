// A plain HTTP GET for the client version list, over libcurl.
//
// The request sends Accept "text/html,application/xhtml+xml,application/xml;
// q=0.9,*/*;q=0.8" and the User-Agent kHttpUserAgent, accepts cookies for
// the length of one fetch, follows up to kHttpMaxRedirects redirects (http
// and https only), uses no proxy (whatever the environment says) and no
// authentication. The body is kept as raw bytes, one character per byte.
//
// Thread-safety: HttpGet may run on several threads at once; each call uses
// its own curl handle, and the library is initialised once per process.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace velquarn {

inline constexpr const char* kHttpUserAgent = "Velquarn/2.1";
inline constexpr const char* kHttpAccept =
    "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
inline constexpr long kHttpMaxRedirects = 5;
// A bigger body is refused as a failed transfer: the peer is not trusted to
// keep it small.
inline constexpr size_t kHttpMaxBodyBytes = 16 * 1024 * 1024;

struct THttpTimeouts {
  std::chrono::milliseconds connect{10000};
  std::chrono::milliseconds total{30000};
};

struct THttpResult {
  // The final HTTP status after redirects, or 0 when no response arrived.
  long status = 0;
  // The reason phrase of the final status line as sent ("Not Found"); empty
  // when the server sent none (HTTP/2 never does).
  std::string reason;
  std::string body;
  // Empty when a response arrived; else what went wrong (cannot resolve or
  // connect, timeout, broken transfer, too many redirects, body too big).
  std::string error;

  bool Responded() const { return error.empty(); }
  bool Succeeded() const { return Responded() && status >= 200 && status < 300; }
};

// Never throws for network or HTTP failures (they are in the result); only
// std::bad_alloc can escape.
THttpResult HttpGet(const std::string& url, const THttpTimeouts& timeouts = {});

}  // namespace velquarn
