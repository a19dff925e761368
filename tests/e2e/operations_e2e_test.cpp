// What an operator meets: the entries of the event log with their
// priorities (start, stop, refusals, failed connects, slow statements,
// configuration warnings), SIGHUP reloading the live settings, SIGUSR1 and
// SIGUSR2, and a stop that lets running commands finish within
// ShutdownGraceSec.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "client/velquarn_client.h"
#include "common/exceptions.h"
#include "e2e/e2e_options.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {
namespace {

using Clock = std::chrono::steady_clock;

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

std::string SqliteSection(const std::string& name) {
  return "[" + name + "]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
         "\nDriverParams=Database=" + OdbcTestEnv::Get().NewSqliteFile(name + ".db") + "\n";
}

std::string PostgresOpenLine() {
  return std::string("open ") + OdbcTestEnv::kPostgresDsn + " " + PostgresSetting("USER") + " " +
         PostgresSetting("PASSWORD");
}

// Rewrites the configuration of a running server.
void RewriteConfig(const TVelquarnProcess& server, const std::string& settings,
                   const std::string& sections = "") {
  std::ofstream(server.ConfigPath()) << "[Settings]\nPort=" << server.Port() << "\n"
                                     << IsolationSetting() << settings << "\n"
                                     << sections;
}

class OperationsE2E : public ::testing::Test {
 protected:
  void SetUp() override { OdbcTestEnv::Get(); }

  void Start(const std::string& settings, const std::string& sections = "") {
    TVelquarnProcessOptions options = VelquarnOptions();
    options.settings = settings;
    options.sections = sections;
    server_ = std::make_unique<TVelquarnProcess>(options);
  }

  std::string Log() const { return server_->EventLogText(); }

  // A greeted connection under a MaxConnections the test fills. The
  // connection that waited for the port may still be counted for a moment,
  // so a refusal is tried again.
  TVelquarnClient HoldAPlace() {
    for (int attempt = 0; attempt < 100; ++attempt) {
      TVelquarnClient client;
      client.SetReadTimeoutMs(5000);
      client.Connect("127.0.0.1", server_->Port());
      if (client.ReadLine() == "200 Velquarn 2.1") return client;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "never admitted";
    return TVelquarnClient();
  }

  std::unique_ptr<TVelquarnProcess> server_;
};

TEST_F(OperationsE2E, StartAndStopEntriesNameVersionAddressesReasonAndConnections) {
  // Two places, both taken: the connection that waited for the port is
  // gone by then, and the stop counts exactly these two.
  Start("ListenAddress=127.0.0.1\nMaxConnections=2");
  TVelquarnClient first = HoldAPlace();
  TVelquarnClient second = HoldAPlace();
  server_->Signal(SIGINT);
  EXPECT_EQ(server_->WaitForExit(10000), 0);
  const std::string log = Log();
  EXPECT_EQ(log.rfind("info VelquarnSvc Service started: velquarn ", 0), 0u) << log;
  EXPECT_NE(log.find(", configuration " + server_->ConfigPath().string() +
                     ", listening on 127.0.0.1:" + std::to_string(server_->Port()) + "\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("info VelquarnSvc Service stopped on SIGINT: 2 connection(s) closed\n"),
            std::string::npos)
      << log;
}

TEST_F(OperationsE2E, ValuesThatFallBackToDefaultsAreWarnedAtStart) {
  Start("IPV6=true\nMaxLineLenght=10\nSlowQueryMs=0");
  const std::string path = server_->ConfigPath().string();
  const std::string log = Log();
  EXPECT_NE(log.find("warning VelquarnSvc Configuration: " + path +
                     ":3: [Settings] IPV6=true: not an integer; the service would use the "
                     "default 0\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("warning VelquarnSvc Configuration: " + path +
                     ":4: [Settings] MaxLineLenght: unknown key; did you mean MaxLineLength?\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(Count(log, "Configuration: "), 2u) << log;
  // The service still starts.
  TVelquarnClient client = ConnectGreeted(*server_, 5000);
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_F(OperationsE2E, ConnectionLimitRefusalsAreWarnedAndRateLimited) {
  Start("MaxConnections=1");
  TVelquarnClient held = HoldAPlace();
  for (int i = 0; i < 15; ++i) {
    TVelquarnClient refused;
    refused.Connect("127.0.0.1", server_->Port());
    EXPECT_EQ(refused.ReadLine(), "300 Max connections reached");
  }
  EXPECT_TRUE(server_->WaitForEventLog(
      "warning Velquarn Connection from 127.0.0.1 refused: Max connections reached\n", 5000))
      << Log();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Count(Log(), "refused: Max connections reached"), 10u) << Log();
}

TEST_F(OperationsE2E, FailedConnectIsLoggedWithSectionPeerAndSqlstate) {
  Start("");
  TVelquarnClient client = ConnectGreeted(*server_, 10000);
  ASSERT_EQ(client.Command("open NoSuchDataSource").Code, 200);
  EXPECT_NE(client.Command("sql select 1").Code, 200);
  EXPECT_TRUE(server_->WaitForEventLog(
      "err Velquarn Connect to database section NoSuchDataSource for 127.0.0.1:", 5000))
      << Log();
  // The driver manager's "data source name not found".
  EXPECT_NE(Log().find(" failed: SQLSTATE IM002: "), std::string::npos) << Log();
  EXPECT_NE(Log().find("Data source name not found"), std::string::npos) << Log();
}

TEST_F(OperationsE2E, OpenRefusedBeforeAnyConnectIsWarned) {
  Start("", SqliteSection("lite"));
  TVelquarnClient client = ConnectGreeted(*server_, 10000);
  EXPECT_EQ(client.Command("open lite a;uid=b pw").Code, 503);
  EXPECT_TRUE(server_->WaitForEventLog(
      "warning Velquarn Open of database section lite for 127.0.0.1:", 5000))
      << Log();
  EXPECT_NE(Log().find(" failed: The user id may not hold ';' followed by '='\n"),
            std::string::npos)
      << Log();
}

TEST_F(OperationsE2E, RefusedPostgresLoginIsLoggedWithItsSqlstate) {
  if (!PostgresAvailable()) GTEST_SKIP() << "PostgreSQL not available (VELQUARN_PG_* unset)";
  Start("");
  TVelquarnClient client = ConnectGreeted(*server_, 10000);
  ASSERT_EQ(client
                .Command(std::string("open ") + OdbcTestEnv::kPostgresDsn +
                         " no_such_role wrong_password")
                .Code,
            200);
  EXPECT_NE(client.Command("sql select 1").Code, 200);
  EXPECT_TRUE(server_->WaitForEventLog(
      "Connect to database section " + std::string(OdbcTestEnv::kPostgresDsn) + " for 127.0.0.1:",
      5000))
      << Log();
  const std::string log = Log();
  const size_t state = log.find(" failed: SQLSTATE ");
  ASSERT_NE(state, std::string::npos) << log;
  const std::string code = log.substr(state + 18, 5);
  EXPECT_EQ(code.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos)
      << log;
  EXPECT_EQ(log.compare(state + 23, 2, ": "), 0) << log;
}

TEST_F(OperationsE2E, SlowStatementIsWarnedWithSectionPeerTimeAndText) {
  Start("SlowQueryMs=1", SqliteSection("lite"));
  TVelquarnClient client = ConnectGreeted(*server_, 30000);
  ASSERT_EQ(client.Command("open lite").Code, 200);
  // A million recursion steps: far beyond a millisecond on any machine.
  const std::string slow =
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < 1000000) "
      "select count(*) from c /*" +
      std::string(300, 'z') + "*/";
  ASSERT_EQ(client.Command("sql " + slow).Code, 200);
  EXPECT_TRUE(server_->WaitForEventLog(
      "warning Velquarn Slow statement on database section lite for 127.0.0.1:", 5000))
      << Log();
  const std::string log = Log();
  EXPECT_NE(log.find(" ms (SlowQueryMs 1): " + slow.substr(0, 200) + "\n"), std::string::npos)
      << log;
}

TEST_F(OperationsE2E, SlowPostgresStatementIsWarnedAndFastOnesAreNot) {
  if (!PostgresAvailable()) GTEST_SKIP() << "PostgreSQL not available (VELQUARN_PG_* unset)";
  Start("SlowQueryMs=300");
  TVelquarnClient client = ConnectGreeted(*server_, 10000);
  ASSERT_EQ(client.Command(PostgresOpenLine()).Code, 200);
  ASSERT_EQ(client.Command("sql select 42").Code, 200);
  ASSERT_EQ(client.Command("sql select pg_sleep(0.6)").Code, 200);
  EXPECT_TRUE(server_->WaitForEventLog(": select pg_sleep(0.6)\n", 5000)) << Log();
  EXPECT_EQ(Count(Log(), "Slow statement"), 1u) << Log();
}

TEST_F(OperationsE2E, SighupAppliesChangedLiveSettingsAndKeepsConnections) {
  Start("SlowQueryMs=0", SqliteSection("lite"));
  TVelquarnClient kept = ConnectGreeted(*server_, 10000);
  ASSERT_EQ(kept.Command("sys getconfig").Code, 200);
  kept.ReadDataBlock();

  RewriteConfig(*server_, "ConfigCommands=0\nMaxConnections=2\nListenAddress=127.0.0.1",
                SqliteSection("lite"));
  server_->Signal(SIGHUP);
  EXPECT_TRUE(server_->WaitForEventLog("info VelquarnSvc Reload of ", 5000)) << Log();
  EXPECT_TRUE(server_->Running());
  const std::string log = Log();
  EXPECT_NE(log.find(": MaxConnections: 2000 -> 2, ConfigCommands: 1 -> 0\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("warning VelquarnSvc Reload of " + server_->ConfigPath().string() +
                     ": ListenAddress changed in the file; that takes a restart\n"),
            std::string::npos)
      << log;
  // The connection made before the reload lives on under the new settings.
  EXPECT_EQ(kept.Command("sys getconfig").Text(), "Configuration commands are turned off");
  // In process isolation a connection counts until its worker has exited,
  // a moment after its client left (the start's own probe among them).
  std::string greeting;
  TVelquarnClient second;
  for (int i = 0; i < 50 && greeting != "200 Velquarn 2.1"; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    second = TVelquarnClient();
    second.SetReadTimeoutMs(5000);
    second.Connect("127.0.0.1", server_->Port());
    greeting = second.ReadLine();
  }
  EXPECT_EQ(greeting, "200 Velquarn 2.1");
  TVelquarnClient third;
  third.Connect("127.0.0.1", server_->Port());
  EXPECT_EQ(third.ReadLine(), "300 Max connections reached");
}

TEST_F(OperationsE2E, SighupAppliesNewDatabaseSectionsToTheNextOpen) {
  Start("");
  TVelquarnClient client = ConnectGreeted(*server_, 10000);
  RewriteConfig(*server_, "", SqliteSection("added"));
  server_->Signal(SIGHUP);
  ASSERT_TRUE(server_->WaitForEventLog("no live setting changed", 5000)) << Log();
  ASSERT_EQ(client.Command("open added").Code, 200);
  EXPECT_EQ(client.Command("sql select 1").Code, 200);
}

TEST_F(OperationsE2E, SighupWithABadFileKeepsTheSettingsInForce) {
  Start("MaxConnections=1");
  RewriteConfig(*server_, "MaxConnections=lots");
  server_->Signal(SIGHUP);
  EXPECT_TRUE(server_->WaitForEventLog(
      "err VelquarnSvc Reload of " + server_->ConfigPath().string() +
          " failed, the settings in force stay: Settings/MaxConnections: 'lots' is not a valid "
          "value",
      5000))
      << Log();
  std::filesystem::remove(server_->ConfigPath());
  server_->Signal(SIGHUP);
  EXPECT_TRUE(server_->WaitForEventLog("Cannot open file", 5000)) << Log();
  TVelquarnClient held = HoldAPlace();
  TVelquarnClient refused;
  refused.Connect("127.0.0.1", server_->Port());
  EXPECT_EQ(refused.ReadLine(), "300 Max connections reached");
}

TEST_F(OperationsE2E, Sigusr1LogsAStatusAndSigusr2IsIgnored) {
  Start("");
  TVelquarnClient client = ConnectGreeted(*server_, 5000);
  server_->Signal(SIGUSR2);
  server_->Signal(SIGUSR1);
  // The count may still include the start-up probe of the fixture, whose
  // connection the server closes a moment after it was made.
  EXPECT_TRUE(server_->WaitForEventLog("info VelquarnSvc Status: ", 5000)) << Log();
  EXPECT_NE(Log().find(" connection(s) open, configuration "), std::string::npos) << Log();
  EXPECT_TRUE(server_->Running());
  EXPECT_EQ(client.Command("test").Code, 200);
}

// A client inside a three-second statement when the stop arrives.
class GracefulStopE2E : public OperationsE2E {
 protected:
  void SetUp() override {
    OperationsE2E::SetUp();
    if (!PostgresAvailable()) GTEST_SKIP() << "PostgreSQL not available (VELQUARN_PG_* unset)";
  }

  // Starts the statement, then an idle client, then SIGTERM.
  void StopDuringStatement(const std::string& settings) {
    Start(settings);
    busy_ = ConnectGreeted(*server_, 10000);
    ASSERT_EQ(busy_.Command(PostgresOpenLine()).Code, 200);
    ASSERT_EQ(busy_.Command("sql select 1").Code, 200);  // connected before the timing starts
    idle_ = ConnectGreeted(*server_, 10000);
    busy_.SendLine("sql select pg_sleep(3)");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop_sent_ = Clock::now();
    server_->Signal(SIGTERM);
  }

  double SecondsSinceStop() const {
    return std::chrono::duration<double>(Clock::now() - stop_sent_).count();
  }

  TVelquarnClient busy_;
  TVelquarnClient idle_;
  Clock::time_point stop_sent_;
};

TEST_F(GracefulStopE2E, GraceLetsTheRunningStatementAnswerThenCloses) {
  StopDuringStatement("ShutdownGraceSec=5");
  // Idle connections close at once, and nobody new gets in.
  EXPECT_TRUE(idle_.WaitForClose(1000));
  EXPECT_LT(SecondsSinceStop(), 1.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  TVelquarnClient late;
  EXPECT_THROW(late.Connect("127.0.0.1", server_->Port(), 1000), Exception);

  const TClientReply reply = busy_.ReadReply();
  EXPECT_EQ(reply.Code, 200) << reply.Text();
  EXPECT_TRUE(busy_.WaitForClose(2000));
  EXPECT_GT(SecondsSinceStop(), 2.0);
  EXPECT_EQ(server_->WaitForExit(5000), 0);
  EXPECT_NE(Log().find("running commands may finish within ShutdownGraceSec (5 s)"),
            std::string::npos)
      << Log();
  EXPECT_NE(Log().find("Service stopped on SIGTERM: 2 connection(s) closed"), std::string::npos)
      << Log();
}

TEST_F(GracefulStopE2E, WithoutGraceTheConnectionClosesAtOnce) {
  StopDuringStatement("");
  EXPECT_TRUE(busy_.WaitForClose(1500));
  EXPECT_TRUE(idle_.WaitForClose(1000));
  EXPECT_LT(SecondsSinceStop(), 1.5);
  EXPECT_EQ(server_->WaitForExit(10000), 0);
}

TEST_F(GracefulStopE2E, AStatementLongerThanTheGraceIsCutOff) {
  StopDuringStatement("ShutdownGraceSec=1");
  EXPECT_TRUE(busy_.WaitForClose(3000));
  EXPECT_LT(SecondsSinceStop(), 2.0);
  EXPECT_EQ(server_->WaitForExit(10000), 0);
}

}  // namespace
}  // namespace velquarn::testing
