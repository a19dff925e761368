#include "tls/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace velquarn {

namespace {

// Frees a context that failed to load.
struct TCtxGuard {
  SSL_CTX* ctx;
  ~TCtxGuard() {
    if (ctx != nullptr) SSL_CTX_free(ctx);
  }
  SSL_CTX* Release() { return std::exchange(ctx, nullptr); }
};

[[noreturn]] void Fail(const std::string& what) {
  const std::string reasons = TakeTlsErrors("");
  throw ETlsError(reasons.empty() ? what : what + ": " + reasons);
}

int ProtocolVersion(const std::string& text) {
  if (text == "1.2") return TLS1_2_VERSION;
  if (text == "1.3") return TLS1_3_VERSION;
  throw ETlsError("TLS version '" + text + "' is not 1.2 or 1.3");
}

void CheckReadable(const std::string& path, const char* what) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    throw ETlsError(std::string(what) + " " + path + ": " + std::strerror(errno));
  }
}

// A key file that any account on the machine may read is as good as
// published.
void CheckKeyFileMode(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IROTH | S_IWOTH)) != 0) {
    throw ETlsError("TLS key " + path + " may be read or written by others; chmod o-rw it");
  }
}

void CheckValidity(SSL_CTX* ctx, const std::string& path) {
  X509* certificate = SSL_CTX_get0_certificate(ctx);
  if (certificate == nullptr) throw ETlsError("TLS certificate " + path + " holds no certificate");
  if (X509_cmp_current_time(X509_get0_notAfter(certificate)) <= 0) {
    throw ETlsError("TLS certificate " + path + " has expired");
  }
  if (X509_cmp_current_time(X509_get0_notBefore(certificate)) >= 0) {
    throw ETlsError("TLS certificate " + path + " is not valid yet");
  }
}

void LoadCertificateAndKey(SSL_CTX* ctx, const std::string& certificate, const std::string& key) {
  CheckReadable(certificate, "TLS certificate");
  CheckReadable(key, "TLS key");
  CheckKeyFileMode(key);
  ERR_clear_error();
  if (SSL_CTX_use_certificate_chain_file(ctx, certificate.c_str()) != 1) {
    Fail("TLS certificate " + certificate + " cannot be loaded");
  }
  if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    Fail("TLS key " + key + " cannot be loaded or does not match the certificate " + certificate);
  }
  if (SSL_CTX_check_private_key(ctx) != 1) {
    Fail("TLS key " + key + " does not match the certificate " + certificate);
  }
  CheckValidity(ctx, certificate);
}

void LoadTrustedCa(SSL_CTX* ctx, const std::string& ca) {
  CheckReadable(ca, "TLS CA file");
  if (SSL_CTX_load_verify_locations(ctx, ca.c_str(), nullptr) != 1) {
    Fail("TLS CA file " + ca + " cannot be loaded");
  }
}

}  // namespace

std::string TakeTlsErrors(const std::string& fallback) {
  std::string text;
  for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof(reason));
    if (!text.empty()) text += "; ";
    text += reason;
  }
  return text.empty() ? fallback : text;
}

std::shared_ptr<const TTlsContext> TTlsContext::Server(const TTlsServerOptions& options) {
  ERR_clear_error();
  TCtxGuard guard{SSL_CTX_new(TLS_server_method())};
  if (guard.ctx == nullptr) Fail("TLS context cannot be created");
  SSL_CTX* ctx = guard.ctx;
  SSL_CTX_set_min_proto_version(ctx, ProtocolVersion(options.MinVersion));
  // A client may not make the server redo handshakes on an open connection.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  if (!options.Ciphers.empty() && SSL_CTX_set_cipher_list(ctx, options.Ciphers.c_str()) != 1) {
    Fail("TLS cipher list '" + options.Ciphers + "' names no usable cipher");
  }
  LoadCertificateAndKey(ctx, options.Certificate, options.Key);
  if (!options.ClientCA.empty()) {
    LoadTrustedCa(ctx, options.ClientCA);
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(options.ClientCA.c_str());
    if (names == nullptr) Fail("TLS client CA file " + options.ClientCA + " names no CA");
    SSL_CTX_set_client_CA_list(ctx, names);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  return std::shared_ptr<const TTlsContext>(new TTlsContext(guard.Release(), true, ""));
}

std::shared_ptr<const TTlsContext> TTlsContext::Client(const TTlsClientOptions& options) {
  ERR_clear_error();
  TCtxGuard guard{SSL_CTX_new(TLS_client_method())};
  if (guard.ctx == nullptr) Fail("TLS context cannot be created");
  SSL_CTX* ctx = guard.ctx;
  SSL_CTX_set_min_proto_version(ctx, ProtocolVersion(options.MinVersion));
  if (!options.MaxVersion.empty()) {
    SSL_CTX_set_max_proto_version(ctx, ProtocolVersion(options.MaxVersion));
  }
  if (options.CA.empty()) {
    if (SSL_CTX_set_default_verify_paths(ctx) != 1) Fail("the system's CAs cannot be loaded");
  } else {
    LoadTrustedCa(ctx, options.CA);
  }
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  if (!options.Certificate.empty()) LoadCertificateAndKey(ctx, options.Certificate, options.Key);
  return std::shared_ptr<const TTlsContext>(
      new TTlsContext(guard.Release(), false, options.HostName));
}

TTlsContext::~TTlsContext() { SSL_CTX_free(ctx_); }

}  // namespace velquarn
