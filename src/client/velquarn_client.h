// TVelquarnClient: a small blocking client for the command protocol, for
// tests, tools and benchmarks. It speaks raw bytes: no code page conversion.
// Every read waits at most the read timeout and raises Exception on timeout,
// on a closed connection or on a malformed reply. Not thread-safe: one
// thread per client.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tls/tls_context.h"
#include "tls/tls_stream.h"

namespace velquarn {

struct TClientReply {
  int Code = 0;
  std::vector<std::string> Lines;  // the text of every reply line
  // The last line's text (empty when the reply has none).
  const std::string& Text() const;
};

class TVelquarnClient {
 public:
  TVelquarnClient() = default;
  TVelquarnClient(const TVelquarnClient&) = delete;
  TVelquarnClient& operator=(const TVelquarnClient&) = delete;
  TVelquarnClient(TVelquarnClient&& other) noexcept;
  TVelquarnClient& operator=(TVelquarnClient&& other) noexcept;
  ~TVelquarnClient();

  // Connects to host ("127.0.0.1", "::1", "localhost") and port, waiting at
  // most timeout_ms. Raises Exception on failure.
  void Connect(const std::string& host, uint16_t port, int timeout_ms = 5000);
  // The local address later connects bind to first ("127.0.0.2"); empty
  // (the default): the kernel chooses. Connect raises when it cannot bind.
  void SetSourceAddress(std::string address) { source_address_ = std::move(address); }
  // Later connects run a TLS handshake (within the connect timeout) with
  // this context's CA, client certificate and host name check; null (the
  // default): plain TCP. TTlsContext::Client builds one.
  void SetTls(std::shared_ptr<const TTlsContext> context) { tls_context_ = std::move(context); }
  // The server certificate's TLS version after a TLS connect ("TLSv1.3").
  std::string TlsVersion() const;
  // Connects and reads the greeting; returns it.
  TClientReply Open(const std::string& host, uint16_t port, int timeout_ms = 5000);
  bool Connected() const { return fd_ >= 0; }
  void Close() noexcept;

  void SetReadTimeoutMs(int milliseconds) { read_timeout_ms_ = milliseconds; }

  void SendRaw(std::string_view bytes);
  // The line and CR LF.
  void SendLine(std::string_view line);

  // One line without its CR LF (or LF).
  std::string ReadLine();
  // A reply with all its lines: "code-text" lines until "code text".
  TClientReply ReadReply();
  // SendLine, then ReadReply.
  TClientReply Command(std::string_view line);
  // A data block: lines until "." alone, with dot-stuffing undone.
  std::vector<std::string> ReadDataBlock();
  // A counted block: 4-byte unsigned big-endian count, then the payload.
  // A block that ends early raises Exception naming the announced length.
  std::string ReadCountedBlock();
  // For a reply that may or may not carry a data block (`exec`, `call`,
  // `sys`, errors): sends `test` and reads up to its reply; true, with the
  // block's lines, when a block came first. Costs one round trip, no wait.
  bool ReadOptionalDataBlock(std::vector<std::string>& lines);
  // Exactly count raw bytes.
  std::string ReadBytes(size_t count);
  // True when the server closed the connection: waits up to timeout_ms for
  // the end of the stream; bytes that arrive meanwhile are discarded.
  bool WaitForClose(int timeout_ms);

 private:
  // Waits for more bytes; raises on timeout or when the peer closed.
  void Fill();

  int fd_ = -1;
  std::shared_ptr<const TTlsContext> tls_context_;
  std::unique_ptr<TTlsStream> tls_;
  int read_timeout_ms_ = 30000;
  std::string source_address_;
  std::string buffer_;
  size_t start_ = 0;
};

}  // namespace velquarn
