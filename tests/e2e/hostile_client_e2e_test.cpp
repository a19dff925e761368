// What a hostile or unlucky client may do to the service, and what it must
// not achieve: crash it, corrupt data, hold its stop hostage or lock other
// clients out.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/velquarn_client.h"
#include "e2e/backend_e2e_fixture.h"
#include "e2e/e2e_options.h"
#include "support/file_text.h"
#include "support/odbc_test_env.h"
#include "support/velquarn_process.h"

namespace velquarn::testing {
namespace {

using Clock = std::chrono::steady_clock;

// The 4-byte big-endian count that starts a counted block of lines.
std::string CountPrefix(uint32_t count) {
  return std::string{static_cast<char>(count >> 24), static_cast<char>(count >> 16),
                     static_cast<char>(count >> 8), static_cast<char>(count)};
}

class HostileClientE2E : public BackendE2E {
 protected:
  // A short pause inside a block of lines counts as a stall.
  std::string ExtraSettings() const override { return "ReadTimeout=1\n"; }

  // Ends, from the killer's session, every other session on the test
  // database, as a server restart would: pg_terminate_backend on
  // PostgreSQL; on MariaDB a KILL of each connection the process list shows.
  void EndOtherSessions(TVelquarnClient& killer) {
    if (IsPostgres()) {
      ASSERT_EQ(killer
                    .Command("execsql2 select pg_terminate_backend(pid) from pg_stat_activity "
                             "where datname = current_database() and pid <> pg_backend_pid() "
                             "and backend_type = 'client backend'")
                    .Code,
                200);
    } else {
      // The list is read, and the kills run, on the killer's query
      // connection, which leaves itself out.
      ASSERT_EQ(killer
                    .Command("sql select id from information_schema.processlist where db = "
                             "database() and id <> connection_id() and "
                             "user = substring_index(current_user(), '@', 1)")
                    .Code,
                200);
      ASSERT_EQ(killer.Command("get 1000").Code, 200);
      const std::string rows = killer.ReadCountedBlock();
      size_t start = 0;
      for (size_t end = rows.find('\0'); end != std::string::npos; end = rows.find('\0', start)) {
        const TClientReply reply = killer.Command("sql kill " + rows.substr(start, end - start));
        if (reply.Code == 201) killer.ReadDataBlock();
        start = end + 1;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
};

TEST_P(HostileClientE2E, ParameterBindingsEndWithTheirStatement) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "tbind");
  Exec(client, "create table " + table + " (id int)");
  ASSERT_EQ(client.Command("prep select * from " + table + " where id = :a").Code, 200);
  ASSERT_EQ(client.Command("exec 1").Code, 200);
  client.ReadDataBlock();  // the parameters' values
  // The binding of exec pointed into memory freed on its return; a later
  // statement with a marker must find no binding, not read that memory.
  // The MariaDB driver sends the statement without the value, and the
  // server answers that the packet is malformed.
  const std::string unbound = IsPostgres()  ? "07002"
                              : IsMariaDb() ? "Malformed communication packet"
                                            : "unbound parameters";
  TClientReply reply = client.Command("sql select ?");
  EXPECT_EQ(reply.Code, 512);
  EXPECT_NE(reply.Text().find(unbound), std::string::npos) << reply.Text();
  client.Command("call nosuch,1");
  reply = client.Command("execsql2 select ?");
  EXPECT_EQ(reply.Code, 512);
  EXPECT_NE(reply.Text().find(unbound), std::string::npos) << reply.Text();
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_P(HostileClientE2E, StalledUploadKeepsTheAcknowledgedRecordsOnly) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "tstall");
  client.SendLine("crtf " + table + " 20");
  for (const char* record : {"r1", "r2"}) {
    client.SendLine(record);
    ASSERT_EQ(client.ReadLine(), "") << record;
  }
  client.SendRaw("partial");
  EXPECT_TRUE(client.WaitForClose(5000));
  // The half-sent record is neither inserted nor joined to a later line.
  TVelquarnClient reader = Open();
  EXPECT_EQ(Rows(reader, "select count(*) from " + table), RowsOf({"2"}));
  EXPECT_TRUE(server_->WaitForEventLog("Read timeout", 5000)) << server_->EventLogText();
  EXPECT_NE(server_->EventLogText().find("127.0.0.1:"), std::string::npos);
}

TEST_P(HostileClientE2E, TableNamesWithoutSchemaListEveryTable) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "tlisted");
  Exec(client, "create table " + table + " (id int)");
  client.SendLine("sys tablenames");
  ASSERT_EQ(client.ReadLine(), "200 Ok");
  const std::vector<std::string> names = client.ReadDataBlock();
  const std::string expected = IsPostgres() ? "public." + table : table;
  EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end());
}

TEST_P(HostileClientE2E, SqlRetriesOnceWhenTheServerEndedTheSession) {
  if (!IsServer()) GTEST_SKIP() << "needs a server that can end sessions";
  TVelquarnClient client = Open();
  ASSERT_EQ(client.Command("sql select 1").Code, 200);
  ASSERT_EQ(client.Command("execsql2 select 1").Code, 200);
  // Another session ends every session of this database but its own, as a
  // database restart would.
  TVelquarnClient killer = Open();
  EndOtherSessions(killer);
  TClientReply reply = client.Command("sql select 1");
  EXPECT_EQ(reply.Code, 200) << reply.Text();
  reply = client.Command("execsql2 select 1");
  EXPECT_EQ(reply.Code, 200) << reply.Text();
}

TEST_P(HostileClientE2E, LostMainConnectionInsideATransactionIsReported) {
  if (!IsServer()) GTEST_SKIP() << "needs a server that can end sessions";
  TVelquarnClient client = Open();
  ASSERT_EQ(client.Command("tran start").Code, 200);
  ASSERT_EQ(client.Command("execsql2 select 1").Code, 200);
  TVelquarnClient killer = Open();
  EndOtherSessions(killer);
  // A retry on a fresh connection would run outside the transaction.
  EXPECT_EQ(client.Command("execsql2 select 1").Code, 512);
}

INSTANTIATE_TEST_SUITE_P(Backends, HostileClientE2E, AllBackends(), BackendName);

TVelquarnProcessOptions SqliteOptions(const std::string& settings, const std::string& file) {
  TVelquarnProcessOptions options = VelquarnOptions();
  options.settings = settings;
  options.sections = "[lite]\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                     "\nDriverParams=Database=" + file + "\n";
  return options;
}

std::string SqliteFile(const std::string& name) {
  return OdbcTestEnv::Get().NewSqliteFile(name + std::to_string(::getpid()) + ".db");
}

TEST(HostileClientProcessE2E, StalledSetconfigWritesNothing) {
  TVelquarnProcess server(SqliteOptions("ReadTimeout=1\n", SqliteFile("setconfig")));
  const std::string before = ReadFileText(server.ConfigPath());
  TVelquarnClient client = ConnectGreeted(server, 5000);
  client.SendLine("sys setconfig");
  client.SendRaw(CountPrefix(2) + "[Settings]\r\nPort=");
  EXPECT_TRUE(client.WaitForClose(5000));
  EXPECT_EQ(ReadFileText(server.ConfigPath()), before);
  EXPECT_TRUE(server.WaitForEventLog("Read timeout", 5000));
  EXPECT_EQ(ConnectGreeted(server, 5000).Command("test").Code, 200);
}

TEST(HostileClientProcessE2E, DeeplyNestedEscapesDoNotOverflowTheDriversStack) {
  TVelquarnProcess server(SqliteOptions("", SqliteFile("nesting")));
  TVelquarnClient client = ConnectGreeted(server, 60000);
  ASSERT_EQ(client.Command("open lite").Code, 200);
  // The SQLite driver parses each {fn escape recursively: 6000 levels took
  // more than a 1 MiB thread stack.
  std::string sql = "sql select ";
  for (int i = 0; i < 6000; ++i) sql += "{fn ";
  sql += "1";
  sql += std::string(6000, '}');
  client.SendLine(sql);
  const TClientReply reply = client.ReadReply();
  EXPECT_TRUE(reply.Code == 200 || reply.Code == 512) << reply.Text();
  EXPECT_TRUE(server.Running());
  EXPECT_EQ(ConnectGreeted(server, 5000).Command("test").Code, 200);
}

TEST(HostileClientProcessE2E, StopEndsWhileAStatementSpinsInsideTheDriver) {
  TVelquarnProcess server(SqliteOptions("StopTimeout=1\n", SqliteFile("spin")));
  TVelquarnClient client = ConnectGreeted(server, 5000);
  ASSERT_EQ(client.Command("open lite").Code, 200);
  // The SQLite driver's escape parsing never returns on this text.
  client.SendLine("sql select 1 " + std::string(40, '{'));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto start = Clock::now();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(15000), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
  const std::string log = server.EventLogText();
  // In a worker process the session is not waited for: its worker is
  // killed when the grace period (none here) is over.
  EXPECT_NE(log.find(IsolationUnderTest() == "process" ? "still running after the grace period"
                                                       : "still running after StopTimeout"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("in: sql select 1 {{{{"), std::string::npos) << log;
}

TEST(HostileClientProcessE2E, ConnectionLimitsAnswerWithNumberedRefusals) {
  TVelquarnProcess server(
      SqliteOptions("MaxConnections=4\nMaxConnectionsPerAddress=3\n", SqliteFile("limits")));
  // The start-up probe of the fixture may still hold a place for a moment.
  auto admitted = [&server](const std::string& source) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
      TVelquarnClient client;
      if (!source.empty()) client.SetSourceAddress(source);
      client.Connect("127.0.0.1", server.Port());
      if (client.ReadLine() == "200 Velquarn 2.1" || Clock::now() > deadline) return client;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  };
  std::vector<TVelquarnClient> local;
  for (int i = 0; i < 3; ++i) local.push_back(admitted(""));
  TVelquarnClient fourth;
  fourth.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(fourth.ReadLine(), "300 Max connections per address reached");
  EXPECT_TRUE(fourth.WaitForClose(5000));
  // Another address still gets in, up to the limit of the whole server.
  TVelquarnClient other = admitted("127.0.0.2");
  EXPECT_EQ(other.Command("test").Code, 200);
  TVelquarnClient beyond;
  beyond.SetSourceAddress("127.0.0.2");
  beyond.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(beyond.ReadLine(), "300 Max connections reached");
  // A place that frees up is counted again.
  local.front().Close();
  local.erase(local.begin());
  EXPECT_EQ(admitted("").Command("test").Code, 200);
}

TEST(HostileClientProcessE2E, IdleConnectionsAreClosedAndBusyOnesKept) {
  TVelquarnProcess server(SqliteOptions("IdleTimeout=1\n", SqliteFile("idle")));
  TVelquarnClient idle = ConnectGreeted(server, 5000);
  TVelquarnClient busy = ConnectGreeted(server, 5000);
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(busy.Command("test").Code, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_TRUE(idle.WaitForClose(3000));
  EXPECT_TRUE(server.WaitForEventLog("closed after IdleTimeout (1 s)", 3000));
}

TEST(HostileClientProcessE2E, UnreadableLimitsRefuseTheStart) {
  for (const char* setting :
       {"MaxConnectionsPerAddress=some", "IdleTimeout=-5", "MaxConnections=0", "StopTimeout=1x"}) {
    TVelquarnProcessOptions options =
        SqliteOptions(std::string(setting) + "\n", SqliteFile("badlimit"));
    options.wait_until_listening = false;
    TVelquarnProcess server(options);
    EXPECT_EQ(server.WaitForExit(10000), 1) << setting;
    const std::string key = std::string(setting).substr(0, std::string(setting).find('='));
    EXPECT_NE(server.EventLogText().find("Settings/" + key), std::string::npos)
        << server.EventLogText();
  }
}

TEST(HostileClientProcessE2E, TranStartAfterAFailedConnectReportsTheConnectError) {
  OdbcTestEnv::Get();
  TVelquarnProcessOptions options = VelquarnOptions();
  // A PostgreSQL data source on a port where nothing listens.
  options.sections = "[down]\nDriverName=" + std::string(OdbcTestEnv::kPostgresDriver) +
                     "\nDriverParams=Server=127.0.0.1,Port=" + std::to_string(FreeTcpPort()) +
                     ",Database=none\nLoginTimeout=5\n";
  TVelquarnProcess server(options);
  TVelquarnClient client = ConnectGreeted(server, 15000);
  ASSERT_EQ(client.Command("open down").Code, 200);
  EXPECT_EQ(client.Command("sql select 1").Code, 512);
  const TClientReply reply = client.Command("tran start");
  EXPECT_EQ(reply.Code, 500);
  std::string text;
  for (const std::string& line : reply.Lines) text += line + "\n";
  EXPECT_EQ(text.find("not supported"), std::string::npos) << text;
  EXPECT_NE(text.find("08001"), std::string::npos) << text;
}

}  // namespace
}  // namespace velquarn::testing
