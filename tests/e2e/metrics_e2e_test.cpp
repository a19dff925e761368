// The metrics endpoint of the real binary: exact counts after known client
// sessions, the document checked by promtool and scraped by a real
// Prometheus server, and hostile scrapers that must not disturb clients.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_options.h"
#include "support/http_peer.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A program found on PATH, or "".
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::filesystem::path candidate = std::filesystem::path(folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return "";
}

// A child process killed and reaped on every path out of the test.
class TChild {
 public:
  TChild(const std::vector<std::string>& arguments, const std::string& log_path) {
    pid_ = ::fork();
    if (pid_ == 0) {
      std::FILE* log = std::fopen(log_path.c_str(), "w");
      if (log != nullptr) {
        ::dup2(::fileno(log), 1);
        ::dup2(::fileno(log), 2);
      }
      std::vector<char*> argv;
      for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~TChild() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

 private:
  pid_t pid_ = -1;
};

class MetricsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    OdbcTestEnv& env = OdbcTestEnv::Get();
    metrics_port_ = FreeTcpPort();
    TVelquarnProcessOptions options = VelquarnOptions();
    options.settings = "MetricsAddress=127.0.0.1:" + std::to_string(metrics_port_) + "\n";
    const std::string file = env.NewSqliteFile("metrics_" + std::to_string(::getpid()) + ".db");
    std::remove(file.c_str());
    options.sections = "[lite]\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                       "\nDriverParams=Database=" + file + "\n";
    server_ = std::make_unique<TVelquarnProcess>(options);
  }

  std::string Metrics() { return BodyOf(HttpGet(metrics_port_, "/metrics")); }

  // Scrapes until done(text) holds or 10 s pass; the last document is kept
  // in last_. A command is counted just after its answer went out, so a
  // client may read the answer a moment before the count.
  template <typename TDone>
  bool WaitForMetrics(TDone done) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
      last_ = Metrics();
      if (done(last_)) return true;
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Two sessions with a known history, left open:
  // A: open lite, sql (3 rows), get 10 (3 rows), one unknown word;
  // B: open lite (unknown letter case), get before any sql (522), test, one
  // unknown word.
  void RunKnownSessions() {
    // The fixture's readiness probe was one connection too; it is counted
    // on its own thread, so wait until it has come and gone.
    ASSERT_TRUE(WaitForMetrics([](const std::string& text) {
      return SampleOf(text, "velquarn_connections_total") == 1 &&
             SampleOf(text, "velquarn_connections") == 0;
    }));
    connections_before_ = 1;
    a_ = std::make_unique<TVelquarnClient>(ConnectGreeted(*server_, 20000));
    b_ = std::make_unique<TVelquarnClient>(ConnectGreeted(*server_, 20000));
    const std::vector<std::pair<TVelquarnClient*, std::string>> lines = {
        {a_.get(), "open lite"},   {a_.get(), "sql select 1 as n union select 2 union select 3"},
        {b_.get(), "open LITE"},   {b_.get(), "get 5"},
        {b_.get(), "test"},        {b_.get(), "frobnicate"},
        {a_.get(), "xyzzy 1 2 3"},
    };
    for (const auto& [client, line] : lines) {
      client->Command(line);
      received_ += line.size() + 2;
    }
    a_->SendLine("get 10");
    received_ += std::string("get 10\r\n").size();
    ASSERT_EQ(a_->ReadLine(), "200 OK");
    EXPECT_EQ(a_->ReadCountedBlock(), std::string("1\0"
                                                  "2\0"
                                                  "3\0",
                                                  6));
  }

  uint16_t metrics_port_ = 0;
  std::unique_ptr<TVelquarnProcess> server_;
  std::unique_ptr<TVelquarnClient> a_;
  std::unique_ptr<TVelquarnClient> b_;
  size_t received_ = 0;
  double connections_before_ = 0;
  std::string last_;
};

TEST_F(MetricsE2E, CountsMatchTheSessionsExactly) {
  RunKnownSessions();
  EXPECT_TRUE(WaitForMetrics([](const std::string& text) {
    return SampleOf(text, "velquarn_command_duration_seconds_count{command=\"get\"}") == 2 &&
           SampleOf(text, "velquarn_command_duration_seconds_count{command=\"unknown\"}") == 2;
  }));
  const std::string text = last_;
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(SampleOf(text, "velquarn_connections"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_connections_total"), connections_before_ + 2);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"open\"}"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"sql\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"get\"}"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"test\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"unknown\"}"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"sys\"}"), 0);
  // No label carries what a client typed.
  EXPECT_EQ(text.find("frobnicate"), std::string::npos);
  EXPECT_EQ(text.find("xyzzy"), std::string::npos);
  EXPECT_EQ(text.find("LITE"), std::string::npos);
  EXPECT_EQ(SampleOf(text, "velquarn_command_errors_total{command=\"get\",code=\"5xx\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_command_errors_total{command=\"unknown\",code=\"4xx\"}"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_command_errors_total{command=\"sql\",code=\"5xx\"}"), -1);
  EXPECT_EQ(SampleOf(text, "velquarn_command_duration_seconds_count{command=\"get\"}"), 2);
  EXPECT_EQ(
      SampleOf(text, "velquarn_command_duration_seconds_bucket{command=\"open\",le=\"+Inf\"}"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_rows_sent_total"), 3);
  EXPECT_EQ(SampleOf(text, "velquarn_bytes_received_total"), static_cast<double>(received_));
  EXPECT_GT(SampleOf(text, "velquarn_bytes_sent_total"), 0);
  // Only A's `sql` connected; B's `get` found no active query.
  EXPECT_EQ(SampleOf(text, "velquarn_odbc_connects_total{section=\"lite\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_databases_open{section=\"lite\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_odbc_connect_failures_total{section=\"lite\"}"), 0);

  const std::string status = BodyOf(HttpGet(metrics_port_, "/status"));
  EXPECT_NE(status.find("\"connections\":{\"now\":2,\"peak\":2}"), std::string::npos) << status;
  EXPECT_NE(status.find("\"databases_open\":{\"lite\":1}"), std::string::npos) << status;

  a_->SendLine("quit");
  EXPECT_TRUE(a_->WaitForClose(5000));
  b_.reset();
  a_.reset();
  // The sessions end on their own threads; the gauges follow.
  WaitForMetrics([](const std::string& text) {
    return SampleOf(text, "velquarn_connections") == 0 &&
           SampleOf(text, "velquarn_databases_open{section=\"lite\"}") == 0;
  });
  const std::string after = last_;
  EXPECT_EQ(SampleOf(after, "velquarn_connections"), 0);
  EXPECT_EQ(SampleOf(after, "velquarn_databases_open{section=\"lite\"}"), 0);
  EXPECT_EQ(SampleOf(after, "velquarn_commands_total{command=\"quit\"}"), 1);
  EXPECT_NE(BodyOf(HttpGet(metrics_port_, "/status")).find("\"peak\":2"), std::string::npos);
}

TEST_F(MetricsE2E, DocumentPassesPromtool) {
  const std::string promtool = FindProgram("promtool");
  if (promtool.empty()) GTEST_SKIP() << "promtool is not installed (Debian package prometheus)";
  RunKnownSessions();
  const std::string response = HttpGet(metrics_port_, "/metrics");
  EXPECT_NE(response.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"),
            std::string::npos);
  const std::filesystem::path file = server_->Folder() / "scrape.txt";
  std::ofstream(file) << BodyOf(response);
  const std::string command =
      promtool + " check metrics < " + file.string() + " > " + file.string() + ".out 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream findings(file.string() + ".out");
  std::stringstream text;
  text << findings.rdbuf();
  EXPECT_EQ(status, 0) << text.str();
}

TEST_F(MetricsE2E, PrometheusScrapesTheConnectionGauge) {
  const std::string prometheus = FindProgram("prometheus");
  if (prometheus.empty()) GTEST_SKIP() << "prometheus is not installed";
  RunKnownSessions();
  TempDir folder("velquarn-prometheus");
  const std::filesystem::path config = folder.Path() / "prometheus.yml";
  std::ofstream(config) << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                        << "scrape_configs:\n  - job_name: velquarn\n    static_configs:\n"
                        << "      - targets: ['127.0.0.1:" << metrics_port_ << "']\n";
  const uint16_t api_port = FreeTcpPort();
  TChild server({prometheus, "--config.file=" + config.string(),
                 "--storage.tsdb.path=" + (folder.Path() / "data").string(),
                 "--web.listen-address=127.0.0.1:" + std::to_string(api_port)},
                (folder.Path() / "prometheus.log").string());
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  std::string answer;
  bool seen = false;
  while (!seen && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    answer = BodyOf(HttpGet(api_port, "/api/v1/query?query=velquarn_connections"));
    // {"status":"success","data":{"resultType":"vector","result":[{"metric":
    // {...},"value":[<time>,"2"]}]}}
    seen = answer.find("\"velquarn_connections\"") != std::string::npos &&
           answer.find(",\"2\"]") != std::string::npos;
  }
  std::ifstream log(folder.Path() / "prometheus.log");
  std::stringstream log_text;
  log_text << log.rdbuf();
  EXPECT_TRUE(seen) << answer << "\n" << log_text.str().substr(0, 4000);
}

TEST_F(MetricsE2E, UnknownPathsAndMethodsGet404) {
  const std::string response = HttpGet(metrics_port_, "/metrics/../etc/passwd");
  EXPECT_EQ(response.rfind("HTTP/1.1 404 ", 0), 0u) << response;
  THttpPeer post(metrics_port_);
  post.Send("POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(post.ReadToClose(5000).value_or("").rfind("HTTP/1.1 404 ", 0), 0u);
  THttpPeer garbage(metrics_port_);
  garbage.Send("\x16\x03\x01 hello\r\n\r\n");
  EXPECT_EQ(garbage.ReadToClose(5000).value_or("").rfind("HTTP/1.1 400 ", 0), 0u);
  EXPECT_EQ(HttpGet(metrics_port_, "/status").rfind("HTTP/1.1 200 ", 0), 0u);
}

TEST_F(MetricsE2E, HugeRequestLineIsClosedWithoutAnAnswer) {
  THttpPeer peer(metrics_port_);
  peer.Send("GET /" + std::string(20000, 'a'));
  const std::optional<std::string> answer = peer.ReadToClose(4000);
  ASSERT_TRUE(answer.has_value()) << "still open";
  EXPECT_EQ(*answer, "");
  THttpPeer headers(metrics_port_);
  std::string many = "GET /metrics HTTP/1.1\r\n";
  while (many.size() < 9000) many += "X-Filler: " + std::string(100, 'b') + "\r\n";
  headers.Send(many + "\r\n");
  EXPECT_EQ(headers.ReadToClose(4000).value_or("still open"), "");
  EXPECT_EQ(HttpGet(metrics_port_, "/metrics").rfind("HTTP/1.1 200 ", 0), 0u);
}

TEST_F(MetricsE2E, SilentScraperIsClosedAfterFiveSecondsWhileClientsAreServed) {
  THttpPeer silent(metrics_port_);
  ASSERT_TRUE(silent.Connected());
  const auto started = Clock::now();
  TVelquarnClient client = ConnectGreeted(*server_, 5000);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(client.Command("test").Code, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const std::optional<std::string> answer = silent.ReadToClose(10000);
  const double waited = std::chrono::duration<double>(Clock::now() - started).count();
  ASSERT_TRUE(answer.has_value()) << "still open after 10 s";
  EXPECT_EQ(*answer, "");
  EXPECT_GE(waited, 4.5);
  EXPECT_LE(waited, 8.0);
  // The endpoint serves the next scraper, and counted the client meanwhile.
  EXPECT_EQ(SampleOf(Metrics(), "velquarn_commands_total{command=\"test\"}"), 20);
}

TEST(MetricsE2EStart, UnparsableMetricsAddressStopsTheStart) {
  TVelquarnProcessOptions options = VelquarnOptions();
  options.settings = "MetricsAddress=localhost:9188\n";
  options.wait_until_listening = false;
  TVelquarnProcess server(options);
  EXPECT_EQ(server.WaitForExit(20000), 1);
  EXPECT_TRUE(server.WaitForEventLog("Settings/MetricsAddress: 'localhost:9188'", 1000))
      << server.EventLogText();
}

}  // namespace
}  // namespace velquarn::testing
