// Behind a load balancer that sends the PROXY protocol header: the client's
// address comes from the header for the log, the allow-list, the admin peers
// and the per-address limit; only the listed balancers may send one, and
// from them a connection without a valid header is refused.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "e2e/e2e_options.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {
namespace {

constexpr char kGreeting[] = "200 Velquarn 2.1";

std::string V1(const std::string& client, int port) {
  return "PROXY TCP4 " + client + " 127.0.0.1 " + std::to_string(port) + " 8888\r\n";
}

// Version 2 from 198.51.100.9:40009 over TCP/IPv4, or a LOCAL check.
std::string V2(bool local) {
  std::string header("\x0D\x0A\x0D\x0A\x00\x0D\x0A\x51\x55\x49\x54\x0A", 12);
  if (local) return header + std::string("\x20\x00\x00\x00", 4);
  return header +
         std::string("\x21\x11\x00\x0C\xC6\x33\x64\x09\x7F\x00\x00\x01\x9C\x49\x22\xB8", 16);
}

class ProxyProtocolE2E : public ::testing::Test {
 protected:
  void Start(const std::string& settings) {
    OdbcTestEnv& env = OdbcTestEnv::Get();
    TVelquarnProcessOptions options = VelquarnOptions();
    options.settings = settings;
    options.sections = "[lite]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                       "\nDriverParams=Database=" + env.NewSqliteFile("proxy.db") + "\n";
    server_ = std::make_unique<TVelquarnProcess>(options);
  }

  // A connection from a balancer at source that has sent bytes and read
  // the first line of the answer.
  TVelquarnClient Send(const std::string& source, const std::string& bytes, std::string& first) {
    TVelquarnClient client;
    client.SetReadTimeoutMs(10000);
    client.SetSourceAddress(source);
    client.Connect("127.0.0.1", server_->Port());
    client.SendRaw(bytes);
    first = client.ReadLine();
    return client;
  }

  std::unique_ptr<TVelquarnProcess> server_;
};

TEST_F(ProxyProtocolE2E, TheClientsAddressDecidesAndIsLogged) {
  Start(
      "ProxyProtocol=1\nProxyFrom=127.0.0.1\nAllowFrom=198.51.100.0/24\n"
      "AdminFrom=198.51.100.7");
  std::string first;
  // The header and the first command in one packet.
  TVelquarnClient admin = Send("127.0.0.1", V1("198.51.100.7", 40007) + "test\r\n", first);
  EXPECT_EQ(first, kGreeting);
  EXPECT_EQ(admin.ReadLine(), "200 Ok");
  EXPECT_EQ(ReplyLine(admin, "sys getconfig"), "200 Ok");
  admin.ReadDataBlock();
  EXPECT_EQ(admin.Command("open lite a;uid=b pw").Code, 503);
  EXPECT_TRUE(server_->WaitForEventLog("section lite for 198.51.100.7:40007 failed", 5000))
      << server_->EventLogText();

  // Same balancer, another client: not an admin peer.
  TVelquarnClient other = Send("127.0.0.1", V1("198.51.100.8", 40008), first);
  EXPECT_EQ(first, kGreeting);
  EXPECT_EQ(ReplyLine(other, "sys getconfig"),
            "583 Configuration commands are not allowed from this address");

  // A client outside AllowFrom is refused although its balancer is listed.
  TVelquarnClient outsider = Send("127.0.0.1", V1("203.0.113.9", 40009), first);
  EXPECT_EQ(first, "301 Connections from this address are not allowed");
  EXPECT_TRUE(outsider.WaitForClose(5000));
  EXPECT_TRUE(server_->WaitForEventLog(
      "Connection from 203.0.113.9 refused: not in Settings/AllowFrom", 5000));
}

TEST_F(ProxyProtocolE2E, OnlyListedBalancersAndOnlyWithAValidHeader) {
  Start("ProxyProtocol=1\nProxyFrom=127.0.0.1");
  std::string first;
  // A client reaching the gateway past the balancer cannot claim an address.
  TVelquarnClient forged = Send("127.0.0.2", V1("198.51.100.7", 1), first);
  EXPECT_EQ(first, "301 Connections from this address are not allowed");
  EXPECT_TRUE(server_->WaitForEventLog(
      "Connection from 127.0.0.2 refused: not in Settings/ProxyFrom", 5000));

  TVelquarnClient bare = Send("127.0.0.1", "test\r\n", first);
  EXPECT_EQ(first, "301 A valid PROXY protocol header is required");
  EXPECT_TRUE(bare.WaitForClose(5000));
  TVelquarnClient bad = Send("127.0.0.1", "PROXY TCP4 198.51.100.7 127.0.0.1 x 1\r\n", first);
  EXPECT_EQ(first, "301 A valid PROXY protocol header is required");

  // Version 2, and the balancer's own health check (LOCAL).
  TVelquarnClient v2 = Send("127.0.0.1", V2(false), first);
  EXPECT_EQ(first, kGreeting);
  EXPECT_EQ(v2.Command("test").Code, 200);
  TVelquarnClient check = Send("127.0.0.1", V2(true) + "test\r\n", first);
  EXPECT_EQ(first, kGreeting);
  EXPECT_EQ(check.ReadLine(), "200 Ok");
}

TEST_F(ProxyProtocolE2E, PerAddressLimitCountsClientsNotTheBalancer) {
  Start("ProxyProtocol=1\nProxyFrom=127.0.0.0/8\nMaxConnectionsPerAddress=1");
  std::string first;
  TVelquarnClient a = Send("127.0.0.1", V1("198.51.100.1", 1), first);
  EXPECT_EQ(first, kGreeting);
  TVelquarnClient b = Send("127.0.0.1", V1("198.51.100.2", 2), first);
  EXPECT_EQ(first, kGreeting);
  TVelquarnClient again = Send("127.0.0.1", V1("198.51.100.1", 3), first);
  EXPECT_EQ(first, "300 Max connections per address reached");
  a.SendLine("quit");
  EXPECT_TRUE(a.WaitForClose(5000));
  // The place is freed once its session has ended.
  for (int attempt = 0; attempt < 50; ++attempt) {
    TVelquarnClient next = Send("127.0.0.1", V1("198.51.100.1", 4), first);
    if (first == kGreeting) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(first, kGreeting);
}

TEST_F(ProxyProtocolE2E, ProxyProtocolWithoutBalancersRefusesTheStart) {
  TVelquarnProcessOptions options = VelquarnOptions();
  options.settings = "ProxyProtocol=1";
  options.wait_until_listening = false;
  server_ = std::make_unique<TVelquarnProcess>(options);
  EXPECT_EQ(server_->WaitForExit(20000), 1);
  EXPECT_NE(server_->EventLogText().find("Settings/ProxyFrom: empty"), std::string::npos)
      << server_->EventLogText();
  options.settings = "ProxyProtocol=maybe\nProxyFrom=127.0.0.1";
  server_ = std::make_unique<TVelquarnProcess>(options);
  EXPECT_EQ(server_->WaitForExit(20000), 1);
  EXPECT_NE(server_->EventLogText().find("Settings/ProxyProtocol: 'maybe' is not 0 or 1"),
            std::string::npos);
}

}  // namespace
}  // namespace velquarn::testing
