// Rows per second of a TcsQuery walk against a plain ODBC loop, and the
// resident memory of a one-way walk.
//
// For each database and driver option (SQLite with and without StepAPI;
// when the VELQUARN_PG_* variables of scripts/postgres.sh name a running
// cluster, the Unicode and ANSI PostgreSQL drivers with and without
// UseDeclareFetch) the program makes sure a table "bench" holds the given
// number of rows (default 200 000) of integers, strings, doubles and
// timestamps with about one value in ten null, then walks
// "select * from bench":
//   - through a TcsQuery, bidirectional and with eoUniDirectional: open, read
//     every value of every row through GetFieldDataPtr (no allocation per
//     value), Next until Eof;
//   - through a plain ODBC loop on its own connection: one SQLFetch per row
//     and one SQLGetData per column into fixed buffers, with the C types the
//     driver layer asks for.
// Each walk runs a few times, in turning order, and the best rate counts.
// The rates (of wall time and of processor time) and the dataset/plain
// ratios are printed per driver option.
//
// Before that, on SQLite (StepAPI) and PostgreSQL (UseDeclareFetch), it
// walks the first 50 000 and then all rows with eoUniDirectional and prints
// VmRSS and VmHWM (from /proc/self/status) before and after each walk; the
// peak is reset before each walk where the kernel allows it
// (/proc/self/clear_refs). Bidirectional walks follow for comparison.
//
// Usage: dataset_rows [rows] [runs] [driver label filter]
// (the filter keeps the driver options whose label contains it, e.g.
// "StepAPI"; the memory walks are skipped then).
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "commands/row_writer.h"
#include "common/exceptions.h"
#include "dataset/field.h"
#include "dataset/query.h"
#include "dataset/slot_format.h"
#include "odbc/odbc_database.h"
#include "odbc/odbc_entry_points.h"
#include "plain_odbc.h"

namespace velquarn {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The processor time of this process: unlike the wall time, it does not
// count what other programs on a busy machine take (nor the server's part).
double CpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct TBackend {
  std::string label;
  std::string driver;
  std::vector<std::string> params;  // key=value items of the connection string
  std::string fill;                 // fills the table; %ROWS% is the row count
};

// --- Table -----------------------------------------------------------------

std::unique_ptr<TcsODBCDatabase> OpenDatabase(const TBackend& backend, const std::string& name) {
  auto database = std::make_unique<TcsODBCDatabase>();
  database->SetLoginPrompt(false);
  database->SetConnectionPoolSize(1);
  database->SetName(name);
  database->SetODBCDriverName(backend.driver);
  for (const std::string& item : backend.params) database->Params().Add(item);
  return database;
}

int CountRows(TcsQuery& query) {
  query.SetSQLText("select count(*) from bench");
  query.Open();
  const int rows = query.Fields(0).AsInteger();
  query.Close();
  return rows;
}

// Keeps a table that already holds the right number of rows.
void EnsureTable(const TBackend& backend, int rows) {
  auto database = OpenDatabase(backend, "benchfill");
  TcsQuery query;
  query.SetDataBaseName(database->DataBaseName());
  try {
    if (CountRows(query) == rows) return;
  } catch (const Exception&) {
  }
  try {
    query.ExecSQL("drop table bench");
  } catch (const Exception&) {
  }
  query.ExecSQL(
      "create table bench (id integer not null, qty integer, name varchar(40), "
      "note varchar(20), amount double precision, rate double precision, created timestamp, "
      "changed timestamp)");
  std::string fill = backend.fill;
  fill.replace(fill.find("%ROWS%"), 6, std::to_string(rows));
  query.ExecSQL(fill);
}

// Each nullable column is null on a different tenth of the rows.
std::string NullTenth(const std::string& value, int remainder) {
  return "case when x % 10 = " + std::to_string(remainder) + " then null else " + value + " end";
}

std::string FillStatement(bool sqlite) {
  const std::string counter =
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < %ROWS%) ";
  const std::string stamp1 = sqlite ? "datetime('2024-01-01', '+' || x || ' seconds')"
                                    : "timestamp '2024-01-01' + x * interval '1 second'";
  const std::string stamp2 = sqlite
                                 ? "datetime('2020-06-30 08:00:00', '+' || (x * 7) || ' minutes')"
                                 : "timestamp '2020-06-30 08:00:00' + x * interval '7 minutes'";
  return "insert into bench " + counter + "select x, " + NullTenth("x % 1000", 1) + ", " +
         NullTenth("'customer name ' || x", 2) + ", " + NullTenth("'note ' || (x % 97)", 3) + ", " +
         NullTenth("x * 1.25", 4) + ", " + NullTenth("x / 7.0", 5) + ", " + NullTenth(stamp1, 6) +
         ", " + NullTenth(stamp2, 7) + " from c";
}

// --- Dataset walk ----------------------------------------------------------

struct TWalk {
  long rows = 0;
  double checksum = 0;  // keeps the reads from being optimised away
  double seconds = 0;
  double cpu_seconds = 0;
  double RowsPerSecond() const { return seconds > 0 ? rows / seconds : 0; }
  double RowsPerCpuSecond() const { return cpu_seconds > 0 ? rows / cpu_seconds : 0; }
};

// What a consumer does with a value: read it in its slot format.
double ReadSlot(TFieldType type, const char* data) {
  switch (type) {
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return LoadSlot<int16_t>(data);
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return LoadSlot<int32_t>(data);
    case ftLargeint:
      return static_cast<double>(LoadSlot<int64_t>(data));
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
      return LoadSlot<double>(data);
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return static_cast<double>(std::strlen(data));
    default:
      return data[0];
  }
}

TWalk DatasetWalk(TcsQuery& query, const std::string& sql, TcsExecuteOptions options) {
  query.SetExecuteOptions(options);
  query.SetSQLText(sql);
  TWalk walk;
  const Clock::time_point start = Clock::now();
  const double cpu_start = CpuSeconds();
  query.Open();
  const int count = query.FieldCount();
  std::vector<const TField*> fields;
  std::vector<TFieldType> types;
  for (int i = 0; i < count; ++i) {
    fields.push_back(&query.Fields(i));
    types.push_back(query.Fields(i).DataType());
  }
  while (!query.Eof()) {
    for (int i = 0; i < count; ++i) {
      const char* data = query.GetFieldDataPtr(*fields[i]);
      if (data != nullptr) walk.checksum += ReadSlot(types[i], data);
    }
    ++walk.rows;
    query.Next();
  }
  walk.seconds = Seconds(start);
  walk.cpu_seconds = CpuSeconds() - cpu_start;
  query.Close();
  return walk;
}

// --- Plain ODBC loop -------------------------------------------------------

// The C type the driver layer reads a column of this SQL type as.
SQLSMALLINT CTypeOf(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_SMALLINT:
    case SQL_TINYINT:
      return SQL_C_SSHORT;
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
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return SQL_C_WCHAR;
    default:
      return SQL_C_CHAR;
  }
}

TWalk PlainWalk(const TPlainConnection& connection, const std::string& sql) {
  SQLHSTMT stmt = connection.Stmt();
  TWalk walk;
  std::string text = sql;
  const Clock::time_point start = Clock::now();
  const double cpu_start = CpuSeconds();
  Check(ODBC().SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS),
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
  for (;;) {
    const SQLRETURN fetched = ODBC().SQLFetch(stmt);
    if (fetched == SQL_NO_DATA) break;
    Check(fetched, SQL_HANDLE_STMT, stmt, "fetch");
    for (SQLUSMALLINT column = 1; column <= columns; ++column) {
      SQLLEN indicator = 0;
      const SQLSMALLINT c_type = c_types[column - 1];
      Check(ODBC().SQLGetData(stmt, column, c_type, buffer, sizeof buffer, &indicator),
            SQL_HANDLE_STMT, stmt, "get data");
      if (indicator == SQL_NULL_DATA) continue;
      switch (c_type) {
        case SQL_C_SLONG: {
          int32_t value;
          std::memcpy(&value, buffer, sizeof value);
          walk.checksum += value;
          break;
        }
        case SQL_C_DOUBLE: {
          double value;
          std::memcpy(&value, buffer, sizeof value);
          walk.checksum += value;
          break;
        }
        case SQL_C_TIMESTAMP: {
          SQL_TIMESTAMP_STRUCT value;
          std::memcpy(&value, buffer, sizeof value);
          walk.checksum += value.day + value.second;
          break;
        }
        default:
          walk.checksum += static_cast<double>(indicator);
          break;
      }
    }
    ++walk.rows;
  }
  ODBC().SQLCloseCursor(stmt);
  walk.seconds = Seconds(start);
  walk.cpu_seconds = CpuSeconds() - cpu_start;
  return walk;
}

// --- Memory ----------------------------------------------------------------

// The value in kB of a "Name:   123 kB" line of /proc/self/status.
long StatusKb(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(name);
  while (std::getline(status, line)) {
    if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':') {
      return std::atol(line.c_str() + length + 1);
    }
  }
  return -1;
}

bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

void MemoryWalk(TcsQuery& query, int rows, TcsExecuteOptions options, const char* label) {
  const bool reset = ResetPeak();
  const long rss_before = StatusKb("VmRSS");
  const long hwm_before = StatusKb("VmHWM");
  const TWalk walk =
      DatasetWalk(query, "select * from bench where id <= " + std::to_string(rows), options);
  const long rss_after = StatusKb("VmRSS");
  const long hwm_after = StatusKb("VmHWM");
  std::printf("  %-15s %8ld rows  VmRSS %7ld -> %7ld kB  VmHWM %7ld -> %7ld kB%s\n", label,
              walk.rows, rss_before, rss_after, hwm_before, hwm_after,
              reset ? "" : "  (peak not reset)");
}

// --- Driver ----------------------------------------------------------------

void Compare(const TBackend& backend, int rows, int runs) {
  const std::string sql = "select * from bench";
  auto database = OpenDatabase(backend, "benchwalk");
  TcsQuery query;
  query.SetDataBaseName(database->DataBaseName());
  std::string connection_string;
  for (const std::string& item : backend.params) connection_string += item + ";";
  TPlainConnection plain(connection_string + "Driver={" + backend.driver + "}");
  TWalk best[3];  // dataset, one-way dataset, plain; the fastest of each
  for (int run = 0; run < runs; ++run) {
    TWalk walks[3];
    // The order turns from run to run, so that none of the three always
    // comes first after a pause or right after another.
    for (int step = 0; step < 3; ++step) {
      const int which = (run + step) % 3;
      if (which == 0) walks[0] = DatasetWalk(query, sql, 0);
      if (which == 1) walks[1] = DatasetWalk(query, sql, eoUniDirectional);
      if (which == 2) walks[2] = PlainWalk(plain, sql);
    }
    if (walks[0].rows != rows || walks[1].rows != rows || walks[2].rows != rows) {
      std::fprintf(stderr, "%s: walked %ld / %ld / %ld rows of %d\n", backend.label.c_str(),
                   walks[0].rows, walks[1].rows, walks[2].rows, rows);
    }
    if (std::abs(walks[0].checksum - walks[1].checksum) > 1e-9 * std::abs(walks[0].checksum)) {
      std::fprintf(stderr, "%s: the two dataset walks read different values\n",
                   backend.label.c_str());
    }
    for (int i = 0; i < 3; ++i) {
      if (best[i].seconds == 0 || walks[i].seconds < best[i].seconds) {
        best[i].rows = walks[i].rows;
        best[i].seconds = walks[i].seconds;
      }
      if (best[i].cpu_seconds == 0 || walks[i].cpu_seconds < best[i].cpu_seconds) {
        best[i].cpu_seconds = walks[i].cpu_seconds;
      }
    }
  }
  const double plain_rate = best[2].RowsPerSecond();
  const double plain_cpu_rate = best[2].RowsPerCpuSecond();
  std::printf("%-36s %9.0f %9.0f %9.0f %6.2f %6.2f | %9.0f %6.2f %6.2f\n", backend.label.c_str(),
              best[0].RowsPerSecond(), best[1].RowsPerSecond(), plain_rate,
              best[0].RowsPerSecond() / plain_rate, best[1].RowsPerSecond() / plain_rate,
              plain_cpu_rate, best[0].RowsPerCpuSecond() / plain_cpu_rate,
              best[1].RowsPerCpuSecond() / plain_cpu_rate);
  std::fflush(stdout);
}

// One-way walks only: a bidirectional walk grows the heap, and what it frees
// stays resident, so those run after every one-way measurement.
void Memory(const TBackend& backend, int rows, bool one_way) {
  auto database = OpenDatabase(backend, "benchmemory");
  TcsQuery query;
  query.SetDataBaseName(database->DataBaseName());
  std::printf("memory, %s:\n", backend.label.c_str());
  // A first short walk so that the connection and the driver's caches are
  // already in place when the measured walks start.
  DatasetWalk(query, "select * from bench where id <= 100", eoUniDirectional);
  const int smaller = std::min(rows, 50000);
  if (one_way) {
    MemoryWalk(query, smaller, eoUniDirectional, "one-way");
    MemoryWalk(query, rows, eoUniDirectional, "one-way");
    MemoryWalk(query, smaller, eoUniDirectional, "one-way again");
  } else {
    MemoryWalk(query, smaller, 0, "bidirectional");
    MemoryWalk(query, rows, 0, "bidirectional");
  }
  std::fflush(stdout);
}

int Run(int rows, int runs, const std::string& only) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("velquarn-dataset-rows-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string sqlite_file = (folder / "bench.db").string();

  std::vector<TBackend> backends;
  backends.push_back({"SQLite3 StepAPI=1",
                      "SQLite3",
                      {"Database=" + sqlite_file, "StepAPI=1"},
                      FillStatement(true)});
  backends.push_back({"SQLite3", "SQLite3", {"Database=" + sqlite_file}, FillStatement(true)});
  if (!Env("VELQUARN_PG_PORT").empty()) {
    const std::vector<std::string> server = {
        "Servername=" + Env("VELQUARN_PG_HOST"), "Port=" + Env("VELQUARN_PG_PORT"),
        "Database=" + Env("VELQUARN_PG_DATABASE"), "UID=" + Env("VELQUARN_PG_USER"),
        "PWD=" + Env("VELQUARN_PG_PASSWORD")};
    for (const char* driver : {"PostgreSQL Unicode", "PostgreSQL ANSI"}) {
      std::vector<std::string> declare = server;
      declare.push_back("UseDeclareFetch=1");
      declare.push_back("Fetch=1000");
      backends.push_back(
          {std::string(driver) + " UseDeclareFetch=1", driver, declare, FillStatement(false)});
      backends.push_back({driver, driver, server, FillStatement(false)});
    }
  }

  // The table is shared by the options of one database.
  EnsureTable(backends[0], rows);
  if (backends.size() > 2) EnsureTable(backends[2], rows);
  if (only.empty()) {
    std::vector<const TBackend*> measured = {&backends[0]};
    if (backends.size() > 2) measured.push_back(&backends[2]);
    for (const TBackend* backend : measured) Memory(*backend, rows, true);
    for (const TBackend* backend : measured) Memory(*backend, rows, false);
  }

  std::printf(
      "\n%d rows, best of %d runs; rows per second of wall time, then of this process's "
      "processor time\n(ratio: dataset / plain, ratio1: one-way dataset / plain)\n",
      rows, runs);
  std::printf("%-36s %9s %9s %9s %6s %6s | %9s %6s %6s\n", "driver", "dataset", "one-way", "plain",
              "ratio", "ratio1", "cpu plain", "ratio", "ratio1");
  for (const TBackend& backend : backends) {
    if (backend.label.find(only) != std::string::npos) Compare(backend, rows, runs);
  }
  std::filesystem::remove_all(folder);
  return 0;
}

}  // namespace
}  // namespace velquarn

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 200000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  try {
    return velquarn::Run(rows, runs, argc > 3 ? argv[3] : "");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dataset_rows: %s\n", error.what());
    return 1;
  }
}
