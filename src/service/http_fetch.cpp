#include "service/http_fetch.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string_view>

namespace velquarn {

namespace {

void InitialiseCurlOnce() {
  static std::once_flag once;
  // curl_global_init is not thread-safe in every libcurl build; running it
  // once before the first handle keeps concurrent first fetches safe.
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TCurlEasyDeleter {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct TCurlListDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

struct TTransfer {
  THttpResult* result = nullptr;
  bool body_too_big = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<TTransfer*>(user);
  const size_t bytes = size * count;
  std::string& body = transfer->result->body;
  if (bytes > kHttpMaxBodyBytes - body.size()) {
    transfer->body_too_big = true;
    return 0;  // makes curl end the transfer with CURLE_WRITE_ERROR
  }
  body.append(data, bytes);
  return bytes;
}

// Keeps the reason phrase of the latest status line; with redirects there is
// one status line per response, and the last one is the final status.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<TTransfer*>(user);
  const size_t bytes = size * count;
  std::string_view line(data, bytes);
  if (line.substr(0, 5) == "HTTP/") {
    std::string& reason = transfer->result->reason;
    reason.clear();
    const size_t code_start = line.find(' ');
    if (code_start != std::string_view::npos) {
      const size_t reason_start = line.find(' ', code_start + 1);
      if (reason_start != std::string_view::npos) {
        std::string_view text = line.substr(reason_start + 1);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
        reason.assign(text.substr(0, 200));
      }
    }
  }
  return bytes;
}

}  // namespace

THttpResult HttpGet(const std::string& url, const THttpTimeouts& timeouts) {
  InitialiseCurlOnce();
  THttpResult result;
  std::unique_ptr<CURL, TCurlEasyDeleter> curl(curl_easy_init());
  if (!curl) {
    result.error = "The HTTP client could not be created";
    return result;
  }
  curl_slist* raw_headers =
      curl_slist_append(nullptr, (std::string("Accept: ") + kHttpAccept).c_str());
  std::unique_ptr<curl_slist, TCurlListDeleter> headers(raw_headers);
  if (!headers) {
    result.error = "The HTTP request headers could not be built";
    return result;
  }

  TTransfer transfer;
  transfer.result = &result;
  char error_buffer[CURL_ERROR_SIZE] = {};
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_USERAGENT, kHttpUserAgent);
  // An empty cookie file switches the cookie engine on without reading one.
  curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kHttpMaxRedirects);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // An empty proxy also overrides http_proxy and the other variables.
  curl_easy_setopt(handle, CURLOPT_PROXY, "");
  // The fetch runs on threads that are not the only ones in the process;
  // libcurl must not use signals for its timeouts there.
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts.total.count()));
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_buffer);

  const CURLcode code = curl_easy_perform(handle);
  if (code != CURLE_OK) {
    if (transfer.body_too_big) {
      result.error =
          "The response body is larger than " + std::to_string(kHttpMaxBodyBytes) + " bytes";
    } else {
      result.error = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(code);
    }
    result.status = 0;
    result.reason.clear();
    result.body.clear();
    return result;
  }
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &result.status);
  return result;
}

}  // namespace velquarn
