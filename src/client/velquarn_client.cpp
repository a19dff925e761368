#include "client/velquarn_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/exceptions.h"
#include "tls/tls_stream.h"

namespace velquarn {

namespace {

std::string ErrorText(const char* operation, int error) {
  return std::string(operation) + ": " + std::strerror(error);
}

bool ParseCode(std::string_view line, int& code) {
  if (line.size() < 3) return false;
  code = 0;
  for (int i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    code = code * 10 + (line[i] - '0');
  }
  return true;
}

}  // namespace

const std::string& TClientReply::Text() const {
  static const std::string kEmpty;
  return Lines.empty() ? kEmpty : Lines.back();
}

TVelquarnClient::TVelquarnClient(TVelquarnClient&& other) noexcept
    : fd_(other.fd_),
      tls_context_(std::move(other.tls_context_)),
      tls_(std::move(other.tls_)),
      read_timeout_ms_(other.read_timeout_ms_),
      buffer_(std::move(other.buffer_)),
      start_(other.start_) {
  other.fd_ = -1;
  other.start_ = 0;
}

TVelquarnClient& TVelquarnClient::operator=(TVelquarnClient&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    tls_context_ = std::move(other.tls_context_);
    tls_ = std::move(other.tls_);
    read_timeout_ms_ = other.read_timeout_ms_;
    buffer_ = std::move(other.buffer_);
    start_ = other.start_;
    other.fd_ = -1;
    other.start_ = 0;
  }
  return *this;
}

TVelquarnClient::~TVelquarnClient() { Close(); }

void TVelquarnClient::Close() noexcept {
  if (tls_) tls_->Close();
  tls_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  start_ = 0;
}

namespace {

// Binds the socket to a numeric local address of its family, any port.
bool BindSource(int fd, int family, const std::string& source) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (::getaddrinfo(source.c_str(), "0", &hints, &found) != 0 || found == nullptr) {
    errno = EADDRNOTAVAIL;
    return false;
  }
  const bool bound = ::bind(fd, found->ai_addr, found->ai_addrlen) == 0;
  ::freeaddrinfo(found);
  return bound;
}

}  // namespace

void TVelquarnClient::Connect(const std::string& host, uint16_t port, int timeout_ms) {
  Close();
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int result = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (result != 0) throw Exception("getaddrinfo: " + std::string(::gai_strerror(result)));
  std::string last_error = "no address";
  for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
    int fd = ::socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      last_error = ErrorText("socket", errno);
      continue;
    }
    if (!source_address_.empty() && !BindSource(fd, address->ai_family, source_address_)) {
      const int error = errno;
      last_error = ErrorText(("bind " + source_address_).c_str(), error);
      ::close(fd);
      continue;
    }
    int connected = ::connect(fd, address->ai_addr, address->ai_addrlen);
    if (connected != 0 && errno == EINPROGRESS) {
      pollfd poll_fd{fd, POLLOUT, 0};
      int error = 0;
      socklen_t length = sizeof(error);
      if (::poll(&poll_fd, 1, timeout_ms) == 1 &&
          ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
        connected = 0;
      } else {
        errno = error != 0 ? error : ETIMEDOUT;
      }
    }
    if (connected != 0) {
      last_error = ErrorText("connect", errno);
      ::close(fd);
      continue;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    fd_ = fd;
    break;
  }
  ::freeaddrinfo(found);
  if (fd_ < 0) throw Exception(last_error);
  if (!tls_context_) return;
  try {
    tls_ = std::make_unique<TTlsStream>(tls_context_, fd_);
    tls_->Handshake(timeout_ms);
  } catch (const ETlsError&) {
    Close();
    throw;
  }
}

std::string TVelquarnClient::TlsVersion() const { return tls_ ? tls_->Version() : ""; }

TClientReply TVelquarnClient::Open(const std::string& host, uint16_t port, int timeout_ms) {
  Connect(host, port, timeout_ms);
  return ReadReply();
}

void TVelquarnClient::SendRaw(std::string_view bytes) {
  if (fd_ < 0) throw Exception("Not connected");
  if (tls_) {
    tls_->Write(bytes);
    return;
  }
  while (!bytes.empty()) {
    ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      throw Exception(ErrorText("send", errno));
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
}

void TVelquarnClient::SendLine(std::string_view line) {
  std::string bytes(line);
  bytes += "\r\n";
  SendRaw(bytes);
}

void TVelquarnClient::Fill() {
  if (fd_ < 0) throw Exception("Not connected");
  if (start_ > 0 && start_ * 2 >= buffer_.size()) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  if (tls_) {
    switch (tls_->Read(buffer_, read_timeout_ms_)) {
      case TTlsStream::TRead::kData:
        return;
      case TTlsStream::TRead::kTimeout:
        throw Exception("Read timed out");
      case TTlsStream::TRead::kClosed:
        throw Exception("Connection closed by the server");
    }
  }
  pollfd poll_fd{fd_, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&poll_fd, 1, read_timeout_ms_);
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) throw Exception("Read timed out");
  if (ready < 0) throw Exception(ErrorText("poll", errno));
  char chunk[65536];
  ssize_t received;
  do {
    received = ::recv(fd_, chunk, sizeof(chunk), 0);
  } while (received < 0 && errno == EINTR);
  if (received == 0) throw Exception("Connection closed by the server");
  if (received < 0) throw Exception(ErrorText("recv", errno));
  buffer_.append(chunk, static_cast<size_t>(received));
}

std::string TVelquarnClient::ReadLine() {
  size_t from = start_;
  for (;;) {
    size_t lf = buffer_.find('\n', from);
    if (lf != std::string::npos) {
      size_t end = lf;
      if (end > start_ && buffer_[end - 1] == '\r') --end;
      std::string line = buffer_.substr(start_, end - start_);
      start_ = lf + 1;
      return line;
    }
    size_t scanned = buffer_.size() - start_;
    Fill();
    from = start_ + scanned;
  }
}

TClientReply TVelquarnClient::ReadReply() {
  TClientReply reply;
  for (;;) {
    std::string line = ReadLine();
    int code = 0;
    if (!ParseCode(line, code)) throw Exception("Malformed reply line: " + line.substr(0, 200));
    if (!reply.Lines.empty() && code != reply.Code) {
      throw Exception("Reply code changed within a reply: " + line.substr(0, 200));
    }
    reply.Code = code;
    if (line.size() == 3) return reply;  // a code without text
    char separator = line[3];
    reply.Lines.push_back(line.substr(4));
    if (separator == ' ') return reply;
    if (separator != '-') throw Exception("Malformed reply line: " + line.substr(0, 200));
  }
}

TClientReply TVelquarnClient::Command(std::string_view line) {
  SendLine(line);
  return ReadReply();
}

std::vector<std::string> TVelquarnClient::ReadDataBlock() {
  std::vector<std::string> lines;
  for (;;) {
    std::string line = ReadLine();
    if (line == ".") return lines;
    if (!line.empty() && line[0] == '.') line.erase(0, 1);
    lines.push_back(std::move(line));
  }
}

std::string TVelquarnClient::ReadBytes(size_t count) {
  while (buffer_.size() - start_ < count) Fill();
  std::string bytes = buffer_.substr(start_, count);
  start_ += count;
  return bytes;
}

std::string TVelquarnClient::ReadCountedBlock() {
  std::string prefix;
  try {
    prefix = ReadBytes(4);
  } catch (const Exception& error) {
    throw Exception("Counted block: expected a 4-byte length, " + std::string(error.what()));
  }
  uint32_t count = 0;
  for (char c : prefix) count = count << 8 | static_cast<unsigned char>(c);
  try {
    return ReadBytes(count);
  } catch (const Exception& error) {
    throw Exception("Counted block: expected " + std::to_string(count) + " bytes, got " +
                    std::to_string(buffer_.size() - start_) + ": " + error.what());
  }
}

bool TVelquarnClient::ReadOptionalDataBlock(std::vector<std::string>& lines) {
  // The reply does not say whether a block follows, and the server writes
  // one right behind the reply or not at all: a `test` sent now is answered
  // after that block, so its reply coming first means there is none. No
  // block line can read as "200 Ok": they are row counts, "name=value"
  // lines and catalog or configuration lines.
  SendLine("test");
  lines.clear();
  std::string line = ReadLine();
  const bool has_block = line != "200 Ok";
  if (has_block) {
    while (line != ".") {
      if (!line.empty() && line[0] == '.') line.erase(0, 1);
      lines.push_back(std::move(line));
      line = ReadLine();
    }
    const TClientReply sentinel = ReadReply();
    if (sentinel.Code != 200) {
      throw Exception("Expected the reply to test after a data block, got " +
                      std::to_string(sentinel.Code));
    }
  }
  return has_block;
}

bool TVelquarnClient::WaitForClose(int timeout_ms) {
  if (fd_ < 0) return true;
  int saved = read_timeout_ms_;
  read_timeout_ms_ = timeout_ms;
  bool closed = false;
  try {
    for (;;) {
      start_ = buffer_.size();
      Fill();
    }
  } catch (const Exception& error) {
    closed = std::string(error.what()) != "Read timed out";
  }
  read_timeout_ms_ = saved;
  return closed;
}

}  // namespace velquarn
