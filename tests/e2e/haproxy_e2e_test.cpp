// Three gateways behind a real HAProxy running examples/haproxy/haproxy.cfg
// as it stands: sessions spread over the gateways and each keeps to one; a
// gateway stopped with SIGTERM drops out (its sessions end, the others'
// do not, new ones go elsewhere) and comes back when restarted; the PROXY
// header brings the client's own address to the gateway's log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/result_reader.h"
#include "common/exceptions.h"
#include "e2e/e2e_options.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {
namespace {

constexpr char kHaproxy[] = "/usr/sbin/haproxy";
constexpr char kGreeting[] = "200 Velquarn 2.1";
constexpr int kGateways = 3;

// A running HAProxy on the example configuration; stopped on destruction.
class THaproxy {
 public:
  THaproxy(uint16_t front, const std::array<uint16_t, kGateways>& gateways,
           const std::filesystem::path& log) {
    std::map<std::string, std::string> environment = {
        {"VELQUARN_FRONT", "127.0.0.1:" + std::to_string(front)}};
    for (int i = 0; i < kGateways; ++i) {
      environment["VELQUARN_GW" + std::to_string(i + 1)] =
          "127.0.0.1:" + std::to_string(gateways[i]);
    }
    const int log_fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = SpawnProcess(
        kHaproxy, {"-db", "-f", std::string(VELQUARN_SOURCE_DIR) + "/examples/haproxy/haproxy.cfg"},
        environment, log_fd, log_fd);
    if (log_fd >= 0) ::close(log_fd);
  }
  ~THaproxy() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

// What one session through the balancer saw: the gateway that served it
// (1-3), or 0 and why it failed.
struct TSession {
  int gateway = 0;
  std::string error;
};

class HaproxyE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kHaproxy, X_OK) != 0) GTEST_SKIP() << "haproxy is not installed";
    OdbcTestEnv& env = OdbcTestEnv::Get();
    for (int i = 0; i < kGateways; ++i) {
      sections_[i] = "[lite]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                     "\nDriverParams=Database=" +
                     env.NewSqliteFile("gateway" + std::to_string(i + 1) + ".db") + "\n";
      StartGateway(i, 0);
      // Each gateway's database says which gateway it is.
      TVelquarnClient client = Direct(i);
      ASSERT_EQ(client.Command("open lite").Code, 200);
      for (const std::string& sql : {std::string("drop table if exists whoami"),
                                     std::string("create table whoami (n integer)"),
                                     "insert into whoami values (" + std::to_string(i + 1) + ")"}) {
        const TStatementResult result = RunSql(client, sql);
        ASSERT_TRUE(result.Ok()) << sql << ": " << result.Reply.Text();
      }
    }
    front_ = FreeTcpPort();
    haproxy_log_ = gateways_[0]->Folder() / "haproxy.log";
    haproxy_ = std::make_unique<THaproxy>(front_, ports_, haproxy_log_);
    for (int attempt = 0; attempt < 100 && Session().gateway == 0; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  void StartGateway(int i, uint16_t port) {
    TVelquarnProcessOptions options = VelquarnOptions();
    options.port = port;
    options.settings =
        "ListenAddress=127.0.0.1\nProxyProtocol=1\nProxyFrom=127.0.0.1\nShutdownGraceSec=5";
    options.sections = sections_[i];
    gateways_[i] = std::make_unique<TVelquarnProcess>(options);
    ports_[i] = gateways_[i]->Port();
  }

  // A session straight to gateway i, past the balancer, with a header of
  // its own.
  TVelquarnClient Direct(int i) {
    TVelquarnClient client;
    client.SetReadTimeoutMs(10000);
    client.Connect("127.0.0.1", ports_[i]);
    client.SendRaw("PROXY TCP4 127.0.0.1 127.0.0.1 1 1\r\n");
    EXPECT_EQ(client.ReadLine(), kGreeting);
    return client;
  }

  // Opens a session through the balancer and asks which gateway serves it;
  // the client is left open for more.
  TSession Open(TVelquarnClient& client, const std::string& source = "") {
    TSession session;
    try {
      client.SetReadTimeoutMs(10000);
      if (!source.empty()) client.SetSourceAddress(source);
      client.Connect("127.0.0.1", front_);
      const std::string greeting = client.ReadLine();
      if (greeting != kGreeting) throw Exception("greeting " + greeting);
      if (client.Command("open lite").Code != 200) throw Exception("open failed");
      session.gateway = static_cast<int>(Query(client, "select n from whoami"));
    } catch (const std::exception& error) {
      session.gateway = 0;
      session.error = error.what();
    }
    return session;
  }

  static int64_t Query(TVelquarnClient& client, const std::string& sql) {
    const TStatementResult result = RunSql(client, sql);
    if (!result.HasResultSet) throw Exception("no result for " + sql);
    const TFetchResult rows = FetchRows(client, result.Columns, 10);
    if (rows.Rows.size() != 1) throw Exception("not one row for " + sql);
    return rows.Rows[0][0].Integer;
  }

  // A whole session: open, one query of its own whose answer it checks,
  // quit.
  TSession Session(int number = 0) {
    TVelquarnClient client;
    TSession session = Open(client);
    if (session.gateway == 0) return session;
    try {
      if (Query(client, "select " + std::to_string(number) + " + 1") != number + 1) {
        throw Exception("wrong answer");
      }
      client.SendLine("quit");
    } catch (const std::exception& error) {
      session = TSession{0, error.what()};
    }
    return session;
  }

  // count sessions from 30 threads; how many each gateway served (index 0:
  // failed ones), with the first failure's text.
  std::array<int, kGateways + 1> Sessions(int count, std::string& failure) {
    std::array<std::atomic<int>, kGateways + 1> served{};
    std::atomic<int> next = 0;
    std::mutex mutex;
    std::vector<std::thread> threads;
    for (int t = 0; t < 30; ++t) {
      threads.emplace_back([&] {
        for (int n = next++; n < count; n = next++) {
          const TSession session = Session(n);
          ++served[session.gateway];
          if (session.gateway == 0) {
            std::scoped_lock lock(mutex);
            if (failure.empty()) failure = session.error;
          }
        }
      });
    }
    for (auto& thread : threads) thread.join();
    std::array<int, kGateways + 1> result{};
    for (int i = 0; i <= kGateways; ++i) result[i] = served[i];
    return result;
  }

  std::string HaproxyLog() const {
    std::ifstream in(haproxy_log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Waits for the balancer's checks (a second apart, two to change state).
  static void WaitForChecks() { std::this_thread::sleep_for(std::chrono::milliseconds(3500)); }

  std::array<std::string, kGateways> sections_;
  std::array<std::unique_ptr<TVelquarnProcess>, kGateways> gateways_;
  std::array<uint16_t, kGateways> ports_{};
  uint16_t front_ = 0;
  std::filesystem::path haproxy_log_;
  std::unique_ptr<THaproxy> haproxy_;
};

TEST_F(HaproxyE2E, SessionsSpreadAndSurviveAGatewayStoppingAndComingBack) {
  std::string failure;
  const auto first = Sessions(300, failure);
  EXPECT_EQ(first[0], 0) << failure;
  for (int i = 1; i <= kGateways; ++i) EXPECT_GT(first[i], 0) << "gateway " << i;

  // Sessions held open on every gateway while gateway 2 stops.
  std::vector<TVelquarnClient> held(30);
  std::vector<int> held_on(held.size());
  for (size_t i = 0; i < held.size(); ++i) {
    const TSession session = Open(held[i]);
    ASSERT_NE(session.gateway, 0) << session.error;
    held_on[i] = session.gateway;
  }
  gateways_[1]->Signal(SIGTERM);
  for (size_t i = 0; i < held.size(); ++i) {
    if (held_on[i] == 2) {
      EXPECT_TRUE(held[i].WaitForClose(10000)) << "session " << i << " on the stopped gateway";
    } else {
      EXPECT_EQ(held[i].Command("test").Code, 200) << "session " << i << " on " << held_on[i];
    }
  }
  EXPECT_EQ(gateways_[1]->WaitForExit(15000), 0);
  WaitForChecks();
  const auto without = Sessions(90, failure);
  EXPECT_EQ(without[0], 0) << failure;
  EXPECT_EQ(without[2], 0);
  EXPECT_EQ(without[1] + without[3], 90);

  // Back on its port, it receives sessions again.
  StartGateway(1, ports_[1]);
  WaitForChecks();
  const auto again = Sessions(90, failure);
  EXPECT_EQ(again[0], 0) << failure;
  EXPECT_GT(again[2], 0);

  // The balancer's checks saw exactly that: only gateway 2 went down and
  // came back up.
  const std::string log = HaproxyLog();
  EXPECT_NE(log.find("gw2 is DOWN"), std::string::npos) << log;
  EXPECT_NE(log.find("gw2 is UP"), std::string::npos) << log;
  EXPECT_EQ(log.find("gw1 is DOWN"), std::string::npos) << log;
  EXPECT_EQ(log.find("gw3 is DOWN"), std::string::npos) << log;
}

TEST_F(HaproxyE2E, GatewaysLogTheClientsAddressNotTheBalancers) {
  TVelquarnClient client;
  const TSession session = Open(client, "127.0.0.5");
  ASSERT_NE(session.gateway, 0) << session.error;
  // A refused open is logged with the peer it was for.
  EXPECT_EQ(client.Command("open lite a;uid=b pw").Code, 503);
  EXPECT_TRUE(gateways_[session.gateway - 1]->WaitForEventLog("section lite for 127.0.0.5:", 5000))
      << gateways_[session.gateway - 1]->EventLogText();

  // Past the balancer, a client cannot claim an address.
  TVelquarnClient forged;
  forged.SetReadTimeoutMs(5000);
  forged.SetSourceAddress("127.0.0.6");
  forged.Connect("127.0.0.1", ports_[0]);
  forged.SendRaw("PROXY TCP4 10.1.1.1 127.0.0.1 1 1\r\n");
  EXPECT_EQ(forged.ReadLine(), "301 Connections from this address are not allowed");
}

}  // namespace
}  // namespace velquarn::testing
