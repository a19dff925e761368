#include "service/http_request.h"

namespace velquarn {

namespace {

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    default:
      return "Error";
  }
}

bool IsTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

}  // namespace

THeadState ParseRequestHead(std::string_view received, TRequestHead& head, size_t max_bytes) {
  size_t end = received.find("\r\n\r\n");
  size_t end_length = 4;
  const size_t bare = received.find("\n\n");
  if (bare != std::string_view::npos && (end == std::string_view::npos || bare < end)) {
    end = bare;
    end_length = 2;
  }
  if (end == std::string_view::npos) {
    return received.size() >= max_bytes ? THeadState::kTooLarge : THeadState::kIncomplete;
  }
  if (end + end_length > max_bytes) return THeadState::kTooLarge;

  std::string_view line = received.substr(0, received.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const size_t first_space = line.find(' ');
  const size_t last_space = line.rfind(' ');
  if (first_space == std::string_view::npos || first_space == last_space) {
    return THeadState::kMalformed;
  }
  const std::string_view method = line.substr(0, first_space);
  const std::string_view target = line.substr(first_space + 1, last_space - first_space - 1);
  const std::string_view version = line.substr(last_space + 1);
  if (method.empty() || target.empty() || target.front() != '/' ||
      target.find(' ') != std::string_view::npos || version.substr(0, 7) != "HTTP/1.") {
    return THeadState::kMalformed;
  }
  for (char c : method) {
    if (!IsTokenChar(c)) return THeadState::kMalformed;
  }
  head.method = std::string(method);
  head.path = std::string(target.substr(0, target.find('?')));
  return THeadState::kComplete;
}

std::string FormatHttpResponse(int status, std::string_view content_type, std::string_view body,
                               bool head_only) {
  std::string response = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  response += "Content-Type: ";
  response += content_type;
  response += "\r\nContent-Length: " + std::to_string(body.size());
  response += "\r\nConnection: close\r\n\r\n";
  if (!head_only) response += body;
  return response;
}

}  // namespace velquarn
