// Rows per second through the gateway against a plain in-process ODBC loop.
//
// For each database (SQLite always; PostgreSQL when the VELQUARN_PG_*
// variables of scripts/postgres.sh name a running cluster; MariaDB when
// VELQUARN_MY_* of scripts/mariadb.sh name a running server) the program fills
// a table "bench" with the given number of rows (default 200 000: an integer,
// a varchar(40), a double, a timestamp, a varchar(100) and an integer that is
// null on every tenth row), then, once with the driver's defaults (the
// driver buffers the whole result) and once with its streaming options
// (StepAPI=1; UseDeclareFetch=1 with Fetch=1000):
//   1. in process: one SQLFetch per row and one SQLGetData per column on its
//      own ODBC connection, each row turned into the text of a `get` row
//      (a block of 1000 rows at a time);
//   2. through the gateway: starts the service in this process on a free
//      loopback port, and a client runs 'sql select * from bench' and reads
//      the rows with 'get 1000' until '522 EOF'.
// The two alternate, in turning order, for the given number of pairs; the
// rates printed are medians, the ratio is the median of the ratios of each
// pair (wall time of this whole process; also per CPU second of it).
// Then the round trips per second of 'test' on one connection.
//
// Unless --rows-only is given, the streaming sections are measured further:
// the gateway once more side by side with a second service in the same
// process that has Settings/MetricsAddress set (counting on), alternating,
// best of each: the cost of the counters. Then the same rows over the
// service's TLS port against its plain port (a certificate made with the
// openssl tool), and connections per second (connect, handshake, greeting,
// close) on each. Then the same against a third service with
// Settings/Isolation=process (its workers are the velquarn binary): rows per
// second in thread and in process mode, the time from connect to greeting
// (median and 99th percentile of 1000 sequential connects) in both, and the
// private (unshared) memory of the worker processes with one idle session.
//
// --no-read-ahead starts the service with Settings/ReadAhead=0, for the
// figures of fetching only when asked; --decode-rows has the client decode
// every block into typed values (the client library's DecodeRows), as a
// program does that uses the rows, instead of counting them.
//
// Usage: gateway_rows [rows] [--runs pairs] [--rows-only] [--no-read-ahead] [--decode-rows]
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/field_defs.h"
#include "client/row_decoder.h"
#include "client/velquarn_client.h"
#include "commands/row_writer.h"
#include "commands/text_stream.h"
#include "common/exceptions.h"
#include "dataset/field.h"
#include "dataset/query.h"
#include "odbc/odbc_database.h"
#include "odbc/odbc_entry_points.h"
#include "plain_odbc.h"
#include "service/velquarn_service.h"
#include "support/process_usage.h"
#include "tls/tls_context.h"

namespace velquarn {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 3;
// Rows per `get` block, in the gateway and in the in-process loop alike.
constexpr int kBlockRows = 1000;
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
  std::string label;    // the database
  std::string options;  // the driver options' label: "defaults" or the options
  std::string driver;
  std::string driver_params;  // comma-separated, as in DriverParams
  std::string fill;           // the statement that fills the table
  std::string section;        // its section in the configuration
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
      "created timestamp, note varchar(100), qty integer)");
  std::string fill = backend.fill;
  const size_t at = fill.find("%ROWS%");
  fill.replace(at, 6, std::to_string(rows));
  query.ExecSQL(fill);
}

// --- In-process ODBC loop -------------------------------------------------

// The C type a column of this SQL type is read as.
SQLSMALLINT CTypeOf(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_INTEGER:
      return SQL_C_SLONG;
    case SQL_BIGINT:
      return SQL_C_SBIGINT;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_REAL:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return SQL_C_DOUBLE;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIME:
      return SQL_C_TIMESTAMP;
    default:
      return SQL_C_CHAR;
  }
}

// The baseline the gateway is held to: what a program that links the driver
// itself does to get the same text out of the same rows. A connection is
// made before the clock starts, as the gateway's session has opened its
// section before 'sql'.
TRate InProcessRowsPerSecond(const TBackend& backend, int expected) {
  std::string connection_string;
  for (char c : backend.driver_params) connection_string += c == ',' ? ';' : c;
  const TPlainConnection connection(connection_string + ";Driver={" + backend.driver + "}");
  SQLHSTMT stmt = connection.Stmt();
  TTextStream stream;
  std::string sql = "select * from bench";
  const Clock::time_point start = Clock::now();
  const double cpu_start = ProcessCpuSeconds();
  Check(ODBC().SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS),
        SQL_HANDLE_STMT, stmt, "execute");
  SQLSMALLINT columns = 0;
  ODBC().SQLNumResultCols(stmt, &columns);
  std::vector<SQLSMALLINT> c_types;
  for (SQLUSMALLINT column = 1; column <= columns; ++column) {
    SQLCHAR name[128];
    SQLSMALLINT name_length = 0;
    SQLSMALLINT sql_type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    ODBC().SQLDescribeCol(stmt, column, name, sizeof name, &name_length, &sql_type, &size, &digits,
                          &nullable);
    c_types.push_back(CTypeOf(sql_type));
  }
  alignas(8) char buffer[512];
  long rows = 0;
  size_t bytes = 0;
  for (;;) {
    const SQLRETURN fetched = ODBC().SQLFetch(stmt);
    if (fetched == SQL_NO_DATA) break;
    Check(fetched, SQL_HANDLE_STMT, stmt, "fetch");
    for (SQLUSMALLINT column = 1; column <= columns; ++column) {
      if (column > 1) stream.AppendChar(',');
      SQLLEN indicator = 0;
      const SQLSMALLINT c_type = c_types[column - 1];
      Check(ODBC().SQLGetData(stmt, column, c_type, buffer, sizeof buffer, &indicator),
            SQL_HANDLE_STMT, stmt, "get data");
      const bool null = indicator == SQL_NULL_DATA;
      // The row format's renderings: numbers plain (a NULL number is 0),
      // text and dates quoted, any other NULL the byte 0xFF.
      switch (c_type) {
        case SQL_C_SLONG: {
          int32_t value = 0;
          if (!null) std::memcpy(&value, buffer, sizeof value);
          AppendInteger(stream, value);
          break;
        }
        case SQL_C_SBIGINT: {
          int64_t value = 0;
          if (!null) std::memcpy(&value, buffer, sizeof value);
          AppendInteger(stream, value);
          break;
        }
        case SQL_C_DOUBLE: {
          double value = 0;
          if (!null) std::memcpy(&value, buffer, sizeof value);
          AppendGeneralFloat(stream, value);
          break;
        }
        case SQL_C_TIMESTAMP: {
          if (null) {
            stream.AppendChar('\xFF');
            break;
          }
          SQL_TIMESTAMP_STRUCT value;
          std::memcpy(&value, buffer, sizeof value);
          char text[32];
          const int length =
              std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", value.year,
                            value.month, value.day, value.hour, value.minute, value.second);
          AppendQuoted(stream, std::string_view(text, static_cast<size_t>(length)));
          break;
        }
        default:
          if (null) {
            stream.AppendChar('\xFF');
          } else {
            AppendQuoted(stream, std::string_view(buffer, std::strlen(buffer)));
          }
          break;
      }
    }
    stream.AppendChar('\0');
    if (++rows % kBlockRows == 0) {
      bytes += stream.CountedBlock().size();
      stream.Clear();
    }
  }
  bytes += stream.CountedBlock().size();
  ODBC().SQLCloseCursor(stmt);
  const double seconds = Seconds(start);
  const double cpu = ProcessCpuSeconds() - cpu_start;
  if (rows != expected) std::fprintf(stderr, "in-process loop read %ld rows\n", rows);
  if (bytes == 0) std::fprintf(stderr, "no row text\n");
  return {rows / seconds, rows / cpu};
}

// --decode-rows: the client decodes every block into typed values, as a
// program using the client library does, instead of only counting rows.
bool g_decode_rows = false;

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
  const std::vector<TColumnDef> columns =
      g_decode_rows ? ParseFieldDefs(opened.Text()) : std::vector<TColumnDef>{};
  long rows = 0;
  for (;;) {
    const TClientReply got = client.Command("get " + std::to_string(kBlockRows));
    if (got.Code == 522) break;
    if (got.Code != 200) throw Exception("get failed: " + got.Text());
    const std::string block = client.ReadCountedBlock();
    if (g_decode_rows) {
      rows += static_cast<long>(DecodeRows(columns, block).size());
    } else {
      for (char c : block) rows += c == '\0';
    }
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
    const std::string& section = backends[i].section;
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
    for (pid_t child : testing::ChildrenOf(::getpid())) {
      std::printf("worker %d: private memory %ld KiB\n", static_cast<int>(child),
                  testing::PrivateKiB(child));
    }
    idle.SendLine("quit");
  }
  isolated.Stop();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

int Run(int rows, int pairs, bool rows_only, bool read_ahead) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("velquarn-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string sqlite_file = (folder / "bench.db").string();

  const std::string counter =
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < %ROWS%) ";
  const std::string values =
      "select x, 'name ' || x, x * 1.25, %STAMP%, "
      "'a note of some sixty characters that a real table could hold ' || x, "
      "case when x % 10 = 0 then null else x % 1000 end from c";
  std::string sqlite_values = values;
  sqlite_values.replace(sqlite_values.find("%STAMP%"), 7,
                        "datetime('2024-01-01', '+' || x || ' seconds')");
  std::string pg_values = values;
  pg_values.replace(pg_values.find("%STAMP%"), 7,
                    "timestamp '2024-01-01' + x * interval '1 second'");
  // Each database with the driver's defaults (the whole result buffered by
  // the driver) and with its streaming options; the first of each fills.
  std::vector<TBackend> backends;
  const std::string sqlite_params = "Database=" + sqlite_file;
  const std::string sqlite_fill = "insert into bench " + counter + sqlite_values;
  backends.push_back({"SQLite", "defaults", "SQLite3", sqlite_params, sqlite_fill, ""});
  backends.push_back({"SQLite", "StepAPI=1", "SQLite3", sqlite_params + ",StepAPI=1", "", ""});
  if (!Env("VELQUARN_PG_PORT").empty()) {
    const std::string pg_params =
        "Servername=" + Env("VELQUARN_PG_HOST") + ",Port=" + Env("VELQUARN_PG_PORT") +
        ",Database=" + Env("VELQUARN_PG_DATABASE") + ",UID=" + Env("VELQUARN_PG_USER") +
        ",PWD=" + Env("VELQUARN_PG_PASSWORD");
    const std::string pg_fill = "insert into bench " + counter + pg_values;
    backends.push_back({"PostgreSQL", "defaults", "PostgreSQL Unicode", pg_params, pg_fill, ""});
    backends.push_back({"PostgreSQL", "UseDeclareFetch=1;Fetch=1000", "PostgreSQL Unicode",
                        pg_params + ",UseDeclareFetch=1,Fetch=1000", "", ""});
  }
  // MariaDB streams with NO_CACHE=1 and a forward-only cursor (driver
  // 3.1.17 and later; older ones ignore it and read the whole result).
  if (!Env("VELQUARN_MY_PORT").empty()) {
    const std::string my_params =
        "Server=" + Env("VELQUARN_MY_HOST") + ",Port=" + Env("VELQUARN_MY_PORT") +
        ",Database=" + Env("VELQUARN_MY_DATABASE") + ",UID=" + Env("VELQUARN_MY_USER") +
        ",PWD=" + Env("VELQUARN_MY_PASSWORD");
    const std::string my_fill =
        "insert into bench " + counter +
        "select x, concat('name ', x), x * 1.25, timestamp '2024-01-01 00:00:00' + interval x "
        "second, "
        "concat('a note of some sixty characters that a real table could hold ', x), "
        "case when x % 10 = 0 then null else x % 1000 end from c";
    backends.push_back({"MariaDB", "defaults", "MariaDB Unicode", my_params, my_fill, ""});
    backends.push_back({"MariaDB", "NO_CACHE=1;FORWARDONLY=1", "MariaDB Unicode",
                        my_params + ",NO_CACHE=1,FORWARDONLY=1", "", ""});
  }
  for (size_t i = 0; i < backends.size(); ++i) backends[i].section = "bench" + std::to_string(i);

  const uint16_t port = FreePort();
  const uint16_t tls_port = FreePort();
  const std::string certificate = MakeCertificate(folder);
  std::string config = "[Settings]\nPort=" + std::to_string(port) + "\n";
  if (!read_ahead) config += "ReadAhead=0\n";
  const std::string tls_settings = "TLSPort=" + std::to_string(tls_port) +
                                   "\nTLSCertificate=" + certificate +
                                   "\nTLSKey=" + (folder / "tls.key").string() + "\n";
  for (const TBackend& backend : backends) {
    config += "[" + backend.section + "]\nDSN=\nDriverName=" + backend.driver +
              "\nDriverParams=" + backend.driver_params + "\n";
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
  // The process-mode service gets the sections without the TLS port, which
  // this one holds.
  const std::string untls_config = config;
  config.insert(config.find('\n', config.find("Port=")) + 1, tls_settings);
  std::ofstream(config_path) << config;

  TVelquarnSvc service(config_path, "");
  service.Execute();
  // Started with the first, so that its ports are taken before the clients'
  // connections use up the ephemeral ones.
  std::unique_ptr<TVelquarnSvc> counted;
  if (!rows_only) {
    counted = std::make_unique<TVelquarnSvc>(counted_path, "");
    counted->Execute();
  }
  std::printf("%-11s %-29s %8s %13s %11s %6s %6s\n", "database", "options", "rows", "in-process/s",
              "gateway/s", "ratio", "cpu");
  for (const TBackend& backend : backends) {
    if (!backend.fill.empty()) Fill(backend, rows);
    // Pairs in turning order (a burst of other work on the machine hits
    // either side alike); the median of the pairs' ratios counts.
    std::vector<double> plain_rates;
    std::vector<double> gateway_rates;
    std::vector<double> ratios;
    std::vector<double> cpu_ratios;
    for (int run = 0; run < pairs; ++run) {
      TRate plain;
      TRate gateway;
      if (run % 2 == 0) {
        plain = InProcessRowsPerSecond(backend, rows);
        gateway = GatewayRowsPerSecond(port, backend.section, rows);
      } else {
        gateway = GatewayRowsPerSecond(port, backend.section, rows);
        plain = InProcessRowsPerSecond(backend, rows);
      }
      plain_rates.push_back(plain.wall);
      gateway_rates.push_back(gateway.wall);
      ratios.push_back(gateway.wall / plain.wall);
      cpu_ratios.push_back(gateway.cpu / plain.cpu);
    }
    std::printf("%-11s %-29s %8d %13.0f %11.0f %6.3f %6.3f\n", backend.label.c_str(),
                backend.options.c_str(), rows, Median(plain_rates), Median(gateway_rates),
                Median(ratios), Median(cpu_ratios));
    std::fflush(stdout);
  }
  std::printf("test round trips per second on one connection: %.0f\n",
              TestRoundTripsPerSecond(port));
  if (rows_only) {
    service.Stop();
    std::filesystem::remove_all(folder);
    return 0;
  }
  // The further comparisons on the streaming sections only.
  std::vector<TBackend> streaming;
  for (const TBackend& backend : backends) {
    if (backend.options != "defaults") streaming.push_back(backend);
  }
  backends = streaming;

  std::printf("\n%-11s %8s %13s %13s %6s %15s %15s %6s\n", "metrics", "rows", "off/s", "on/s",
              "ratio", "off/cpu", "on/cpu", "ratio");
  for (size_t i = 0; i < backends.size(); ++i) {
    const std::string& section = backends[i].section;
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
    const std::string& section = backends[i].section;
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
  CompareIsolation(folder, untls_config, port, backends, rows);
  counted->Stop();
  service.Stop();
  std::filesystem::remove_all(folder);
  return 0;
}

}  // namespace
}  // namespace velquarn

int main(int argc, char** argv) {
  int rows = 200000;
  int pairs = 5;
  bool rows_only = false;
  bool read_ahead = true;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--rows-only") {
      rows_only = true;
    } else if (argument == "--no-read-ahead") {
      read_ahead = false;
    } else if (argument == "--decode-rows") {
      velquarn::g_decode_rows = true;
    } else if (argument == "--runs" && i + 1 < argc) {
      pairs = std::max(1, std::atoi(argv[++i]));
    } else if (argument.find_first_not_of("0123456789") == std::string::npos) {
      rows = std::atoi(argument.c_str());
    } else {
      std::fprintf(stderr,
                   "usage: gateway_rows [rows] [--runs pairs] [--rows-only] [--no-read-ahead] "
                   "[--decode-rows]\n");
      return 2;
    }
  }
  try {
    return velquarn::Run(rows, pairs, rows_only, read_ahead);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "gateway_rows: %s\n", error.what());
    return 1;
  }
}
