// Memory of the gateway per idle connection.
//
// Starts the velquarn binary on a free loopback port, lets it settle, and
// reads its memory; then opens the given number of connections (each
// connected and greeted, nothing opened), waits a moment and reads it again.
// It prints
//   mode M connections N before B after A per-connection P
// in KiB, where P = (A - B) / N. In thread mode the figure is the resident
// memory (VmRSS) of the gateway's process. In process mode (with
// --process N: Settings/Isolation=process, each session in a worker
// process) it is the gateway's resident memory plus the private memory
// (Private_Clean + Private_Dirty of /proc/PID/smaps_rollup) of its worker
// processes: the binary and its libraries are shared between the workers
// and counted once, in the gateway. Process mode connects one client at a
// time, each waiting for its greeting (a worker takes tens of milliseconds
// to start), so its count is kept smaller by default.
//
// With --holding-result, every connection also opens an SQLite section and
// runs a one-row query whose result it keeps open, as a pooled client does
// between its statements: the figure then includes what a session holds for
// a small open result.
//
// Usage: idle_memory [--holding-result] [--connections 2000] [--process 200]
// (--process 0 skips process mode).
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "client/velquarn_client.h"
#include "support/process_usage.h"
#include "support/velquarn_process.h"

namespace velquarn {
namespace {

// The gateway's memory as this benchmark counts it, in KiB.
long GatewayKiB(pid_t gateway, bool process_mode) {
  long total = testing::ProcessUsageOf(gateway).resident_kib;
  if (process_mode) {
    for (pid_t worker : testing::ChildrenOf(gateway)) total += testing::PrivateKiB(worker);
  }
  return total;
}

void Settle() { std::this_thread::sleep_for(std::chrono::seconds(2)); }

// Opens the section and leaves a one-row result open on the session.
void HoldAResult(TVelquarnClient& client) {
  for (const char* line : {"open mem", "sql select 1, 'one row'", "get 1"}) {
    const TClientReply reply = client.Command(line);
    if (reply.Code != 200) throw std::runtime_error(std::string(line) + ": " + reply.Text());
  }
}

void Measure(int connections, bool process_mode, bool holding_result) {
  testing::TVelquarnProcessOptions options;
  options.binary = VELQUARN_BINARY;
  options.settings = "MaxConnections=" + std::to_string(connections + 100) + "\n";
  if (process_mode) options.settings += "Isolation=process\n";
  const std::filesystem::path database = std::filesystem::temp_directory_path() /
                                         ("velquarn-idle-" + std::to_string(::getpid()) + ".db");
  options.sections = "[mem]\nDSN=\nDriverName=SQLite3\nDriverParams=Database=" +
                     database.string() + "\n";
  testing::TVelquarnProcess gateway(options);
  {
    // One session first, so that what every gateway holds once it has served
    // anybody (a thread's first stack, the allocator's first arena) is in
    // the figure before.
    TVelquarnClient first;
    first.Open("127.0.0.1", gateway.Port());
    if (holding_result) HoldAResult(first);
    first.SendLine("quit");
    first.WaitForClose(5000);
  }
  Settle();
  const long before = GatewayKiB(gateway.Pid(), process_mode);
  std::vector<TVelquarnClient> clients(static_cast<size_t>(connections));
  for (TVelquarnClient& client : clients) {
    client.SetReadTimeoutMs(120000);
    const TClientReply greeting = client.Open("127.0.0.1", gateway.Port(), 120000);
    if (greeting.Code != 200) {
      throw std::runtime_error("no greeting: " + std::to_string(greeting.Code) + " " +
                               greeting.Text());
    }
    if (holding_result) HoldAResult(client);
  }
  Settle();
  const long after = GatewayKiB(gateway.Pid(), process_mode);
  std::printf("mode %s%s connections %d before %ld after %ld per-connection %.1f\n",
              process_mode ? "process" : "thread", holding_result ? " holding-result" : "",
              connections, before, after,
              static_cast<double>(after - before) / connections);
  std::fflush(stdout);
  for (TVelquarnClient& client : clients) client.Close();
  std::filesystem::remove(database);
}

}  // namespace
}  // namespace velquarn

constexpr const char* kUsage =
    "usage: idle_memory [--holding-result] [--connections 2000] [--process 200]\n";

int main(int argc, char** argv) {
  int connections = 2000;
  int process_connections = 200;
  bool holding_result = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--holding-result") {
      holding_result = true;
    } else if (option == "--connections" && i + 1 < argc) {
      connections = std::atoi(argv[++i]);
    } else if (option == "--process" && i + 1 < argc) {
      process_connections = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "%s", kUsage);
      return 2;
    }
  }
  if (connections <= 0) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  // Every client holds one descriptor here; the gateway raises its own limit.
  const int most = connections > process_connections ? connections : process_connections;
  if (velquarn::testing::RaiseOpenFileLimit(static_cast<uint64_t>(most) + 256) <
      static_cast<uint64_t>(most) + 64) {
    std::fprintf(stderr, "idle_memory: the open-file limit is below %d\n", most + 64);
    return 1;
  }
  try {
    velquarn::Measure(connections, false, holding_result);
    if (process_connections > 0) velquarn::Measure(process_connections, true, holding_result);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "idle_memory: %s\n", error.what());
    return 1;
  }
}
