// TLS on its own port, with certificates the test makes with the openssl
// tool: the same commands give the same bytes over TLS 1.2, TLS 1.3 and
// plain TCP; the client checks the server's CA and name; the server checks
// client certificates when asked; bad certificates refuse the start; a
// reload replaces the certificate or keeps the old one; and peers that
// speak the wrong protocol, stall or drop are closed without disturbing
// anyone else.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "client/result_reader.h"
#include "common/exceptions.h"
#include "e2e/e2e_options.h"
#include "support/odbc_test_env.h"
#include "tls/tls_context.h"

namespace velquarn::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kGreeting[] = "200 Velquarn 2.1";

// Runs a shell script in folder; fails the test when it fails.
void Shell(const fs::path& folder, const std::string& script) {
  const TRunResult result =
      RunVelquarn("/bin/sh", {"-c", "cd '" + folder.string() + "' && " + script});
  ASSERT_EQ(result.status, 0) << script << "\n" << result.err;
}

// A CA, a server certificate for 127.0.0.1/localhost, a second one that
// has expired, and client certificates from the CA and from another CA.
class TCertificates {
 public:
  explicit TCertificates(const fs::path& folder) : folder_(folder) {
    fs::create_directories(folder_);
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    Shell(folder_,
          "openssl req -x509 " + key +
              " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Test CA' 2>/dev/null && "
              "openssl req -x509 " +
              key +
              " -keyout other-ca.key -out other-ca.pem -days 2 -subj '/CN=Other CA' "
              "2>/dev/null && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > san");
    Sign("server", "localhost", "ca", "2", "-extfile san");
    Sign("expired", "localhost", "ca", "-1", "-extfile san");
    Sign("alice", "alice", "ca", "2", "");
    Sign("bob", "bob", "ca", "2", "");
    Sign("mallory", "mallory", "other-ca", "2", "");
    Shell(folder_, "chmod 600 *.key");
  }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  std::string ServerSettings(const std::string& certificate = "server") const {
    return "TLSCertificate=" + Path(certificate + ".pem") +
           "\nTLSKey=" + Path(certificate + ".key");
  }

  std::shared_ptr<const TTlsContext> Client(const std::string& ca = "ca",
                                            const std::string& certificate = "",
                                            const std::string& host = "127.0.0.1",
                                            const std::string& max_version = "") const {
    TTlsClientOptions options;
    options.CA = Path(ca + ".pem");
    options.HostName = host;
    options.MaxVersion = max_version;
    if (!certificate.empty()) {
      options.Certificate = Path(certificate + ".pem");
      options.Key = Path(certificate + ".key");
    }
    return TTlsContext::Client(options);
  }

 private:
  void Sign(const std::string& name, const std::string& common_name, const std::string& ca,
            const std::string& days, const std::string& extensions) {
    Shell(folder_,
          "openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
          "-keyout " +
              name + ".key -out " + name + ".csr -subj '/CN=" + common_name +
              "' 2>/dev/null && openssl x509 -req -in " + name + ".csr -CA " + ca + ".pem -CAkey " +
              ca + ".key -CAcreateserial -out " + name + ".pem -days " + days + " " + extensions +
              " 2>/dev/null");
  }

  fs::path folder_;
};

class TlsE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certificates_ = new TCertificates(fs::temp_directory_path() /
                                      ("velquarn-tls-" + std::to_string(::getpid())));
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(certificates_->Path(""), ignored);
    delete certificates_;
    certificates_ = nullptr;
  }

  void Start(const std::string& settings, bool wait = true) {
    OdbcTestEnv& env = OdbcTestEnv::Get();
    TVelquarnProcessOptions options = VelquarnOptions();
    tls_port_ = FreeTcpPort();
    do {
      options.port = FreeTcpPort();
    } while (options.port == tls_port_);
    options.settings = "TLSPort=" + std::to_string(tls_port_) + "\n" + settings;
    options.sections = "[lite]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                       "\nDriverParams=Database=" + env.NewSqliteFile("tls.db") + "\n";
    options.wait_until_listening = wait;
    server_ = std::make_unique<TVelquarnProcess>(options);
  }

  // A TLS client that has read the greeting.
  TVelquarnClient Tls(std::shared_ptr<const TTlsContext> context) {
    TVelquarnClient client;
    client.SetReadTimeoutMs(10000);
    client.SetTls(std::move(context));
    client.Connect("127.0.0.1", tls_port_);
    EXPECT_EQ(client.ReadLine(), kGreeting);
    return client;
  }

  // The raw replies and blocks of a fixed run of commands.
  static std::string Transcript(TVelquarnClient& client) {
    std::string bytes;
    auto reply = [&](const std::string& line) {
      const TClientReply answer = client.Command(line);
      bytes += std::to_string(answer.Code) + " " + answer.Text() + "\n";
      if (answer.Code == 201) {
        for (const std::string& line : client.ReadDataBlock()) bytes += line + "\n";
      }
      return answer.Code;
    };
    reply("open lite");
    reply("sql drop table if exists t");
    reply("sql create table t (id integer, name varchar(20), b blob)");
    for (int i = 0; i < 3; ++i) {
      const std::string values = std::to_string(i) + ", 'n\xE5me " + std::to_string(i) +
                                 "', x'00ff" + std::to_string(i % 10) + "0'";
      reply("sql insert into t values (" + values + ")");
    }
    reply("sql select * from t order by id");
    if (reply("get 1000") == 200) bytes += client.ReadCountedBlock();
    // Enough rows for many TLS records per block.
    reply(
        "sql with recursive n(i) as (select 1 union all select i + 1 from n limit 20000) "
        "select i, 'row ' || i as name from n");
    while (reply("get 5000") == 200) bytes += client.ReadCountedBlock();
    reply("sql select * from t order by id");
    if (reply("getJSON") == 200) bytes += client.ReadCountedBlock();
    if (reply("info") == 200) bytes += client.ReadCountedBlock();
    return bytes;
  }

  uint16_t tls_port_ = 0;
  std::unique_ptr<TVelquarnProcess> server_;
  static TCertificates* certificates_;
};

TCertificates* TlsE2E::certificates_ = nullptr;

TEST_F(TlsE2E, SameBytesOverTls12Tls13AndPlain) {
  Start(certificates_->ServerSettings());
  TVelquarnClient plain = ConnectGreeted(*server_, 10000);
  const std::string expected = Transcript(plain);
  ASSERT_NE(expected.find("n\xE5me 2"), std::string::npos);
  ASSERT_NE(expected.find("row 20000"), std::string::npos);
  for (const std::string version : {"1.2", "1.3"}) {
    TVelquarnClient client = Tls(certificates_->Client("ca", "", "127.0.0.1", version));
    EXPECT_EQ(client.TlsVersion(), "TLSv" + version);
    EXPECT_EQ(Transcript(client), expected) << version;
  }
  // The host name form is checked too.
  TVelquarnClient by_name = Tls(certificates_->Client("ca", "", "localhost"));
  EXPECT_EQ(by_name.Command("test").Code, 200);
}

TEST_F(TlsE2E, PlainPortZeroServesTlsOnly) {
  Start(certificates_->ServerSettings() + "\nPlainPort=0", false);
  bool served = false;
  for (int attempt = 0; attempt < 100 && !served; ++attempt) {
    try {
      TVelquarnClient client;
      client.SetTls(certificates_->Client());
      client.Connect("127.0.0.1", tls_port_);
      served = client.Command("test").Code == 200;
    } catch (const Exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  EXPECT_TRUE(served) << server_->EventLogText();
  TVelquarnClient plain;
  EXPECT_THROW(plain.Connect("127.0.0.1", server_->Port()), Exception);
}

TEST_F(TlsE2E, ClientRefusesAWrongCaOrName) {
  Start(certificates_->ServerSettings());
  for (const auto& context :
       {certificates_->Client("other-ca"), certificates_->Client("ca", "", "db.example.org")}) {
    TVelquarnClient client;
    client.SetTls(context);
    EXPECT_THROW(client.Connect("127.0.0.1", tls_port_), ETlsError);
  }
  EXPECT_TRUE(server_->WaitForEventLog("TLS connection from 127.0.0.1:", 5000));
  EXPECT_EQ(ConnectGreeted(*server_, 5000).Command("test").Code, 200);
}

TEST_F(TlsE2E, ClientCertificatesWhenRequired) {
  Start(certificates_->ServerSettings() + "\nTLSClientCA=" + certificates_->Path("ca.pem"));
  TVelquarnClient alice = Tls(certificates_->Client("ca", "alice"));
  // The certificate's name goes with the peer into the log.
  EXPECT_EQ(alice.Command("open lite a;uid=b pw").Code, 503);
  EXPECT_TRUE(server_->WaitForEventLog(" CN=alice failed", 5000)) << server_->EventLogText();
  for (const std::string certificate : {"", "mallory"}) {
    TVelquarnClient refused;
    refused.SetReadTimeoutMs(5000);
    refused.SetTls(certificates_->Client("ca", certificate));
    // TLS 1.3 finishes the client's side of the handshake before the server
    // has judged the certificate: the refusal then arrives as the end.
    try {
      refused.Connect("127.0.0.1", tls_port_);
      refused.ReadLine();
      ADD_FAILURE() << "a client with certificate '" << certificate << "' was served";
    } catch (const Exception&) {
    }
  }
  EXPECT_EQ(alice.Command("test").Code, 200);
}

// AllowFrom and AdminFrom may name certificates: alice is let in from an
// address the list does not hold and may read the configuration; bob,
// with a certificate from the same CA, is refused.
TEST_F(TlsE2E, AllowAndAdminListsNameCertificates) {
  Start(certificates_->ServerSettings() + "\nTLSClientCA=" + certificates_->Path("ca.pem") +
        "\nAllowFrom=192.0.2.1, CN=alice\nAdminFrom=CN=alice");
  TVelquarnClient alice = Tls(certificates_->Client("ca", "alice"));
  EXPECT_EQ(ReplyLine(alice, "sys getconfig"), "200 Ok");
  TVelquarnClient bob;
  bob.SetReadTimeoutMs(5000);
  bob.SetTls(certificates_->Client("ca", "bob"));
  bob.Connect("127.0.0.1", tls_port_);
  EXPECT_EQ(bob.ReadLine(), "301 Connections from this address are not allowed");
  // The plain port knows no names: the address list alone decides.
  TVelquarnClient plain;
  plain.SetReadTimeoutMs(5000);
  plain.Connect("127.0.0.1", server_->Port());
  EXPECT_EQ(plain.ReadLine(), "301 Connections from this address are not allowed");
}

TEST_F(TlsE2E, BadCertificatesRefuseTheStart) {
  const auto refused = [this](const std::string& settings, const std::string& text) {
    Start(settings, false);
    EXPECT_EQ(server_->WaitForExit(20000), 1) << settings;
    EXPECT_NE(server_->EventLogText().find(text), std::string::npos) << server_->EventLogText();
  };
  refused(certificates_->ServerSettings("expired"), "has expired");
  refused("TLSCertificate=" + certificates_->Path("server.pem") +
              "\nTLSKey=" + certificates_->Path("alice.key"),
          "does not match the certificate");
  refused("TLSCertificate=" + certificates_->Path("missing.pem") +
              "\nTLSKey=" + certificates_->Path("server.key"),
          "missing.pem: No such file or directory");
  refused("TLSCertificate=" + certificates_->Path("server.pem"), "needs Settings/TLSCertificate");
  refused(certificates_->ServerSettings() + "\nTLSMinVersion=1.1", "is not 1.2 or 1.3");
  const std::string open_key = certificates_->Path("open.key");
  fs::copy_file(certificates_->Path("server.key"), open_key, fs::copy_options::overwrite_existing);
  ::chmod(open_key.c_str(), 0644);
  refused("TLSCertificate=" + certificates_->Path("server.pem") + "\nTLSKey=" + open_key,
          "may be read or written by others");
}

TEST_F(TlsE2E, ReloadReplacesTheCertificateOrKeepsTheOldOne) {
  const std::string certificate = certificates_->Path("live.pem");
  const std::string key = certificates_->Path("live.key");
  const auto use = [&](const std::string& name) {
    fs::copy_file(certificates_->Path(name + ".pem"), certificate,
                  fs::copy_options::overwrite_existing);
    fs::copy_file(certificates_->Path(name + ".key"), key, fs::copy_options::overwrite_existing);
  };
  use("server");
  Start("TLSCertificate=" + certificate + "\nTLSKey=" + key);
  // A certificate the clients do not trust replaces it on SIGHUP...
  use("mallory");
  server_->Signal(SIGHUP);
  ASSERT_TRUE(server_->WaitForEventLog("Reload of", 5000));
  TVelquarnClient client;
  client.SetTls(certificates_->Client("ca", "", ""));
  EXPECT_THROW(client.Connect("127.0.0.1", tls_port_), ETlsError);
  // ...and a broken one does not.
  use("server");
  server_->Signal(SIGHUP);
  bool trusted_again = false;
  for (int attempt = 0; attempt < 50 && !trusted_again; ++attempt) {
    try {
      TVelquarnClient probe;
      probe.SetTls(certificates_->Client());
      probe.Connect("127.0.0.1", tls_port_);
      trusted_again = true;
    } catch (const ETlsError&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  ASSERT_TRUE(trusted_again);
  std::ofstream(certificate) << "not a certificate\n";
  server_->Signal(SIGHUP);
  EXPECT_TRUE(server_->WaitForEventLog("TLS certificate and key not replaced", 5000))
      << server_->EventLogText();
  EXPECT_EQ(Tls(certificates_->Client()).Command("test").Code, 200);
}

TEST_F(TlsE2E, WrongProtocolsStallsAndDropsCloseOnlyTheirConnection) {
  Start(certificates_->ServerSettings());
  TVelquarnClient served = Tls(certificates_->Client());

  // Plain text on the TLS port.
  TVelquarnClient plain;
  plain.SetReadTimeoutMs(5000);
  plain.Connect("127.0.0.1", tls_port_);
  plain.SendLine("test");
  EXPECT_TRUE(plain.WaitForClose(5000));
  EXPECT_TRUE(server_->WaitForEventLog("TLS connection from 127.0.0.1:", 5000));

  // TLS on the plain port: the greeting is no handshake answer.
  TVelquarnClient wrong_port;
  wrong_port.SetTls(certificates_->Client());
  EXPECT_THROW(wrong_port.Connect("127.0.0.1", server_->Port()), ETlsError);

  // The start of a record, then gone.
  TVelquarnClient dropped;
  dropped.Connect("127.0.0.1", tls_port_);
  dropped.SendRaw(std::string("\x16\x03\x01\x02", 4));
  dropped.Close();

  // A peer that never starts its handshake is closed after 10 s.
  TVelquarnClient silent;
  silent.Connect("127.0.0.1", tls_port_);
  EXPECT_EQ(served.Command("test").Code, 200);
  EXPECT_TRUE(silent.WaitForClose(15000));
  EXPECT_TRUE(server_->WaitForEventLog("not complete within 10 s", 5000));
  EXPECT_EQ(served.Command("test").Code, 200);
  EXPECT_EQ(Tls(certificates_->Client()).Command("test").Code, 200);
}

TEST_F(TlsE2E, CommandLineClientOverTls) {
  Start(certificates_->ServerSettings() + "\nTLSClientCA=" + certificates_->Path("ca.pem"));
  const std::string port = std::to_string(tls_port_);
  const TRunResult result = RunVelquarn(
      VELQUARN_CLI_BINARY, {"-p", port, "--ca", certificates_->Path("ca.pem"), "--cert",
                            certificates_->Path("alice.pem"), "--key",
                            certificates_->Path("alice.key"), "-d", "lite", "-c", "select 7 as n"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, " n\n---\n 7\n(1 row)\n");
  // Without the client certificate the server refuses; a connection error.
  const TRunResult refused = RunVelquarn(
      VELQUARN_CLI_BINARY, {"-p", port, "--ca", certificates_->Path("ca.pem"), "-c", "test"});
  EXPECT_EQ(refused.status, 2) << refused.out;
}

TEST_F(TlsE2E, OpensslSClientIsServed) {
  Start(certificates_->ServerSettings());
  const TRunResult result = RunVelquarn(
      "/bin/sh", {"-c",
                  "printf 'test\\r\\nquit\\r\\n' | openssl s_client -quiet -verify_return_error "
                  "-CAfile '" +
                      certificates_->Path("ca.pem") + "' -verify_ip 127.0.0.1 -connect 127.0.0.1:" +
                      std::to_string(tls_port_) + " 2>/dev/null"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find(std::string(kGreeting) + "\r\n200 Ok\r\n"), std::string::npos)
      << result.out;
}

}  // namespace
}  // namespace velquarn::testing
