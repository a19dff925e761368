// Who may connect and what a client may reach: the listen address, the
// allow-list, the configuration commands' admin peers, connection strings
// built from client input, and database passwords kept in files.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/exceptions.h"
#include "e2e/backend_e2e_fixture.h"
#include "e2e/e2e_options.h"
#include "support/file_text.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {
namespace {

void WriteFile(const std::filesystem::path& path, const std::string& text, mode_t mode) {
  std::ofstream(path, std::ios::binary) << text;
  ::chmod(path.c_str(), mode);
}

// The bytes of a setconfig upload: a 4-byte big-endian line count, then the
// lines.
std::string CountedLines(int32_t count, const std::string& lines) {
  std::string bytes(4, '\0');
  const auto value = static_cast<uint32_t>(count);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (24 - 8 * i));
  return bytes + lines;
}

bool HasIpv6Loopback() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return bound;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class AccessE2E : public ::testing::Test {
 protected:
  void Start(const std::string& settings, const std::string& sections = "") {
    OdbcTestEnv::Get();  // the child finds the test drivers through it
    TVelquarnProcessOptions options = VelquarnOptions();
    options.settings = settings;
    options.sections = sections;
    server_ = std::make_unique<TVelquarnProcess>(options);
  }

  // A client from the given local address that has read its first line.
  TVelquarnClient ConnectFrom(const std::string& source, std::string& first_line,
                              const std::string& host = "127.0.0.1") {
    TVelquarnClient client;
    client.SetReadTimeoutMs(5000);
    client.SetSourceAddress(source);
    client.Connect(host, server_->Port());
    first_line = client.ReadLine();
    return client;
  }

  TVelquarnClient GreetedFrom(const std::string& source) {
    std::string greeting;
    TVelquarnClient client = ConnectFrom(source, greeting);
    EXPECT_EQ(greeting, "200 Velquarn 2.1") << "from " << source;
    return client;
  }

  // Starts the binary on settings that must not parse; returns its event log.
  std::string RefusedStart(const std::string& settings) {
    TVelquarnProcessOptions options = VelquarnOptions();
    options.settings = settings;
    options.wait_until_listening = false;
    server_ = std::make_unique<TVelquarnProcess>(options);
    EXPECT_EQ(server_->WaitForExit(20000), 1) << settings;
    return server_->EventLogText();
  }

  std::unique_ptr<TVelquarnProcess> server_;
};

TEST_F(AccessE2E, ListensOnlyOnTheListedAddress) {
  Start("ListenAddress=127.0.0.1");
  GreetedFrom("127.0.0.1");
  TVelquarnClient other;
  try {
    other.Connect("127.0.0.2", server_->Port());
    ADD_FAILURE() << "127.0.0.2 accepted a connection";
  } catch (const Exception& error) {
    EXPECT_NE(std::string(error.what()).find("Connection refused"), std::string::npos)
        << error.what();
  }
}

TEST_F(AccessE2E, ListensOnIpv6LoopbackWhenListed) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback on this machine";
  Start("ListenAddress=127.0.0.1, ::1");
  TVelquarnClient client;
  client.SetReadTimeoutMs(5000);
  client.Connect("::1", server_->Port());
  EXPECT_EQ(client.ReadLine(), "200 Velquarn 2.1");
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_F(AccessE2E, AllowFromRefusesOtherPeersBeforeAnyCommandAndLogsIt) {
  Start("AllowFrom=127.0.0.1/32");
  std::string first;
  TVelquarnClient refused = ConnectFrom("127.0.0.2", first);
  EXPECT_EQ(first, "301 Connections from this address are not allowed");
  EXPECT_TRUE(refused.WaitForClose(5000));
  EXPECT_TRUE(server_->WaitForEventLog(
      "Connection from 127.0.0.2 refused: not in Settings/AllowFrom", 5000))
      << server_->EventLogText();

  TVelquarnClient allowed = GreetedFrom("127.0.0.1");
  EXPECT_EQ(allowed.Command("test").Code, 200);
}

TEST_F(AccessE2E, RefusalsAreLoggedRateLimited) {
  Start("AllowFrom=127.0.0.1");
  for (int i = 0; i < 25; ++i) {
    std::string first;
    TVelquarnClient refused = ConnectFrom("127.0.0.3", first);
    EXPECT_EQ(first.substr(0, 4), "301 ");
  }
  GreetedFrom("127.0.0.1");  // every refusal above has been handled by now
  const std::string log = server_->EventLogText();
  EXPECT_EQ(Count(log, "Connection from 127.0.0.3 refused"), 10u) << log;
}

TEST_F(AccessE2E, AllowFromIpv6RangeAdmitsIpv6LoopbackOnly) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback on this machine";
  Start("ListenAddress=127.0.0.1,::1\nAllowFrom=::1/128");
  std::string first;
  TVelquarnClient v6 = ConnectFrom("::1", first, "::1");
  EXPECT_EQ(first, "200 Velquarn 2.1");
  TVelquarnClient v4 = ConnectFrom("127.0.0.1", first);
  EXPECT_EQ(first, "301 Connections from this address are not allowed");
}

TEST_F(AccessE2E, UnparsableAddressSettingsStopTheStartNamingKeyAndValue) {
  EXPECT_NE(RefusedStart("AllowFrom=127.0.0.1,10.0.0.300")
                .find("Service failed on execute: Settings/AllowFrom: '10.0.0.300' is not an IP "
                      "address or CIDR range"),
            std::string::npos);
  EXPECT_NE(RefusedStart("AdminFrom=10.0.0.0/40")
                .find("Settings/AdminFrom: '10.0.0.0/40' is not an IP address or CIDR range"),
            std::string::npos);
  EXPECT_NE(RefusedStart("ListenAddress=localhost")
                .find("Settings/ListenAddress: 'localhost' is not an IP address or '*'"),
            std::string::npos);
  EXPECT_NE(RefusedStart("ConfigCommands=nope").find("Settings/ConfigCommands: 'nope'"),
            std::string::npos);
}

TEST_F(AccessE2E, ConfigCommandsOnlyFromAdminPeersAndTheFileStaysUntouched) {
  Start("AdminFrom=127.0.0.1");
  const std::string before = ReadFileText(server_->ConfigPath());
  TVelquarnClient outsider = GreetedFrom("127.0.0.2");
  EXPECT_EQ(ReplyLine(outsider, "sys getconfig"),
            "583 Configuration commands are not allowed from this address");
  outsider.SendRaw("sys setconfig\r\n" + CountedLines(2, "[Settings]\r\nPort=1\r\n"));
  EXPECT_EQ(outsider.ReadLine(), "583 Configuration commands are not allowed from this address");
  // The uploaded lines were consumed, not run as commands.
  EXPECT_EQ(ReplyLine(outsider, "test"), "200 Ok");
  EXPECT_EQ(ReadFileText(server_->ConfigPath()), before);

  TVelquarnClient admin = GreetedFrom("127.0.0.1");
  admin.SendLine("sys getconfig");
  EXPECT_EQ(admin.ReadLine(), "200 Ok");
  const std::vector<std::string> lines = admin.ReadDataBlock();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "AdminFrom=127.0.0.1"), lines.end());
  admin.SendRaw("sys setconfig\r\n" + CountedLines(1, "[Settings]\r\n"));
  EXPECT_EQ(admin.ReadLine(), "200 Ok");
  EXPECT_EQ(ReadFileText(server_->ConfigPath()), "[Settings]\r\n");
}

TEST_F(AccessE2E, ConfigCommandsOffForEveryone) {
  Start("ConfigCommands=0\nAdminFrom=127.0.0.1");
  const std::string before = ReadFileText(server_->ConfigPath());
  TVelquarnClient admin = GreetedFrom("127.0.0.1");
  EXPECT_EQ(ReplyLine(admin, "sys getconfig"), "583 Configuration commands are turned off");
  admin.SendRaw("sys setconfig\r\n" + CountedLines(1, "[Settings]\r\n"));
  EXPECT_EQ(admin.ReadLine(), "583 Configuration commands are turned off");
  EXPECT_EQ(ReadFileText(server_->ConfigPath()), before);
  admin.SendLine("sys customdata");  // the other sys operands still answer
  EXPECT_EQ(admin.ReadLine(), "200 Ok");
}

TEST_F(AccessE2E, PasswordFileFromCredentialsDirectoryMustBeTheOwnersAlone) {
  OdbcTestEnv::Get();
  TempDir credentials("velquarn-credentials");
  const std::filesystem::path file = credentials.Path() / "lite.pw";
  WriteFile(file, "secret\n", 0644);
  TempDir data("velquarn-pwfile");
  TVelquarnProcessOptions options = VelquarnOptions();
  options.sections = "[lite]\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                     "\nDriverParams=Database=" + data.File("pw.db") +
                     "\nUsername=u\nPasswordFile=lite.pw\n";
  options.environment["CREDENTIALS_DIRECTORY"] = credentials.Path().string();
  server_ = std::make_unique<TVelquarnProcess>(options);
  TVelquarnClient client = GreetedFrom("127.0.0.1");
  const TClientReply reply = client.Command("open lite");
  EXPECT_EQ(reply.Code, 503);
  EXPECT_EQ(reply.Text(), "PasswordFile " + file.string() +
                              " is readable by group or others (mode 0644); allow its owner "
                              "only, chmod 600");
  ::chmod(file.c_str(), 0600);
  EXPECT_EQ(client.Command("open lite").Code, 200);
  const TClientReply created = client.Command("execsql2 create table t (x int)");
  EXPECT_EQ(created.Code, 200) << created.Text();
}

// Client input in connection strings, on each real database.
class InjectionE2E : public BackendE2E {
 protected:
  std::string ExtraSections() const override {
    // The PostgreSQL section reads its password from a file beside the
    // configuration; the file is written by the test before `open`.
    return "[pgfile]\nDSN=" + std::string(OdbcTestEnv::kPostgresDsn) + "\nUsername=" + BraceRole() +
           "\nPasswordFile=pg.pw\n";
  }

  static std::string BraceRole() { return "vq_brace_" + std::to_string(::getpid()); }
};

TEST_P(InjectionE2E, UserIdCannotAddAConnectionKeyword) {
  // A second SQLite file with a secret, written through a section of its
  // own on a separate server.
  TempDir dir("velquarn-inject");
  const std::string other = dir.File("other.db");
  {
    TVelquarnProcessOptions options = VelquarnOptions();
    options.sections = "[other]\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                       "\nDriverParams=Database=" + other + "\n";
    TVelquarnProcess writer(options);
    TVelquarnClient client = ConnectGreeted(writer, 5000);
    ASSERT_EQ(client.Command("open other").Code, 200);
    ASSERT_EQ(client.Command("execsql2 create table secret (s varchar(10))").Code, 200);
    ASSERT_EQ(client.Command("execsql2 insert into secret values ('hidden')").Code, 200);
  }
  const std::string other_bytes = ReadFileText(other);

  TVelquarnClient client = Connect();
  const std::string target = IsServer() ? ServerDsn() : "lite";
  const std::string user = IsPostgres()  ? PostgresSetting("USER")
                           : IsMariaDb() ? MariaDbSetting("USER")
                                         : "u";
  const std::string password = IsPostgres()  ? PostgresSetting("PASSWORD")
                               : IsMariaDb() ? MariaDbSetting("PASSWORD")
                                             : "p";
  const TClientReply opened =
      client.Command("open " + target + " " + user + ";Database=" + other + " " + password);
  EXPECT_EQ(opened.Code, 503);
  EXPECT_EQ(opened.Text(), "The user id may not hold ';' followed by '='");
  const TClientReply read = client.Command("sql select * from secret");
  EXPECT_NE(read.Code, 200);
  EXPECT_NE(client.Command("get 10").Code, 200);
  EXPECT_EQ(ReadFileText(other), other_bytes);
  EXPECT_FALSE(std::filesystem::exists(other + "}"));
  const TClientReply dsn = client.Command("open x;Driver={SQLite3};Database=" + other);
  EXPECT_EQ(dsn.Code, 503);
  EXPECT_EQ(dsn.Text(), "The data source name may not hold ';' followed by '='");

  // A user id with ";" and "}" but no keyword reaches the driver quoted:
  // PostgreSQL and MariaDB refuse the login, SQLite ignores the user id.
  ASSERT_EQ(client.Command("open " + target + " " + user + ";x} " + password).Code, 200);
  const TClientReply login = client.Command("sql select 1 as one");
  if (IsPostgres()) {
    EXPECT_EQ(login.Code, 512);
    EXPECT_NE(login.Text().find("authentication failed"), std::string::npos) << login.Text();
  } else if (IsMariaDb()) {
    EXPECT_EQ(login.Code, 512);
    EXPECT_NE(login.Text().find("Access denied for user '" + user + ";x}'"), std::string::npos)
        << login.Text();
  } else {
    EXPECT_EQ(login.Code, 200) << login.Text();
  }
}

TEST_P(InjectionE2E, BraceQuotedPasswordLogsIn) {
  if (!IsPostgres()) {
    GTEST_SKIP() << "SQLite has no logins; the MariaDB test account may not create users";
  }
  const std::string role = BraceRole();
  {
    TVelquarnClient admin = Open();
    admin.Command("execsql2 drop role if exists " + role);
    ASSERT_EQ(admin.Command("execsql2 create role " + role + " login password 'ab;cd}e'").Code,
              200);
  }
  {
    TVelquarnClient client = Connect();
    ASSERT_EQ(
        client.Command("open " + std::string(OdbcTestEnv::kPostgresDsn) + " " + role + " ab;cd}e")
            .Code,
        200);
    EXPECT_EQ(Rows(client, "select current_user as who"), RowsOf({"\"" + role + "\""}));
    // The same password from a PasswordFile of a section.
    WriteFile(server_->Folder() / "pg.pw", "ab;cd}e\n", 0600);
    ASSERT_EQ(client.Command("open pgfile").Code, 200);
    EXPECT_EQ(Rows(client, "select current_user as who"), RowsOf({"\"" + role + "\""}));
  }
  TVelquarnClient admin = Open();
  admin.Command("execsql2 drop role if exists " + role);
}

INSTANTIATE_TEST_SUITE_P(Backends, InjectionE2E, AllBackends(), BackendName);

}  // namespace
}  // namespace velquarn::testing
