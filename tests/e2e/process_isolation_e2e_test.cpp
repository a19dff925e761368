// Sessions in worker processes: a driver that crashes or spins costs its
// own client only, a spinning statement is ended by the hard timeout, the
// stop always finishes, and the shared counters still add up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/velquarn_client.h"
#include "e2e/e2e_options.h"
#include "support/odbc_test_env.h"
#include "support/velquarn_process.h"

namespace velquarn::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQueryTimeoutSec = 1;
constexpr int kHardTimeoutSec = 2;

TVelquarnProcessOptions IsolatedSqlite(const std::string& extra_settings) {
  TVelquarnProcessOptions options = VelquarnOptions();
  options.settings = "Isolation=process\nHardTimeoutSec=" + std::to_string(kHardTimeoutSec) +
                     "\nStopTimeout=5\n" + extra_settings;
  options.sections =
      "[lite]\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) + "\nDriverParams=Database=" +
      OdbcTestEnv::Get().NewSqliteFile("isolation" + std::to_string(::getpid()) + ".db") +
      "\nQueryTimeout=" + std::to_string(kQueryTimeoutSec) + "\n";
  // The same database without a short statement limit, for a statement
  // that must run to its end however loaded the machine is.
  options.sections +=
      "[patient]\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
      "\nDriverParams=Database=" +
      OdbcTestEnv::Get().NewSqliteFile("patient" + std::to_string(::getpid()) + ".db") +
      "\nQueryTimeout=600\n";
  return options;
}

// The one row of a single-value query, as 'get' sends it.
std::string Value(TVelquarnClient& client, const std::string& select) {
  if (client.Command("sql " + select).Code != 200) return "(sql failed)";
  if (client.Command("get 10").Code != 200) return "(get failed)";
  return client.ReadCountedBlock();
}

// A client that keeps running verified queries until told to stop, and
// counts what went right and wrong.
struct TBusySession {
  std::atomic<int> answered = 0;
  std::atomic<int> wrong = 0;
  std::thread thread;
};

void RunBusySession(uint16_t port, int number, const std::atomic<bool>& stop,
                    TBusySession& session) {
  try {
    TVelquarnClient client;
    client.SetReadTimeoutMs(20000);
    client.Connect("127.0.0.1", port);
    if (client.ReadLine() != "200 Velquarn 2.1" || client.Command("open lite").Code != 200) {
      ++session.wrong;
      return;
    }
    for (int i = 0; !stop; ++i) {
      const int value = number * 1000 + i;
      const std::string expected = std::to_string(value) + std::string(1, '\0');
      if (Value(client, "select " + std::to_string(value)) == expected) {
        ++session.answered;
      } else {
        ++session.wrong;
      }
    }
  } catch (const std::exception&) {
    ++session.wrong;
  }
}

// Starts the server with a 512 KiB stack limit, which its workers inherit: a
// worker runs its driver on its main thread, whose stack is that limit, so
// the SQLite driver's recursive escape parser overflows it within seconds
// (with the usual 8 MiB the same overflow takes minutes of parsing).
std::unique_ptr<TVelquarnProcess> StartWithSmallStack(const TVelquarnProcessOptions& options) {
  rlimit saved{};
  ::getrlimit(RLIMIT_STACK, &saved);
  rlimit small = saved;
  small.rlim_cur = 512 * 1024;
  ::setrlimit(RLIMIT_STACK, &small);
  std::unique_ptr<TVelquarnProcess> server;
  try {
    server = std::make_unique<TVelquarnProcess>(options);
  } catch (...) {
    ::setrlimit(RLIMIT_STACK, &saved);
    throw;
  }
  ::setrlimit(RLIMIT_STACK, &saved);
  return server;
}

TEST(ProcessIsolationE2E, CrashAndSpinCostOnlyTheirOwnSessions) {
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer catches the worker's stack overflow itself and ends it
  // with its own report and exit status 1, not the signal this test reads.
  GTEST_SKIP() << "the crash is AddressSanitizer's to report under it";
#endif
  std::unique_ptr<TVelquarnProcess> started = StartWithSmallStack(IsolatedSqlite(""));
  TVelquarnProcess& server = *started;
  std::atomic<bool> stop = false;
  std::vector<TBusySession> busy(50);
  for (size_t i = 0; i < busy.size(); ++i) {
    busy[i].thread = std::thread(RunBusySession, server.Port(), static_cast<int>(i),
                                 std::cref(stop), std::ref(busy[i]));
  }
  const auto all_busy = [&busy] {
    for (const TBusySession& session : busy) {
      if (session.answered == 0 && session.wrong == 0) return false;
    }
    return true;
  };
  for (auto give_up = Clock::now() + std::chrono::seconds(60); !all_busy();) {
    ASSERT_LT(Clock::now(), give_up) << "the busy sessions did not get going";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  // Nested escapes deep enough to overflow the worker's stack.
  TVelquarnClient crasher = ConnectGreeted(server, 60000);
  ASSERT_EQ(crasher.Command("open patient").Code, 200);
  std::string nested = "sql select ";
  for (int i = 0; i < 6000; ++i) nested += "{fn ";
  crasher.SendLine(nested + "1" + std::string(6000, '}'));

  // The SQLite driver's escape parsing never returns on this text.
  TVelquarnClient spinner = ConnectGreeted(server, 60000);
  ASSERT_EQ(spinner.Command("open lite").Code, 200);
  const auto spin_start = Clock::now();
  spinner.SendLine("sql select 1 " + std::string(40, '{'));

  EXPECT_TRUE(spinner.WaitForClose(30000));
  const double spun = std::chrono::duration<double>(Clock::now() - spin_start).count();
  EXPECT_GE(spun, kQueryTimeoutSec + kHardTimeoutSec - 0.2);
  EXPECT_LT(spun, kQueryTimeoutSec + kHardTimeoutSec + 5);
  // Under the load of the others, the parser takes a while to get deep.
  EXPECT_TRUE(crasher.WaitForClose(120000));

  // The others kept going meanwhile and saw nothing of it.
  std::vector<int> before;
  for (const TBusySession& session : busy) before.push_back(session.answered);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  stop = true;
  for (TBusySession& session : busy) session.thread.join();
  for (size_t i = 0; i < busy.size(); ++i) {
    EXPECT_EQ(busy[i].wrong, 0) << "session " << i;
    EXPECT_GT(busy[i].answered, before[i]) << "session " << i << " stalled";
  }

  ASSERT_TRUE(server.WaitForEventLog("SIGSEGV", 5000)) << server.EventLogText();
  const std::string log = server.EventLogText();
  EXPECT_NE(log.find("in section [patient], running: sql select {fn {fn"), std::string::npos)
      << log;
  EXPECT_NE(log.find("past QueryTimeout + HardTimeoutSec (2 s), in section [lite]: sql select 1 "
                     "{{{{"),
            std::string::npos)
      << log;
  EXPECT_TRUE(server.Running());
  EXPECT_EQ(ConnectGreeted(server, 5000).Command("test").Code, 200);

  // A stop with a statement spinning again finishes, killing its worker.
  TVelquarnClient stuck = ConnectGreeted(server, 5000);
  ASSERT_EQ(stuck.Command("open lite").Code, 200);
  stuck.SendLine("sql select 2 " + std::string(40, '{'));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto stop_start = Clock::now();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(15000), 0);
  EXPECT_LT(Clock::now() - stop_start, std::chrono::seconds(5));
  EXPECT_TRUE(stuck.WaitForClose(1000));
}

TEST(ProcessIsolationE2E, GracefulStopLetsRunningCommandsFinishInTheirWorkers) {
  TVelquarnProcess server(IsolatedSqlite("ShutdownGraceSec=5\n"));
  TVelquarnClient idle = ConnectGreeted(server, 10000);
  TVelquarnClient busy = ConnectGreeted(server, 10000);
  ASSERT_EQ(busy.Command("open lite").Code, 200);
  // A recursive count that takes the driver a noticeable while.
  busy.SendLine(
      "sql with recursive n(i) as (select 1 union all select i + 1 from n where i < 3000000) "
      "select count(*) from n");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  server.Signal(SIGTERM);
  EXPECT_TRUE(idle.WaitForClose(3000));
  EXPECT_EQ(busy.ReadReply().Code, 200);
  EXPECT_EQ(server.WaitForExit(10000), 0);
}

TEST(ProcessIsolationE2E, MetricsAddUpAcrossWorkers) {
  const uint16_t metrics_port = FreeTcpPort();
  TVelquarnProcess server(
      IsolatedSqlite("MetricsAddress=127.0.0.1:" + std::to_string(metrics_port) + "\n"));
  for (int i = 0; i < 3; ++i) {
    TVelquarnClient client = ConnectGreeted(server, 10000);
    ASSERT_EQ(client.Command("open lite").Code, 200);
    ASSERT_EQ(Value(client, "select 7"), std::string("7") + '\0');
    client.SendLine("quit");
    EXPECT_TRUE(client.WaitForClose(5000));
  }
  // The readiness probe of the start was the first connection; the last
  // session's report may arrive a moment after its client saw the close.
  const std::vector<std::string> expected = {"velquarn_connections_total 4",
                                             "velquarn_connections 0",
                                             "velquarn_rows_sent_total 3",
                                             "velquarn_commands_total{command=\"open\"} 3",
                                             "velquarn_databases_open{section=\"lite\"} 0",
                                             "velquarn_odbc_connects_total{section=\"lite\"} 3"};
  const auto complete = [&expected](const std::string& text) {
    for (const std::string& sample : expected) {
      if (text.find(sample) == std::string::npos) return false;
    }
    return true;
  };
  std::string text;
  for (auto give_up = Clock::now() + std::chrono::seconds(5); Clock::now() < give_up;) {
    TVelquarnClient scrape;
    scrape.SetReadTimeoutMs(5000);
    scrape.Connect("127.0.0.1", metrics_port);
    scrape.SendRaw("GET /metrics HTTP/1.0\r\n\r\n");
    text.clear();
    try {
      for (;;) text += scrape.ReadLine() + "\n";
    } catch (const std::exception&) {
    }
    if (complete(text)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (const std::string& sample : expected) {
    EXPECT_NE(text.find(sample), std::string::npos) << sample << "\n" << text;
  }
}

TEST(ProcessIsolationE2E, UnknownIsolationOrHardTimeoutRefusesTheStart) {
  for (const char* setting : {"Isolation=processes", "HardTimeoutSec=-1"}) {
    TVelquarnProcessOptions options = VelquarnOptions();
    options.settings = std::string(setting) + "\n";
    options.wait_until_listening = false;
    TVelquarnProcess server(options);
    EXPECT_EQ(server.WaitForExit(10000), 1) << setting;
    const std::string text(setting);
    const std::string key = text.substr(0, text.find('='));
    const std::string value = text.substr(text.find('=') + 1);
    EXPECT_NE(server.EventLogText().find("Settings/" + key + ": '" + value + "'"),
              std::string::npos)
        << server.EventLogText();
  }
}

}  // namespace
}  // namespace velquarn::testing
