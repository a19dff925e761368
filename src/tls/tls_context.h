// TTlsContext: the TLS settings one side of a connection uses, loaded and
// checked once (an OpenSSL SSL_CTX). A server context holds the certificate
// chain and key, and the client CA when clients must present certificates;
// a client context holds the CA that signs the servers it trusts and an
// optional client certificate.
//
// A server context keeps the bytes it was loaded from (Pem), so that a
// worker process can build the same context without reading files that
// may have changed since.
//
// Thread-safety: immutable after loading; any number of connections on any
// threads may use one context at once. Share it through shared_ptr, so a
// reload can swap in a new one while live connections keep theirs.
#pragma once

#include <memory>
#include <string>

#include "common/exceptions.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace velquarn {

// A TLS failure: files that do not load, a handshake or record that fails.
// The text says what and why (OpenSSL's reason included).
class ETlsError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "ETlsError"; }
};

struct TTlsServerOptions {
  std::string Certificate;         // PEM: the certificate, then its chain
  std::string Key;                 // PEM; others may not read the file
  std::string ClientCA;            // PEM; empty: clients need no certificate
  std::string MinVersion = "1.2";  // "1.2" or "1.3"
  std::string Ciphers;             // TLS 1.2 cipher list; empty: OpenSSL's
};

struct TTlsClientOptions {
  std::string CA;           // PEM; empty: the system's trusted CAs
  std::string Certificate;  // PEM; empty: none
  std::string Key;          // PEM; with Certificate
  // The server's name or address the certificate must carry; empty: not
  // checked (the chain still is).
  std::string HostName;
  std::string MinVersion = "1.2";
  std::string MaxVersion;  // empty: the newest OpenSSL offers
};

class TTlsContext {
 public:
  // Raise ETlsError naming the file and the reason: a file that cannot be
  // read, a key that does not match the certificate, a certificate that has
  // expired or is not valid yet, a key file others may read, an unknown
  // version or cipher list.
  static std::shared_ptr<const TTlsContext> Server(const TTlsServerOptions& options);
  // The same from options whose Certificate, Key and ClientCA hold PEM text
  // instead of file names (a server context's Pem()).
  static std::shared_ptr<const TTlsContext> ServerFromPem(const TTlsServerOptions& pem);
  static std::shared_ptr<const TTlsContext> Client(const TTlsClientOptions& options);

  ~TTlsContext();
  TTlsContext(const TTlsContext&) = delete;
  TTlsContext& operator=(const TTlsContext&) = delete;

  SSL_CTX* Native() const { return ctx_; }
  bool IsServer() const { return server_; }
  const std::string& HostName() const { return host_name_; }
  // A server context's settings with the PEM text it was built from.
  const TTlsServerOptions& Pem() const { return pem_; }

 private:
  TTlsContext(SSL_CTX* ctx, bool server, std::string host_name)
      : ctx_(ctx), server_(server), host_name_(std::move(host_name)) {}
  static std::shared_ptr<const TTlsContext> BuildServer(const TTlsServerOptions& pem,
                                                        const TTlsServerOptions& names);

  SSL_CTX* ctx_;
  bool server_;
  std::string host_name_;
  TTlsServerOptions pem_;
};

// OpenSSL's queued errors of this thread as one text ("reason; reason"),
// emptying the queue; fallback when there are none.
std::string TakeTlsErrors(const std::string& fallback);

}  // namespace velquarn
