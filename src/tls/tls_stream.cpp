#include "tls/tls_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace velquarn {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kWriteChunk = 1 << 30;

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the
// peer has gone: a client program that has not ignored the signal would die
// of it instead of getting an error. The guard holds SIGPIPE back for this
// thread while OpenSSL writes and takes back out one that it raised.
class TSigpipeGuard {
 public:
  TSigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_mask_);
    was_pending_ = Pending();
  }
  ~TSigpipeGuard() {
    if (!was_pending_ && Pending()) {
      const timespec no_wait{};
      sigtimedwait(&pipe_, nullptr, &no_wait);
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
  }
  TSigpipeGuard(const TSigpipeGuard&) = delete;
  TSigpipeGuard& operator=(const TSigpipeGuard&) = delete;

 private:
  static bool Pending() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
  }
  sigset_t pipe_;
  sigset_t old_mask_;
  bool was_pending_ = false;
};

bool IsAddressLiteral(const std::string& host) {
  unsigned char bytes[16];
  return ::inet_pton(AF_INET, host.c_str(), bytes) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

// Milliseconds left until deadline (negative timeout: no limit, -1).
int Left(int timeout_ms, Clock::time_point deadline) {
  if (timeout_ms < 0) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

TTlsStream::TTlsStream(std::shared_ptr<const TTlsContext> context, int fd)
    : context_(std::move(context)), fd_(fd) {
  ERR_clear_error();
  ssl_ = SSL_new(context_->Native());
  if (ssl_ == nullptr) throw ETlsError(TakeTlsErrors("TLS session cannot be created"));
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) < 0 || SSL_set_fd(ssl_, fd_) != 1) {
    SSL_free(ssl_);
    throw ETlsError("TLS session cannot take the socket");
  }
  if (context_->IsServer()) {
    SSL_set_accept_state(ssl_);
    return;
  }
  SSL_set_connect_state(ssl_);
  const std::string& host = context_->HostName();
  if (host.empty()) return;
  // An address is matched against the certificate's IP entries, a name
  // against its DNS names; only a name goes out as SNI.
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
  if (IsAddressLiteral(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl_, host.c_str());
    X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
  }
}

TTlsStream::~TTlsStream() { SSL_free(ssl_); }

bool TTlsStream::WaitFor(int result, int timeout_ms, bool& closed, const char* what) {
  const int error = SSL_get_error(ssl_, result);
  short events = 0;
  switch (error) {
    case SSL_ERROR_WANT_READ:
      events = POLLIN;
      break;
    case SSL_ERROR_WANT_WRITE:
      events = POLLOUT;
      break;
    case SSL_ERROR_ZERO_RETURN:
      closed = true;
      return true;
    case SSL_ERROR_SYSCALL:
      // The peer went away without close_notify (or the socket was shut
      // down under us): the end of the connection, as with a plain socket.
      if (ERR_peek_error() == 0) {
        closed = true;
        return true;
      }
      [[fallthrough]];
    default: {
      const char* system = errno != 0 ? std::strerror(errno) : "connection failed";
      throw ETlsError(std::string("TLS ") + what + " failed: " + TakeTlsErrors(system));
    }
  }
  pollfd poll_fd{fd_, events, 0};
  int ready;
  do {
    ready = ::poll(&poll_fd, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) throw ETlsError(std::string("TLS ") + what + ": poll: " + std::strerror(errno));
  return ready > 0;
}

void TTlsStream::Handshake(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_do_handshake(ssl_);
    if (result == 1) return;
    bool closed = false;
    if (!WaitFor(result, Left(timeout_ms, deadline), closed, "handshake")) {
      throw ETlsError("TLS handshake not complete within " + std::to_string(timeout_ms / 1000) +
                      " s");
    }
    if (closed) throw ETlsError("TLS handshake failed: the peer closed the connection");
  }
}

TTlsStream::TRead TTlsStream::Read(std::string& out, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  char chunk[kReadChunk];
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_read(ssl_, chunk, sizeof(chunk));
    if (result > 0) {
      out.append(chunk, static_cast<size_t>(result));
      return TRead::kData;
    }
    bool closed = false;
    if (!WaitFor(result, Left(timeout_ms, deadline), closed, "read")) return TRead::kTimeout;
    if (closed) return TRead::kClosed;
  }
}

bool TTlsStream::Pending() const { return SSL_pending(ssl_) > 0; }

void TTlsStream::Write(std::string_view bytes) {
  const TSigpipeGuard no_sigpipe;
  while (!bytes.empty()) {
    ERR_clear_error();
    errno = 0;
    const int result =
        SSL_write(ssl_, bytes.data(), static_cast<int>(std::min(bytes.size(), kWriteChunk)));
    if (result > 0) {
      bytes.remove_prefix(static_cast<size_t>(result));
      continue;
    }
    bool closed = false;
    WaitFor(result, -1, closed, "write");
    if (closed) throw ETlsError("TLS write failed: the peer closed the connection");
  }
}

void TTlsStream::Close() noexcept {
  const TSigpipeGuard no_sigpipe;  // the close notice is a write too
  ERR_clear_error();
  SSL_shutdown(ssl_);
  ERR_clear_error();
}

std::string TTlsStream::PeerCommonName() const {
  X509* certificate = SSL_get0_peer_certificate(ssl_);
  if (certificate == nullptr) return "";
  char name[256] = {};
  const int length = X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName,
                                               name, sizeof(name));
  return length > 0 ? std::string(name, static_cast<size_t>(length)) : "";
}

std::string TTlsStream::Version() const { return SSL_get_version(ssl_); }

}  // namespace velquarn
