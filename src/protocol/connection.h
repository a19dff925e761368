// TConnection: one accepted client connection: its socket, its line reader
// and the reading and writing that the command loop and the handlers use.
// Lines are code page 1252 inside the server: incoming lines pass through
// FromWire, outgoing lines through ToWire; raw byte writes and reads do not.
// Used by the connection's own thread only; Shutdown may be called from any
// thread (the server uses it to close every connection on deactivation).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "metrics/metric_types.h"
#include "protocol/ip_address.h"
#include "protocol/line_reader.h"
#include "protocol/socket.h"
#include "tls/tls_stream.h"

namespace velquarn {

class TConnection {
 public:
  TConnection(TSocket socket, size_t max_line_length, int read_timeout_ms);
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  // Reads one line without its line end, waiting at most timeout_ms
  // (negative: no limit); nullopt when no complete line arrived in time (a
  // partial line stays buffered). Raises EConnectionClosed when the peer
  // closed or the connection was closed, ESocketError on a socket failure,
  // ELineTooLong when the line grows past the maximum length.
  std::optional<std::string> TryReadLine(int timeout_ms);
  // TryReadLine with the read timeout; an empty line when it ran out.
  std::string ReadLine();
  // A line inside a block that belongs to one command: as ReadLine, but a
  // read timeout raises EReadTimeout instead of yielding an empty line, so
  // a stalled client never has a made-up line used in its name.
  std::string ReadBlockLine();
  // A counted block of lines: a 4-byte signed big-endian count, then that
  // many lines (a negative count means none), each read as ReadBlockLine.
  // The lines together may not be longer than the maximum line length
  // (ELineTooLong). The count itself is waited for without a time limit, as
  // long as the connection lives.
  std::vector<std::string> ReadCountedLines();
  // Exactly count raw bytes, waiting as long as the connection lives.
  std::string ReadBytes(size_t count);

  // Reads the PROXY protocol header that a load balancer sends before the
  // client's bytes, waiting at most timeout_ms in all; not a byte after it
  // is read, so a TLS handshake may follow. When the header carries the client's
  // address, PeerAddress and PeerName become the client's. False when the
  // bytes are not a valid header or none completed in time.
  bool ReadProxyHeader(int timeout_ms);

  // Runs the TLS handshake as the server, waiting at most timeout_ms; every
  // read and write goes through TLS afterwards. With a client certificate,
  // PeerName gains " CN=<common name>". Raises ETlsFailure when the
  // handshake fails or runs out of time, EConnectionClosed when the peer
  // closed.
  void StartTls(std::shared_ptr<const TTlsContext> context, int timeout_ms);
  bool Encrypted() const { return tls_ != nullptr; }
  // The client certificate's common name; empty without one.
  const std::string& PeerCommonName() const { return peer_common_name_; }

  // True when the client has sent bytes not yet read as a command, or the
  // connection was closed or shut down: work done between commands gives way
  // then. Does not wait.
  bool InputPending() const;
  // Raw bytes, as they stand.
  void Write(std::string_view bytes) { Write(bytes, {}); }
  // head, then body, as they stand and together: on a plain socket in one
  // gathered write without joining them first.
  void Write(std::string_view head, std::string_view body);
  // The line through ToWire, then CR LF.
  void WriteLine(std::string_view line);

  // Closes the connection from its own thread: later reads and writes raise
  // EConnectionClosed.
  void Close() noexcept;
  bool Connected() const { return !closed_; }
  // Wakes and ends the connection from another thread.
  void Shutdown() const noexcept { socket_.Shutdown(); }

  // The client's address and "host:port" ("[::1]:port" for IPv6): the
  // socket's peer, or the address a PROXY header gave.
  const std::optional<TIpAddress>& PeerAddress() const { return peer_address_; }
  // Counters that every byte read from and written to the socket is added
  // to (one relaxed add per system call); null counters count nothing. The
  // counters must outlive the connection.
  void SetTrafficCounters(TCounter* received, TCounter* sent) {
    bytes_received_ = received;
    bytes_sent_ = sent;
  }

  const std::string& PeerName() const { return peer_name_; }
  // The client a PROXY header named, when the header was read elsewhere.
  void SetPeer(const TIpAddress& address, std::string name) {
    peer_address_ = address;
    peer_name_ = std::move(name);
  }
  const TSocket& Socket() const { return socket_; }
  int ReadTimeoutMs() const { return read_timeout_ms_; }
  void SetReadTimeoutMs(int milliseconds) { read_timeout_ms_ = milliseconds; }

 private:
  // Waits up to timeout_ms (negative: no limit) for bytes and appends them to
  // the reader; false when the time ran out.
  bool Receive(int timeout_ms);
  bool ReceiveTls(int timeout_ms);
  void CheckOpen() const;

  TSocket socket_;
  TLineReader reader_;
  int read_timeout_ms_;
  bool closed_ = false;
  std::optional<TIpAddress> peer_address_;
  std::string peer_name_;
  std::unique_ptr<TTlsStream> tls_;
  std::string peer_common_name_;
  TCounter* bytes_received_ = nullptr;
  TCounter* bytes_sent_ = nullptr;
};

}  // namespace velquarn
