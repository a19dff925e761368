// 'select 1' cycles per second through the gateway, for the comparison with
// a PostgreSQL client that sends the same statement direct or through a pool.
//
// Starts the velquarn binary on a free loopback port with one section on the
// PostgreSQL cluster named by the VELQUARN_PG_* variables of
// scripts/postgres.sh. For each client count, that many threads each
// connect, read the greeting and open the section once, wait for the others,
// and then loop until the time is up: 'sql select 1' (the field definitions)
// and 'get 1' (the one row). Connections stay open for the whole run, as the
// other clients' do. It prints one line per client count:
//   clients N cycles C seconds S cycles/s R
// where R counts the cycles of all clients together.
//
// Usage: select_cycles [--clients 1,8,32] [--seconds 5]
//                      [--driver-params key=value,...] [--pipeline 1]
// (--driver-params is added to the section's DriverParams, e.g.
// "UseDeclareFetch=1,Fetch=1000"; by default the driver's own defaults.
// --pipeline 1 sends 'sql' and 'get 1' together and then reads both
// replies: one round trip to the gateway per cycle instead of two.)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/velquarn_client.h"
#include "common/exceptions.h"
#include "support/velquarn_process.h"

namespace velquarn {
namespace {

using Clock = std::chrono::steady_clock;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Holds every client at the start line until all have opened the section,
// so that connecting is not timed (the other clients' figures exclude it).
class TStartLine {
 public:
  explicit TStartLine(int clients) : waiting_(clients) {}
  // Counts this client in; returns when all are in.
  void Arrive() {
    std::unique_lock lock(mutex_);
    if (--waiting_ == 0) {
      start_ = Clock::now();
      ready_.notify_all();
    }
    ready_.wait(lock, [this] { return waiting_ <= 0; });
  }
  Clock::time_point Start() {
    std::lock_guard lock(mutex_);
    return start_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  int waiting_;
  Clock::time_point start_;
};

struct TClientRun {
  long cycles = 0;
  std::string error;
};

void RunClient(uint16_t port, double seconds, bool pipeline, TStartLine& start_line,
               TClientRun& result) {
  TVelquarnClient client;
  bool arrived = false;
  try {
    client.SetReadTimeoutMs(60000);
    client.Open("127.0.0.1", port, 30000);
    const TClientReply opened = client.Command("open pg");
    if (opened.Code != 200) throw Exception("open: " + opened.Text());
    arrived = true;
    start_line.Arrive();
    const Clock::time_point end = start_line.Start() + std::chrono::duration_cast<Clock::duration>(
                                                           std::chrono::duration<double>(seconds));
    while (Clock::now() < end) {
      if (pipeline) client.SendRaw("sql select 1\r\nget 1\r\n");
      const TClientReply ran = pipeline ? client.ReadReply() : client.Command("sql select 1");
      if (ran.Code != 200) throw Exception("sql: " + ran.Text());
      const TClientReply got = pipeline ? client.ReadReply() : client.Command("get 1");
      if (got.Code != 200) throw Exception("get: " + got.Text());
      if (client.ReadCountedBlock() != std::string("1\0", 2)) throw Exception("get: not the row");
      ++result.cycles;
    }
    client.SendLine("quit");
  } catch (const std::exception& error) {
    result.error = error.what();
    // The others must not wait for a client that will never arrive.
    if (!arrived) start_line.Arrive();
  }
}

std::vector<int> ParseCounts(const std::string& text) {
  std::vector<int> counts;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const int count = std::atoi(text.substr(at, comma - at).c_str());
    if (count > 0) counts.push_back(count);
    at = comma + 1;
  }
  return counts;
}

int Run(const std::vector<int>& counts, double seconds, const std::string& driver_params,
        bool pipeline) {
  if (Env("VELQUARN_PG_PORT").empty()) {
    std::fprintf(stderr, "select_cycles: no PostgreSQL cluster (VELQUARN_PG_PORT is not set)\n");
    return 2;
  }
  const int most = *std::max_element(counts.begin(), counts.end());
  testing::RaiseOpenFileLimit(static_cast<uint64_t>(most) * 4 + 256);
  testing::TVelquarnProcessOptions options;
  options.binary = VELQUARN_BINARY;
  options.sections = "[pg]\nDSN=\nDriverName=PostgreSQL Unicode\nDriverParams=Servername=" +
                     Env("VELQUARN_PG_HOST") + ",Port=" + Env("VELQUARN_PG_PORT") +
                     ",Database=" + Env("VELQUARN_PG_DATABASE") +
                     ",UID=" + Env("VELQUARN_PG_USER") + ",PWD=" + Env("VELQUARN_PG_PASSWORD") +
                     (driver_params.empty() ? "" : "," + driver_params) + "\n";
  testing::TVelquarnProcess gateway(options);
  for (int clients : counts) {
    TStartLine start_line(clients);
    std::vector<TClientRun> results(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
      threads.emplace_back(RunClient, gateway.Port(), seconds, pipeline, std::ref(start_line),
                           std::ref(results[static_cast<size_t>(i)]));
    }
    for (std::thread& thread : threads) thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_line.Start()).count();
    long cycles = 0;
    for (const TClientRun& result : results) {
      if (!result.error.empty()) {
        std::fprintf(stderr, "select_cycles: a client failed: %s\n", result.error.c_str());
        return 1;
      }
      cycles += result.cycles;
    }
    // The clients stop at the first cycle that ends after the time: the
    // elapsed time is measured, not assumed.
    std::printf("clients %d cycles %ld seconds %.2f cycles/s %.0f\n", clients, cycles, elapsed,
                cycles / elapsed);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace
}  // namespace velquarn

int main(int argc, char** argv) {
  std::string counts = "1,8,32";
  double seconds = 5;
  std::string driver_params;
  bool pipeline = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--clients") {
      counts = argv[i + 1];
    } else if (option == "--seconds") {
      seconds = std::atof(argv[i + 1]);
    } else if (option == "--driver-params") {
      driver_params = argv[i + 1];
    } else if (option == "--pipeline") {
      pipeline = std::string(argv[i + 1]) == "1";
    } else {
      std::fprintf(stderr, "unknown option %s\n", option.c_str());
      return 2;
    }
  }
  const std::vector<int> parsed = velquarn::ParseCounts(counts);
  if (parsed.empty() || seconds <= 0 || argc % 2 == 0) {
    std::fprintf(stderr,
                 "usage: select_cycles [--clients 1,8,32] [--seconds 5] "
                 "[--driver-params key=value,...] [--pipeline 1]\n");
    return 2;
  }
  try {
    return velquarn::Run(parsed, seconds, driver_params, pipeline);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "select_cycles: %s\n", error.what());
    return 1;
  }
}
