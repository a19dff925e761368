#include "tls/tls_context.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
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

std::string ReadPemFile(const std::string& path, const char* what) {
  CheckReadable(path, what);
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) throw ETlsError(std::string(what) + " " + path + " cannot be read");
  return text.str();
}

// PEM text read one object at a time.
struct TPemReader {
  explicit TPemReader(const std::string& pem)
      : bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()))) {
    if (bio == nullptr) Fail("TLS buffer cannot be created");
  }
  ~TPemReader() { BIO_free(bio); }
  TPemReader(const TPemReader&) = delete;
  TPemReader& operator=(const TPemReader&) = delete;
  // The next certificate, or null at the end of the text.
  X509* NextCertificate() { return PEM_read_bio_X509(bio, nullptr, nullptr, nullptr); }
  BIO* bio;
};

// An encrypted key would make OpenSSL ask for its passphrase on the
// terminal; a service has none to ask, so such a key fails to load.
int NoPassphrase(char*, int, int, void*) { return 0; }

// The certificate and its chain, then the key, from PEM text; names are
// for the messages.
void LoadCertificateAndKey(SSL_CTX* ctx, const std::string& certificate_pem,
                           const std::string& key_pem, const std::string& certificate,
                           const std::string& key) {
  ERR_clear_error();
  {
    TPemReader reader(certificate_pem);
    X509* leaf = PEM_read_bio_X509_AUX(reader.bio, nullptr, nullptr, nullptr);
    const bool used = leaf != nullptr && SSL_CTX_use_certificate(ctx, leaf) == 1;
    X509_free(leaf);
    if (!used) Fail("TLS certificate " + certificate + " cannot be loaded");
    SSL_CTX_clear_chain_certs(ctx);
    while (X509* link = reader.NextCertificate()) {
      if (SSL_CTX_add0_chain_cert(ctx, link) != 1) {
        X509_free(link);
        Fail("TLS certificate " + certificate + " has a chain that cannot be loaded");
      }
    }
    ERR_clear_error();  // the end of the text reads as "no start line"
  }
  {
    TPemReader reader(key_pem);
    EVP_PKEY* private_key = PEM_read_bio_PrivateKey(reader.bio, nullptr, NoPassphrase, nullptr);
    const bool used = private_key != nullptr && SSL_CTX_use_PrivateKey(ctx, private_key) == 1;
    EVP_PKEY_free(private_key);
    if (!used) {
      Fail("TLS key " + key + " cannot be loaded or does not match the certificate " + certificate);
    }
  }
  if (SSL_CTX_check_private_key(ctx) != 1) {
    Fail("TLS key " + key + " does not match the certificate " + certificate);
  }
  CheckValidity(ctx, certificate);
}

// Trusts the CAs of PEM text; a server also names them to its clients.
void LoadTrustedCa(SSL_CTX* ctx, const std::string& ca_pem, const std::string& ca,
                   bool name_to_clients) {
  ERR_clear_error();
  TPemReader reader(ca_pem);
  int count = 0;
  while (X509* authority = reader.NextCertificate()) {
    const bool added = X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx), authority) == 1 &&
                       (!name_to_clients || SSL_CTX_add_client_CA(ctx, authority) == 1);
    X509_free(authority);
    if (!added) Fail("TLS CA file " + ca + " cannot be loaded");
    ++count;
  }
  ERR_clear_error();
  if (count == 0) throw ETlsError("TLS CA file " + ca + " names no CA");
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
  TTlsServerOptions pem = options;
  pem.Certificate = ReadPemFile(options.Certificate, "TLS certificate");
  CheckKeyFileMode(options.Key);
  pem.Key = ReadPemFile(options.Key, "TLS key");
  if (!options.ClientCA.empty()) pem.ClientCA = ReadPemFile(options.ClientCA, "TLS CA file");
  return BuildServer(pem, options);
}

std::shared_ptr<const TTlsContext> TTlsContext::ServerFromPem(const TTlsServerOptions& pem) {
  TTlsServerOptions names = pem;
  names.Certificate = "(the service's certificate)";
  names.Key = "(the service's key)";
  names.ClientCA = "(the service's CA file)";
  return BuildServer(pem, names);
}

std::shared_ptr<const TTlsContext> TTlsContext::BuildServer(const TTlsServerOptions& pem,
                                                            const TTlsServerOptions& names) {
  ERR_clear_error();
  TCtxGuard guard{SSL_CTX_new(TLS_server_method())};
  if (guard.ctx == nullptr) Fail("TLS context cannot be created");
  SSL_CTX* ctx = guard.ctx;
  SSL_CTX_set_min_proto_version(ctx, ProtocolVersion(pem.MinVersion));
  // A client may not make the server redo handshakes on an open connection.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  if (!pem.Ciphers.empty() && SSL_CTX_set_cipher_list(ctx, pem.Ciphers.c_str()) != 1) {
    Fail("TLS cipher list '" + pem.Ciphers + "' names no usable cipher");
  }
  LoadCertificateAndKey(ctx, pem.Certificate, pem.Key, names.Certificate, names.Key);
  if (!pem.ClientCA.empty()) {
    LoadTrustedCa(ctx, pem.ClientCA, names.ClientCA, true);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  std::shared_ptr<TTlsContext> context(new TTlsContext(guard.Release(), true, ""));
  context->pem_ = pem;
  return context;
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
    LoadTrustedCa(ctx, ReadPemFile(options.CA, "TLS CA file"), options.CA, false);
  }
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  if (!options.Certificate.empty()) {
    LoadCertificateAndKey(ctx, ReadPemFile(options.Certificate, "TLS certificate"),
                          ReadPemFile(options.Key, "TLS key"), options.Certificate, options.Key);
  }
  return std::shared_ptr<const TTlsContext>(
      new TTlsContext(guard.Release(), false, options.HostName));
}

TTlsContext::~TTlsContext() { SSL_CTX_free(ctx_); }

}  // namespace velquarn
