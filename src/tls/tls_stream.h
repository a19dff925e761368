// TTlsStream: TLS over a connected socket, for the server's connections and
// the client library alike. The socket is switched to non-blocking, and
// every wait is a poll with the caller's deadline, so a peer that stops in
// the middle of a record can hold a thread no longer than the caller allows.
//
// Thread-safety: one thread uses a stream; another thread may still shut the
// socket down (shutdown(2)) to wake it, which ends the stream with kClosed
// or ETlsError.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tls/tls_context.h"

typedef struct ssl_st SSL;

namespace velquarn {

class TTlsStream {
 public:
  enum class TRead { kData, kTimeout, kClosed };

  // Takes the context (kept alive by the stream), not the socket.
  TTlsStream(std::shared_ptr<const TTlsContext> context, int fd);
  ~TTlsStream();
  TTlsStream(const TTlsStream&) = delete;
  TTlsStream& operator=(const TTlsStream&) = delete;

  // Runs the handshake as the context's side; raises ETlsError when it
  // fails or does not complete within timeout_ms.
  void Handshake(int timeout_ms);
  // Appends what arrives to out, waiting at most timeout_ms (negative: no
  // limit). kClosed when the peer closed; ETlsError on a broken record.
  TRead Read(std::string& out, int timeout_ms);
  // True when decrypted bytes wait inside the stream, which a poll of the
  // socket cannot see.
  bool Pending() const;
  // Writes every byte, waiting for the socket as long as it takes.
  void Write(std::string_view bytes);
  // Sends close_notify, without waiting for the peer's.
  void Close() noexcept;

  // The peer certificate's subject common name; empty without one.
  std::string PeerCommonName() const;
  // "TLSv1.3", "TLSv1.2".
  std::string Version() const;

 private:
  // Waits for the socket as OpenSSL asked after result; false on timeout.
  // Raises ETlsError for a failure, returns via closed for the peer's end.
  bool WaitFor(int result, int timeout_ms, bool& closed, const char* what);

  std::shared_ptr<const TTlsContext> context_;
  SSL* ssl_ = nullptr;
  int fd_;
};

}  // namespace velquarn
