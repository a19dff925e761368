#include "protocol/connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "common/cp1252.h"
#include "common/text.h"
#include "protocol/connection_errors.h"
#include "protocol/proxy_header.h"

namespace velquarn {

namespace {

constexpr size_t kReceiveChunk = 64 * 1024;

}  // namespace

ELineTooLong::ELineTooLong(size_t max_length, const std::string& peer)
    : EConnectionError(
          Format("Line longer than MaxLineLength (%zu bytes) from %s; connection closed",
                 max_length, peer.empty() ? "unknown peer" : peer.c_str())) {}

EReadTimeout::EReadTimeout(int timeout_ms, const std::string& peer)
    : EConnectionError(
          Format("Read timeout (%d ms) inside a block of lines from %s; command abandoned, "
                 "connection closed",
                 timeout_ms, peer.empty() ? "unknown peer" : peer.c_str())) {}

TConnection::TConnection(TSocket socket, size_t max_line_length, int read_timeout_ms)
    : socket_(std::move(socket)),
      reader_(max_line_length),
      read_timeout_ms_(read_timeout_ms),
      peer_address_(PeerAddressOf(socket_.Fd())),
      peer_name_(socket_.PeerName()) {}

void TConnection::CheckOpen() const {
  if (closed_) throw EConnectionClosed();
}

bool TConnection::Receive(int timeout_ms) {
  if (tls_) return ReceiveTls(timeout_ms);
  pollfd poll_fd{socket_.Fd(), POLLIN, 0};
  int ready = ::poll(&poll_fd, 1, timeout_ms);
  if (ready < 0) {
    if (errno == EINTR) return true;
    throw ESocketError(errno, "poll");
  }
  if (ready == 0) return false;
  char chunk[kReceiveChunk];
  ssize_t received = ::recv(socket_.Fd(), chunk, sizeof(chunk), 0);
  if (received == 0) throw EConnectionClosed();
  if (received < 0) {
    if (errno == EINTR || errno == EAGAIN) return true;
    throw ESocketError(errno, "recv");
  }
  if (bytes_received_ != nullptr) bytes_received_->Add(static_cast<uint64_t>(received));
  reader_.Append(std::string_view(chunk, static_cast<size_t>(received)));
  return true;
}

bool TConnection::InputPending() const {
  if (closed_ || reader_.Buffered() > 0 || (tls_ && tls_->Pending())) return true;
  // POLLHUP and POLLERR come whether asked or not: a shut down or failed
  // socket counts as input, so that the work gives way to its end.
  pollfd poll_fd{socket_.Fd(), POLLIN, 0};
  return ::poll(&poll_fd, 1, 0) != 0;
}

bool TConnection::ReceiveTls(int timeout_ms) {
  std::string bytes;
  TTlsStream::TRead result;
  try {
    result = tls_->Read(bytes, timeout_ms);
  } catch (const ETlsError& error) {
    throw ETlsFailure(error.what());
  }
  if (result == TTlsStream::TRead::kClosed) throw EConnectionClosed();
  if (result == TTlsStream::TRead::kTimeout) return false;
  if (bytes_received_ != nullptr) bytes_received_->Add(bytes.size());
  reader_.Append(bytes);
  return true;
}

std::optional<std::string> TConnection::TryReadLine(int timeout_ms) {
  CheckOpen();
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string line;
  for (;;) {
    switch (reader_.TakeLine(line)) {
      case TLineReader::TResult::kLine:
        return FromWire(line);
      case TLineReader::TResult::kTooLong:
        throw ELineTooLong(reader_.MaxLineLength(), peer_name_);
      case TLineReader::TResult::kNeedMore:
        break;
    }
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      wait_ms = static_cast<int>(left.count());
    }
    if (!Receive(wait_ms)) return std::nullopt;
  }
}

bool TConnection::ReadProxyHeader(int timeout_ms) {
  CheckOpen();
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  // The header is looked at in place (MSG_PEEK) and then taken to its last
  // byte, so whatever follows (commands, a TLS handshake) stays in the
  // socket untouched.
  std::string bytes(kMaxProxyHeaderLength, '\0');
  size_t seen = 0;
  TProxyHeader header;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd poll_fd{socket_.Fd(), POLLIN, 0};
    const int ready = ::poll(&poll_fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) throw ESocketError(errno, "poll");
    if (ready <= 0) continue;
    const ssize_t peeked = ::recv(socket_.Fd(), bytes.data(), bytes.size(), MSG_PEEK);
    if (peeked == 0) throw EConnectionClosed();
    if (peeked < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw ESocketError(errno, "recv");
    }
    const auto size = static_cast<size_t>(peeked);
    switch (ParseProxyHeader(std::string_view(bytes.data(), size), header)) {
      case TProxyParse::kInvalid:
        return false;
      case TProxyParse::kNeedMore:
        // Peeked bytes keep the socket readable, so poll cannot wait for
        // the rest; a header split over packets is rare enough to nap on.
        if (size == seen) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        seen = size;
        break;
      case TProxyParse::kComplete: {
        size_t taken = 0;
        while (taken < header.length) {
          const ssize_t got = ::recv(socket_.Fd(), bytes.data(), header.length - taken, 0);
          if (got <= 0 && errno != EINTR) throw ESocketError(errno, "recv");
          if (got > 0) taken += static_cast<size_t>(got);
        }
        if (header.source) {
          peer_address_ = header.source;
          const std::string host = header.source->ToString();
          peer_name_ = Format(header.source->IsV4() ? "%s:%u" : "[%s]:%u", host.c_str(),
                              static_cast<unsigned>(header.source_port));
        }
        return true;
      }
    }
  }
}

void TConnection::StartTls(std::shared_ptr<const TTlsContext> context, int timeout_ms) {
  CheckOpen();
  try {
    tls_ = std::make_unique<TTlsStream>(std::move(context), socket_.Fd());
    tls_->Handshake(timeout_ms);
  } catch (const ETlsError& error) {
    throw ETlsFailure(error.what());
  }
  peer_common_name_ = tls_->PeerCommonName();
  if (!peer_common_name_.empty()) peer_name_ += " CN=" + peer_common_name_;
}

std::string TConnection::ReadLine() { return TryReadLine(read_timeout_ms_).value_or(""); }

std::string TConnection::ReadBlockLine() {
  std::optional<std::string> line = TryReadLine(read_timeout_ms_);
  if (!line) throw EReadTimeout(read_timeout_ms_, peer_name_);
  return std::move(*line);
}

std::string TConnection::ReadBytes(size_t count) {
  CheckOpen();
  std::string bytes;
  while (!reader_.TakeBytes(count, bytes)) Receive(-1);
  return bytes;
}

std::vector<std::string> TConnection::ReadCountedLines() {
  std::string prefix = ReadBytes(4);
  auto byte = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(prefix[i])); };
  auto count = static_cast<int32_t>(byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3));
  std::vector<std::string> lines;
  size_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    lines.push_back(ReadBlockLine());
    // Count what each line costs in memory, not only its text, so a peer
    // that announces billions of empty lines is stopped at the same bound.
    total += lines.back().size() + sizeof(std::string);
    if (total > reader_.MaxLineLength()) throw ELineTooLong(reader_.MaxLineLength(), peer_name_);
  }
  return lines;
}

void TConnection::Write(std::string_view head, std::string_view body) {
  CheckOpen();
  if (tls_) {
    try {
      // One TLS record stream, so the peer is woken once: joined.
      if (body.empty()) {
        tls_->Write(head);
      } else {
        std::string joined;
        joined.reserve(head.size() + body.size());
        joined.append(head).append(body);
        tls_->Write(joined);
      }
    } catch (const ETlsError& error) {
      throw ETlsFailure(error.what());
    }
  } else {
    socket_.WriteAll(head, body);
  }
  if (bytes_sent_ != nullptr) bytes_sent_->Add(head.size() + body.size());
}

void TConnection::WriteLine(std::string_view line) {
  std::string bytes = ToWire(line);
  bytes += "\r\n";
  Write(bytes);
}

void TConnection::Close() noexcept {
  if (closed_) return;
  closed_ = true;
  if (tls_) tls_->Close();
  socket_.Shutdown();
}

}  // namespace velquarn
