// The soak and outage run: many clients for a given time mixing sql, get,
// getJSON, prep/exec, tran and sndf against SQLite (WAL) and, when the
// private PostgreSQL cluster runs, PostgreSQL; every reply is checked
// against what the client knows it stored (committed rows present, rolled
// back rows absent). The server's resident memory, descriptors and threads
// are sampled every second. Optionally the PostgreSQL cluster is stopped
// for a while in the middle: PostgreSQL sessions must then get error
// replies (never a hang, a crash or wrong data) and succeed again after it,
// with the same gateway process.
//
//   soak [--seconds N] [--clients N] [--outage-after S --outage-seconds D]
//
// Exits 0 when every check held, 3 when only timing checks failed (a reply
// slower than 30 s, resident memory grown under load: a loaded machine can
// cause them), 1 otherwise; prints the figures either way.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "client/velquarn_client.h"
#include "support/http_peer.h"
#include "support/odbc_test_env.h"
#include "support/process_usage.h"
#include "support/velquarn_process.h"

namespace velquarn::testing {
namespace {

using Clock = std::chrono::steady_clock;

struct TOptions {
  int seconds = 120;
  int clients = 200;
  int outage_after = 0;  // 0: no outage
  int outage_seconds = 20;
};

// A failed check: the data or the protocol was wrong, not merely refused.
struct EWrongData : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TSoak {
 public:
  TSoak(const TOptions& options, TVelquarnProcess& server, uint16_t metrics_port, bool postgres)
      : options_(options), server_(server), metrics_port_(metrics_port), postgres_(postgres) {}

  std::string OpenLine(bool pg) const {
    if (!pg) return "open lite";
    return std::string("open ") + OdbcTestEnv::kPostgresDsn + " " + PostgresSetting("USER") + " " +
           PostgresSetting("PASSWORD");
  }

  TVelquarnClient Connect() {
    TVelquarnClient client;
    client.SetReadTimeoutMs(30000);  // a hang shows as a timeout
    client.Connect("127.0.0.1", server_.Port());
    if (client.ReadLine() != "200 Velquarn 2.1") throw EWrongData("bad greeting");
    return client;
  }

  void Expect(TVelquarnClient& client, const std::string& line, int code) {
    TClientReply reply;
    try {
      reply = client.Command(line);
    } catch (const std::exception& error) {
      throw std::runtime_error(std::string(error.what()) + " after " +
                               line.substr(0, line.find(' ')));
    }
    if (reply.Code != code) {
      throw std::runtime_error("reply " + std::to_string(reply.Code) + " to " +
                               line.substr(0, line.find(' ')));
    }
  }

  void Prepare() {
    for (bool pg : {false, true}) {
      if (pg && !postgres_) continue;
      TVelquarnClient client = Connect();
      Expect(client, OpenLine(pg), 200);
      if (!pg) client.Command("sql pragma journal_mode=wal");
      client.Command("execsql2 drop table soak_rows");
      Expect(client, "execsql2 create table soak_rows (id bigint primary key, name varchar(40))",
             200);
    }
  }

  // One session of a client: open, a few operations, quit.
  void Session(int client_no, std::mt19937& random, bool pg) {
    TVelquarnClient client = Connect();
    Expect(client, OpenLine(pg), 200);
    std::vector<long long>& committed = committed_[client_no][pg];
    std::vector<long long>& rolled_back = rolled_back_[client_no][pg];
    for (int op = 0; op < 4; ++op) {
      const long long id = static_cast<long long>(client_no) * 100000000 + next_id_[client_no]++;
      const std::string values = std::to_string(id) + ", 'n" + std::to_string(id) + "'";
      switch (random() % 6) {
        case 0: {  // a transaction, committed or rolled back
          const bool commit = random() % 2 == 0;
          Expect(client, "tran start", 200);
          Expect(client, "execsql2 insert into soak_rows values (" + values + ")", 200);
          Expect(client, commit ? "tran commit" : "tran rollback", 200);
          (commit ? committed : rolled_back).push_back(id);
          Count("tran");
          break;
        }
        case 1:  // prep / exec
          Expect(client, "prep insert into soak_rows values (:id, :name)", 200);
          Expect(client, "exec " + std::to_string(id) + ", n" + std::to_string(id), 201);
          // 201 is followed by a data block: the rows affected, then the
          // parameters' values.
          if (const auto block = client.ReadDataBlock(); block.empty() || block[0] != "1") {
            throw EWrongData("exec did not insert one row");
          }
          committed.push_back(id);
          Count("prep/exec");
          break;
        case 2:  // get: a committed row is there, a rolled back one is not
        case 3: {
          const bool check_committed = rolled_back.empty() || random() % 2 == 0;
          const std::vector<long long>& ids = check_committed ? committed : rolled_back;
          if (ids.empty()) break;
          const long long known = ids[random() % ids.size()];
          Expect(client, "sql select id from soak_rows where id = " + std::to_string(known), 200);
          const TClientReply got = client.Command("get 10");
          std::string rows;
          if (got.Code == 200) rows = client.ReadCountedBlock();
          const std::string expected =
              check_committed ? std::to_string(known) + std::string(1, '\0') : "";
          if (rows != expected) {
            throw EWrongData(
                std::string(check_committed ? "committed row missing" : "rolled back row present") +
                " (" + std::to_string(known) + ")");
          }
          Count("sql/get");
          break;
        }
        case 4: {  // getJSON of a committed row
          if (committed.empty()) break;
          const long long known = committed[random() % committed.size()];
          Expect(client, "sql select id, name from soak_rows where id = " + std::to_string(known),
                 200);
          Expect(client, "getJSON", 200);
          const auto document = nlohmann::json::parse(client.ReadCountedBlock(), nullptr, false);
          if (document.is_discarded() || document["rows"].size() != 1) {
            throw EWrongData("getJSON document wrong");
          }
          const auto& row = document["rows"][0];
          const auto id_value = row.contains("id") ? row["id"] : row["ID"];
          if (!id_value.is_number() || id_value.get<long long>() != known) {
            throw EWrongData("getJSON value wrong");
          }
          Count("getJSON");
          break;
        }
        case 5: {  // sndf into the client's own table, counted back
          const std::string table = "soak_u" + std::to_string(client_no);
          const int records = 1 + static_cast<int>(random() % 5);
          client.SendLine("sndf " + table + " 20");
          for (int r = 0; r < records; ++r) {
            client.SendLine("rec " + std::to_string(r));
            const std::string ack = client.ReadLine();
            if (!ack.empty()) throw std::runtime_error("reply " + ack.substr(0, 3) + " to sndf");
          }
          client.SendLine(".");
          if (client.ReadReply().Code != 200) throw std::runtime_error("reply to sndf end");
          Expect(client, "sql select count(*) from " + table, 200);
          Expect(client, "get 1", 200);
          if (client.ReadCountedBlock() != std::to_string(records) + std::string(1, '\0')) {
            throw EWrongData("sndf count wrong");
          }
          Count("sndf");
          break;
        }
      }
    }
    client.SendLine("quit");
    client.WaitForClose(5000);
  }

  void Client(int client_no) {
    std::mt19937 random(static_cast<unsigned>(client_no));
    while (Clock::now() < deadline_) {
      const bool pg = postgres_ && client_no % 2 == 1;
      try {
        Session(client_no, random, pg);
        Count(pg ? "sessions PostgreSQL" : "sessions SQLite");
      } catch (const EWrongData& error) {
        Failure(std::string("data: ") + error.what());
      } catch (const std::exception& error) {
        const std::string what = error.what();
        if (what.find("timed out") != std::string::npos) {
          Failure("hang: " + what);
        } else if (pg && InOutage()) {
          Count("errors during outage (" + what + ")");
        } else {
          Failure("error: " + what);
        }
      }
    }
  }

  // Stops PostgreSQL at outage_after for outage_seconds.
  void Outage() {
    std::this_thread::sleep_for(std::chrono::seconds(options_.outage_after));
    outage_ = true;
    Report("outage: stopping PostgreSQL");
    Script("halt");
    std::this_thread::sleep_for(std::chrono::seconds(options_.outage_seconds));
    Script("resume");
    Report("outage: PostgreSQL started again");
    // Sessions that met the stopped server may still be ending.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    outage_ = false;
  }

  int Run() {
    Prepare();
    start_ = Clock::now();
    deadline_ = start_ + std::chrono::seconds(options_.seconds);
    const TSample idle = Sample();
    std::vector<std::thread> threads;
    for (int c = 0; c < options_.clients; ++c) threads.emplace_back([this, c] { Client(c); });
    std::thread outage;
    if (postgres_ && options_.outage_after > 0) outage = std::thread([this] { Outage(); });

    TSample early;
    TSample last;
    for (int second = 1; Clock::now() < deadline_; ++second) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      if (!server_.Running()) break;
      last = Sample();
      if (second == std::max(5, options_.seconds / 10)) early = last;
      if (second % 10 == 0) {
        Report("t=" + std::to_string(second) + "s rss=" + std::to_string(last.resident_kib) +
               " KiB heap=" + std::to_string(last.heap_kib) +
               " KiB fds=" + std::to_string(last.descriptors) +
               " threads=" + std::to_string(last.threads) + " ops=" + std::to_string(Operations()));
      }
    }
    for (auto& thread : threads) thread.join();
    if (outage.joinable()) outage.join();
    if (!server_.Running()) {
      Failure("the server is gone");
      return Summary(idle, early, last, idle);
    }
    // The server ends a session a moment after its client.
    TSample after;
    for (int i = 0; i < 50; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      after = Sample();
      if (after.descriptors <= idle.descriptors && after.threads <= idle.threads) break;
    }
    return Summary(idle, early, last, after);
  }

 private:
  // The server's usage and the bytes its allocator has in use (-1: the
  // metrics endpoint did not answer).
  struct TSample : TProcessUsage {
    long heap_kib = -1;
  };
  TSample Sample() const {
    TSample sample;
    static_cast<TProcessUsage&>(sample) = ProcessUsageOf(server_.Pid());
    const double heap = SampleOf(BodyOf(HttpGet(metrics_port_, "/metrics")),
                                 "velquarn_heap_bytes{state=\"in_use\"}");
    if (heap >= 0) sample.heap_kib = static_cast<long>(heap / 1024);
    return sample;
  }

  bool InOutage() const { return outage_; }

  void Script(const char* command) {
    const std::string line = std::string(VELQUARN_SOURCE_DIR) + "/scripts/postgres.sh " + command;
    if (std::system(line.c_str()) != 0) Failure(std::string("postgres.sh ") + command + " failed");
  }

  void Count(const std::string& kind) {
    std::scoped_lock lock(mutex_);
    ++counts_[kind];
  }
  void Failure(const std::string& kind) {
    std::scoped_lock lock(mutex_);
    ++failures_[kind];
  }
  long long Operations() {
    std::scoped_lock lock(mutex_);
    long long total = 0;
    for (const auto& [kind, count] : counts_) {
      if (kind.rfind("sessions", 0) != 0 && kind.rfind("errors", 0) != 0) total += count;
    }
    return total;
  }
  void Report(const std::string& line) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_).count();
    std::printf("soak [%3llds] %s\n", static_cast<long long>(seconds), line.c_str());
    std::fflush(stdout);
  }

  int Summary(const TSample& idle, const TSample& early, const TSample& last,
              const TSample& after) {
    std::scoped_lock lock(mutex_);
    std::printf("soak: %d clients, %d s, %s\n", options_.clients, options_.seconds,
                postgres_ ? "SQLite and PostgreSQL" : "SQLite only");
    for (const auto& [kind, count] : counts_) std::printf("  %-40s %lld\n", kind.c_str(), count);
    for (const auto& [kind, count] : failures_) {
      std::printf("  FAILED %-33s %lld\n", kind.c_str(), count);
    }
    std::printf(
        "  resident KiB: idle %ld, under load at %d s %ld, at the end of load %ld, after %ld\n",
        idle.resident_kib, std::max(5, options_.seconds / 10), early.resident_kib,
        last.resident_kib, after.resident_kib);
    std::printf("  heap in use KiB: idle %ld, under load %ld, at the end of load %ld, after %ld\n",
                idle.heap_kib, early.heap_kib, last.heap_kib, after.heap_kib);
    std::printf("  descriptors: idle %zu, after %zu; threads: idle %zu, after %zu\n",
                idle.descriptors, after.descriptors, idle.threads, after.threads);
    // A fault: wrong data, an error outside the outage, the server gone,
    // resources left behind. Slowness alone (a reply later than 30 s,
    // resident memory grown under load) may be the machine's load.
    bool fault = false;
    bool slow = false;
    for (const auto& [kind, count] : failures_) {
      (kind.rfind("hang: ", 0) == 0 ? slow : fault) = true;
    }
    if (after.descriptors > idle.descriptors || after.threads > idle.threads) {
      std::printf("  FAILED descriptors or threads left behind\n");
      fault = true;
    }
    // What the sessions allocated is freed when they end: the heap in use
    // comes back to its idle figure, give or take the driver's caches.
    if (idle.heap_kib >= 0 && after.heap_kib > idle.heap_kib + idle.heap_kib / 10 + 4096) {
      std::printf("  FAILED the heap in use stayed above its idle figure after the load\n");
      fault = true;
    }
    if (early.resident_kib > 0 && last.resident_kib > early.resident_kib * 11 / 10) {
      std::printf("  FAILED resident memory grew by more than 10 %% under load\n");
      slow = true;
    }
    std::printf("soak: %s\n", fault ? "FAILED" : slow ? "FAILED (timing only)" : "passed");
    return fault ? 1 : slow ? 3 : 0;
  }

  const TOptions options_;
  TVelquarnProcess& server_;
  const uint16_t metrics_port_;
  const bool postgres_;
  Clock::time_point start_;
  Clock::time_point deadline_;
  std::atomic<bool> outage_{false};
  std::mutex mutex_;
  std::map<std::string, long long> counts_;
  std::map<std::string, long long> failures_;
  // Per client and back end (false SQLite, true PostgreSQL); each client's
  // own thread only.
  std::map<int, std::map<bool, std::vector<long long>>> committed_;
  std::map<int, std::map<bool, std::vector<long long>>> rolled_back_;
  std::map<int, long long> next_id_;
};

}  // namespace
}  // namespace velquarn::testing

int main(int argc, char** argv) {
  using namespace velquarn::testing;
  TOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (name == "--seconds") {
      options.seconds = value;
    } else if (name == "--clients") {
      options.clients = value;
    } else if (name == "--outage-after") {
      options.outage_after = value;
    } else if (name == "--outage-seconds") {
      options.outage_seconds = value;
    } else {
      std::fprintf(stderr, "soak: unknown option %s\n", name.c_str());
      return 2;
    }
  }
  OdbcTestEnv& env = OdbcTestEnv::Get();
  const bool postgres = PostgresAvailable();
  RaiseOpenFileLimit(4096);
  TVelquarnProcessOptions process;
  process.binary = VELQUARN_BINARY;
  process.sections = "[lite]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                     "\nDriverParams=Database=" + env.NewSqliteFile("soak.db") + "\n";
  const uint16_t metrics_port = FreeTcpPort();
  process.settings = "MetricsAddress=127.0.0.1:" + std::to_string(metrics_port) + "\n";
  TVelquarnProcess server(process);
  TSoak soak(options, server, metrics_port, postgres);
  return soak.Run();
}
