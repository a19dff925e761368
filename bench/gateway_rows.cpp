// Rows per second through the gateway against the plain in-process loop.
//
// For each database (SQLite always; PostgreSQL when the VELQUARN_PG_*
// variables of scripts/postgres.sh name a running cluster; MariaDB, with the
// driver's defaults and streaming, when VELQUARN_MY_* of scripts/mariadb.sh
// name a running server) the program fills
// a table "bench" with the given number of rows (default 200 000), then:
//   1. in process: opens "select * from bench" with a TcsQuery and walks every
//      row, touching every value in the record buffer;
//   2. through the gateway: starts the service in this process on a free
//      loopback port, and a client runs 'sql select * from bench' and reads
//      the rows with 'get 1000' until '522 EOF'.
// Each is run three times, alternating, and the best rate of each counts.
// It prints both rates and their ratio, in wall time and per CPU second of
// this process, then the round trips per second of
// 'test' on one connection. Last, the gateway run once more side by side
// with a second service in the same process that has Settings/MetricsAddress
// set (counting on), alternating, best of each: the cost of the counters.
// Then the same rows over the service's TLS port against its plain port
// (a certificate made with the openssl tool), and connections per second
// (connect, handshake, greeting, close) on each.
// Then the same against a third service with Settings/Isolation=process
// (its workers are the velquarn binary): rows per second in thread and in
// process mode, the time from connect to greeting (median and 99th
// percentile of 1000 sequential connects) in both, and the private
// (unshared) memory of the worker processes with one idle session.
//
// Usage: gateway_rows [rows]
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/velquarn_client.h"
#include "common/exceptions.h"
#include "dataset/field.h"
#include "dataset/query.h"
#include "odbc/odbc_database.h"
#include "service/velquarn_service.h"
#include "tls/tls_context.h"

namespace velquarn {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 3;
// The metrics comparison differs by less than the noise of a shared machine:
// more rounds, so that the best of each is a fair pair.
constexpr int kMetricsRuns = 7;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// CPU seconds of the whole process: the client and the server threads
// together, for the gateway. A busy machine stretches the wall time of the
// gateway's request and answer hand-offs; the CPU time shows the work.
double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

struct TRate {
  double wall = 0;  // rows per second
  double cpu = 0;   // rows per CPU second of this process
  void KeepBest(const TRate& other) {
    wall = std::max(wall, other.wall);
    cpu = std::max(cpu, other.cpu);
  }
};

uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct TBackend {
  std::string label;
  std::string section;  // the configuration section's body
  std::string driver;
  std::string driver_params;  // comma-separated, as in DriverParams
  std::string fill;           // the statement that fills the table
};

// A database component parameterised like `open` does for a driverless section.
std::unique_ptr<TcsODBCDatabase> OpenDatabase(const TBackend& backend, const std::string& name) {
  auto database = std::make_unique<TcsODBCDatabase>();
  database->SetLoginPrompt(false);
  database->SetConnectionPoolSize(1);
  database->SetName(name);
  database->SetODBCDriverName(backend.driver);
  std::string item;
  for (char c : backend.driver_params + ",") {
    if (c == ',') {
      if (!item.empty()) database->Params().Add(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return database;
}

void Fill(const TBackend& backend, int rows) {
  auto database = OpenDatabase(backend, "benchfill");
  TcsQuery query;
  query.SetDataBaseName(database->DataBaseName());
  try {
    query.ExecSQL("drop table bench");
  } catch (const Exception&) {
  }
  query.ExecSQL(
      "create table bench (id integer not null, name varchar(40), amount double precision, "
      "created date, note varchar(20))");
  std::string fill = backend.fill;
  const size_t at = fill.find("%ROWS%");
  fill.replace(at, 6, std::to_string(rows));
  query.ExecSQL(fill);
}

TRate InProcessRowsPerSecond(const TBackend& backend, int expected) {
  auto database = OpenDatabase(backend, "benchloop");
  TcsQuery query;
  query.SetDataBaseName(database->DataBaseName());
  query.SetSQLText("select * from bench");
  const Clock::time_point start = Clock::now();
  const double cpu_start = ProcessCpuSeconds();
  query.Open();
  int rows = 0;
  size_t touched = 0;
  const int fields = query.FieldCount();
  while (!query.Eof()) {
    for (int i = 0; i < fields; ++i) {
      if (query.GetFieldDataPtr(query.Fields(i)) != nullptr) ++touched;
    }
    ++rows;
    query.Next();
  }
  const double seconds = Seconds(start);
  const double cpu = ProcessCpuSeconds() - cpu_start;
  query.Close();
  if (rows != expected) std::fprintf(stderr, "in-process loop read %d rows\n", rows);
  if (touched == 0) std::fprintf(stderr, "no values\n");
  return {rows / seconds, rows / cpu};
}

TRate GatewayRowsPerSecond(uint16_t port, const std::string& section, int expected,
                           std::shared_ptr<const TTlsContext> tls = nullptr) {
  TVelquarnClient client;
  client.SetReadTimeoutMs(120000);
  client.SetTls(std::move(tls));
  client.Open("127.0.0.1", port);
  if (client.Command("open " + section).Code != 200) throw Exception("open failed");
  const Clock::time_point start = Clock::now();
  const double cpu_start = ProcessCpuSeconds();
  const TClientReply opened = client.Command("sql select * from bench");
  if (opened.Code != 200) throw Exception("sql failed: " + opened.Text());
  long rows = 0;
  for (;;) {
    const TClientReply got = client.Command("get 1000");
    if (got.Code == 522) break;
    if (got.Code != 200) throw Exception("get failed: " + got.Text());
    const std::string block = client.ReadCountedBlock();
    for (char c : block) rows += c == '\0';
  }
  const double seconds = Seconds(start);
  const double cpu = ProcessCpuSeconds() - cpu_start;
  if (rows != expected) std::fprintf(stderr, "gateway read %ld rows\n", rows);
  client.SendLine("quit");
  return {rows / seconds, rows / cpu};
}

double TestRoundTripsPerSecond(uint16_t port) {
  TVelquarnClient client;
  client.Open("127.0.0.1", port);
  constexpr int kRounds = 20000;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    if (client.Command("test").Code != 200) throw Exception("test failed");
  }
  return kRounds / Seconds(start);
}

// Connections per second: connect (and handshake), greeting, close.
double ConnectsPerSecond(uint16_t port, std::shared_ptr<const TTlsContext> tls) {
  constexpr int kConnects = 500;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < kConnects; ++i) {
    TVelquarnClient client;
    client.SetTls(tls);
    if (client.Open("127.0.0.1", port).Code != 200) throw Exception("no greeting");
  }
  return kConnects / Seconds(start);
}

// A self-signed certificate for 127.0.0.1 in folder; the path of its PEM.
std::string MakeCertificate(const std::filesystem::path& folder) {
  const std::string command =
      "cd '" + folder.string() +
      "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
      "-keyout tls.key -out tls.pem -days 2 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1 2>/dev/null && chmod 600 tls.key";
  if (std::system(command.c_str()) != 0) throw Exception("openssl could not make a certificate");
  return (folder / "tls.pem").string();
}

// Connect to greeting, in milliseconds, for count sequential connects.
std::vector<double> GreetingLatencies(uint16_t port, int count) {
  std::vector<double> latencies;
  for (int i = 0; i < count; ++i) {
    const Clock::time_point start = Clock::now();
    TVelquarnClient client;
    client.Open("127.0.0.1", port);
    latencies.push_back(Seconds(start) * 1000);
    client.SendLine("quit");
    client.WaitForClose(5000);
  }
  std::sort(latencies.begin(), latencies.end());
  return latencies;
}

// Private_Clean + Private_Dirty of a process, in KiB.
long PrivateKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string key;
  long total = 0;
  while (in >> key) {
    long value = 0;
    if (key == "Private_Clean:" || key == "Private_Dirty:") {
      in >> value;
      total += value;
    }
    in.ignore(1 << 20, '\n');
  }
  return total;
}

// The processes whose parent is this one: the session workers.
std::vector<pid_t> ChildProcesses() {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    long parent = 0;
    rest >> state >> parent;
    if (parent == ::getpid()) children.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return children;
}

void CompareIsolation(const std::filesystem::path& folder, const std::string& config, uint16_t port,
                      const std::vector<TBackend>& backends, int rows) {
  const uint16_t isolated_port = FreePort();
  std::string isolated_config = config;
  isolated_config.replace(isolated_config.find(std::to_string(port)), std::to_string(port).size(),
                          std::to_string(isolated_port) + "\nIsolation=process");
  const std::string isolated_path = (folder / "velquarn-process.ini").string();
  std::ofstream(isolated_path) << isolated_config;
  TVelquarnSvc isolated(isolated_path, "");
  isolated.SetWorkerBinary(VELQUARN_BINARY);
  isolated.Execute();

  std::printf("\n%-11s %8s %13s %13s %6s\n", "isolation", "rows", "thread/s", "process/s", "ratio");
  for (size_t i = 0; i < backends.size(); ++i) {
    const std::string section = "bench" + std::to_string(i);
    TRate thread;
    TRate process;
    for (int run = 0; run < kMetricsRuns; ++run) {
      thread.KeepBest(GatewayRowsPerSecond(port, section, rows));
      process.KeepBest(GatewayRowsPerSecond(isolated_port, section, rows));
    }
    std::printf("%-11s %8d %13.0f %13.0f %6.3f\n", backends[i].label.c_str(), rows, thread.wall,
                process.wall, process.wall / thread.wall);
  }
  constexpr int kConnects = 1000;
  for (const auto& [label, mode_port] :
       {std::pair<const char*, uint16_t>{"thread", port}, {"process", isolated_port}}) {
    const std::vector<double> latencies = GreetingLatencies(mode_port, kConnects);
    std::printf("connect to greeting, %s mode, %d connects: median %.3f ms, p99 %.3f ms\n", label,
                kConnects, latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100]);
  }
  {
    TVelquarnClient idle;
    idle.Open("127.0.0.1", isolated_port);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (pid_t child : ChildProcesses()) {
      std::printf("worker %d: private memory %ld KiB\n", static_cast<int>(child),
                  PrivateKiB(child));
    }
    idle.SendLine("quit");
  }
  isolated.Stop();
}

int Run(int rows) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("velquarn-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string sqlite_file = (folder / "bench.db").string();

  const std::string counter =
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < %ROWS%) ";
  std::vector<TBackend> backends;
  backends.push_back({"SQLite", "", "SQLite3", "Database=" + sqlite_file + ",StepAPI=1",
                      "insert into bench " + counter +
                          "select x, 'name ' || x, x * 1.25, '2024-05-10', 'note' from c"});
  if (!Env("VELQUARN_PG_PORT").empty()) {
    backends.push_back(
        {"PostgreSQL", "", "PostgreSQL Unicode",
         "Servername=" + Env("VELQUARN_PG_HOST") + ",Port=" + Env("VELQUARN_PG_PORT") +
             ",Database=" + Env("VELQUARN_PG_DATABASE") + ",UID=" + Env("VELQUARN_PG_USER") +
             ",PWD=" + Env("VELQUARN_PG_PASSWORD") + ",UseDeclareFetch=1,Fetch=1000",
         "insert into bench " + counter +
             "select x, 'name ' || x, x * 1.25, date '2024-05-10', 'note' from c"});
  }

  // MariaDB twice: with the driver's defaults (the whole result read into
  // the client when the statement runs) and streaming (NO_CACHE=1 with a
  // forward-only cursor: rows are read from the server as they are fetched).
  if (!Env("VELQUARN_MY_PORT").empty()) {
    const std::string params =
        "Server=" + Env("VELQUARN_MY_HOST") + ",Port=" + Env("VELQUARN_MY_PORT") +
        ",Database=" + Env("VELQUARN_MY_DATABASE") + ",UID=" + Env("VELQUARN_MY_USER") +
        ",PWD=" + Env("VELQUARN_MY_PASSWORD");
    const std::string fill = "insert into bench " + counter +
                             "select x, concat('name ', x), x * 1.25, date '2024-05-10', 'note' "
                             "from c";
    backends.push_back({"MariaDB", "", "MariaDB Unicode", params, fill});
    backends.push_back(
        {"MariaDB-NC", "", "MariaDB Unicode", params + ",NO_CACHE=1,FORWARDONLY=1", fill});
  }

  const uint16_t port = FreePort();
  const uint16_t tls_port = FreePort();
  const std::string certificate = MakeCertificate(folder);
  std::string config = "[Settings]\nPort=" + std::to_string(port) + "\n";
  const std::string tls_settings = "TLSPort=" + std::to_string(tls_port) +
                                   "\nTLSCertificate=" + certificate +
                                   "\nTLSKey=" + (folder / "tls.key").string() + "\n";
  for (size_t i = 0; i < backends.size(); ++i) {
    config += "[bench" + std::to_string(i) + "]\nDSN=\nDriverName=" + backends[i].driver +
              "\nDriverParams=" + backends[i].driver_params + "\n";
  }
  const std::string config_path = (folder / "velquarn.ini").string();
  // The same sections, with the metrics endpoint on.
  const uint16_t counted_port = FreePort();
  std::string counted_config = config;
  counted_config.replace(
      counted_config.find(std::to_string(port)), std::to_string(port).size(),
      std::to_string(counted_port) + "\nMetricsAddress=127.0.0.1:" + std::to_string(FreePort()));
  const std::string counted_path = (folder / "velquarn-metrics.ini").string();
  std::ofstream(counted_path) << counted_config;
  // The process-mode service of CompareIsolation runs beside this one: it
  // gets the sections without the TLS port, which this one holds.
  const std::string plain_config = config;
  config.insert(config.find('\n', config.find("Port=")) + 1, tls_settings);
  std::ofstream(config_path) << config;

  TVelquarnSvc service(config_path, "");
  service.Execute();
  TVelquarnSvc counted(counted_path, "");
  counted.Execute();
  std::printf("%-11s %8s %13s %11s %6s %15s %13s %6s\n", "database", "rows", "in-process/s",
              "gateway/s", "ratio", "in-process/cpu", "gateway/cpu", "ratio");
  for (size_t i = 0; i < backends.size(); ++i) {
    Fill(backends[i], rows);
    // The best of a few alternating runs of each, so that a burst of other
    // work on the machine does not decide the ratio.
    TRate plain;
    TRate gateway;
    for (int run = 0; run < kRuns; ++run) {
      plain.KeepBest(InProcessRowsPerSecond(backends[i], rows));
      gateway.KeepBest(GatewayRowsPerSecond(port, "bench" + std::to_string(i), rows));
    }
    std::printf("%-11s %8d %13.0f %11.0f %6.2f %15.0f %13.0f %6.2f\n", backends[i].label.c_str(),
                rows, plain.wall, gateway.wall, gateway.wall / plain.wall, plain.cpu, gateway.cpu,
                gateway.cpu / plain.cpu);
  }
  std::printf("test round trips per second on one connection: %.0f\n",
              TestRoundTripsPerSecond(port));

  std::printf("\n%-11s %8s %13s %13s %6s %15s %15s %6s\n", "metrics", "rows", "off/s", "on/s",
              "ratio", "off/cpu", "on/cpu", "ratio");
  for (size_t i = 0; i < backends.size(); ++i) {
    const std::string section = "bench" + std::to_string(i);
    TRate off;
    TRate on;
    for (int run = 0; run < kMetricsRuns; ++run) {
      off.KeepBest(GatewayRowsPerSecond(port, section, rows));
      on.KeepBest(GatewayRowsPerSecond(counted_port, section, rows));
    }
    std::printf("%-11s %8d %13.0f %13.0f %6.3f %15.0f %15.0f %6.3f\n", backends[i].label.c_str(),
                rows, off.wall, on.wall, on.wall / off.wall, off.cpu, on.cpu, on.cpu / off.cpu);
  }
  double test_off = 0;
  double test_on = 0;
  for (int run = 0; run < kMetricsRuns; ++run) {
    test_off = std::max(test_off, TestRoundTripsPerSecond(port));
    test_on = std::max(test_on, TestRoundTripsPerSecond(counted_port));
  }
  std::printf("test round trips per second: metrics off %.0f, on %.0f, ratio %.3f\n", test_off,
              test_on, test_on / test_off);

  TTlsClientOptions client_options;
  client_options.CA = certificate;
  client_options.HostName = "127.0.0.1";
  const auto tls = TTlsContext::Client(client_options);
  std::printf("\n%-11s %8s %13s %13s %6s %15s %15s %6s\n", "TLS", "rows", "plain/s", "tls/s",
              "ratio", "plain/cpu", "tls/cpu", "ratio");
  for (size_t i = 0; i < backends.size(); ++i) {
    const std::string section = "bench" + std::to_string(i);
    TRate plain;
    TRate encrypted;
    for (int run = 0; run < kRuns; ++run) {
      plain.KeepBest(GatewayRowsPerSecond(port, section, rows));
      encrypted.KeepBest(GatewayRowsPerSecond(tls_port, section, rows, tls));
    }
    std::printf("%-11s %8d %13.0f %13.0f %6.3f %15.0f %15.0f %6.3f\n", backends[i].label.c_str(),
                rows, plain.wall, encrypted.wall, encrypted.wall / plain.wall, plain.cpu,
                encrypted.cpu, encrypted.cpu / plain.cpu);
  }
  std::printf("connections per second (connect, greeting, close): plain %.0f, TLS %.0f\n",
              ConnectsPerSecond(port, nullptr), ConnectsPerSecond(tls_port, tls));
  CompareIsolation(folder, plain_config, port, backends, rows);
  counted.Stop();
  service.Stop();
  std::filesystem::remove_all(folder);
  return 0;
}

}  // namespace
}  // namespace velquarn

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 200000;
  try {
    return velquarn::Run(rows);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "gateway_rows: %s\n", error.what());
    return 1;
  }
}
