#include "metrics/gateway_metrics.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace velquarn {
namespace {

// The value of the sample line that starts with series, or -1.
double SampleOf(const std::string& text, const std::string& series) {
  const std::string head = series + " ";
  size_t at = 0;
  while ((at = text.find(head, at)) != std::string::npos) {
    if (at == 0 || text[at - 1] == '\n') {
      return std::stod(text.substr(at + head.size(), text.find('\n', at) - at - head.size()));
    }
    at += head.size();
  }
  return -1;
}

TEST(GatewayMetrics, CommandsCountUnderTheirTableWordAndStrangersUnderUnknown) {
  TGatewayMetrics metrics("1.2", 1000);
  metrics.SetCommandNames({"sql", "get"});
  metrics.CommandDone(1, 200, 0.002);
  metrics.CommandDone(1, 522, 0.001);
  metrics.CommandDone(0, 512, 0.3);
  metrics.CommandDone(TGatewayMetrics::kUnknownCommand, 400, 0.00001);
  metrics.CommandDone(57, 400, 0.00001);  // an index past the table is no new label
  const std::string text = metrics.RenderText(1010);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"get\"}"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"sql\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"unknown\"}"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_command_errors_total{command=\"get\",code=\"5xx\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_command_errors_total{command=\"sql\",code=\"5xx\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_command_errors_total{command=\"unknown\",code=\"4xx\"}"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_command_errors_total{command=\"get\",code=\"4xx\"}"), -1);
  EXPECT_EQ(
      SampleOf(text, "velquarn_command_duration_seconds_bucket{command=\"get\",le=\"0.001\"}"), 1);
  EXPECT_EQ(
      SampleOf(text, "velquarn_command_duration_seconds_bucket{command=\"get\",le=\"0.0025\"}"), 2);
  EXPECT_EQ(SampleOf(text, "velquarn_command_duration_seconds_count{command=\"sql\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_build_info{version=\"1.2\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_start_time_seconds"), 1000);
}

TEST(GatewayMetrics, ConnectionsKeepTheirPeakAndRefusalsTheirReason) {
  TGatewayMetrics metrics("1", 0);
  metrics.ConnectionOpened();
  metrics.ConnectionOpened();
  metrics.ConnectionClosed();
  metrics.ConnectionOpened();
  metrics.ConnectionClosed();
  metrics.ConnectionRefused(TRefusalReason::kAllowFrom);
  metrics.ConnectionRefused(TRefusalReason::kMaxConnectionsPerAddress);
  metrics.ConnectionRefused(TRefusalReason::kMaxConnectionsPerAddress);
  EXPECT_EQ(metrics.Connections(), 1);
  EXPECT_EQ(metrics.PeakConnections(), 2);
  const std::string text = metrics.RenderText(0);
  EXPECT_EQ(SampleOf(text, "velquarn_connections"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_connections_total"), 3);
  EXPECT_EQ(SampleOf(text, "velquarn_connections_refused_total{reason=\"allow_from\"}"), 1);
  EXPECT_EQ(
      SampleOf(text, "velquarn_connections_refused_total{reason=\"max_connections_per_address\"}"),
      2);
  EXPECT_EQ(SampleOf(text, "velquarn_connections_refused_total{reason=\"max_connections\"}"), 0);
}

TEST(GatewayMetrics, SectionsAreOneSeriesEachAndKeepTheirReference) {
  TGatewayMetrics metrics("1", 0);
  TSectionMetrics& pg = metrics.Section("pg");
  EXPECT_EQ(&metrics.Section("pg"), &pg);
  pg.connects.Add();
  pg.databases_open.Add(1);
  metrics.Section("lite").connect_failures.Add();
  const std::string text = metrics.RenderText(0);
  EXPECT_EQ(SampleOf(text, "velquarn_odbc_connects_total{section=\"pg\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_databases_open{section=\"pg\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_odbc_connect_failures_total{section=\"lite\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_databases_open{section=\"lite\"}"), 0);
}

TEST(GatewayMetrics, VersionListAgeAppearsOnlyAfterAGoodFetch) {
  TGatewayMetrics metrics("1", 0);
  metrics.VersionListFetched(TVersionFetchResult::kFailed, 50);
  std::string text = metrics.RenderText(100);
  EXPECT_EQ(SampleOf(text, "velquarn_version_list_fetches_total{result=\"failed\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_version_list_age_seconds"), -1);
  metrics.VersionListFetched(TVersionFetchResult::kOk, 60);
  text = metrics.RenderText(100);
  EXPECT_EQ(SampleOf(text, "velquarn_version_list_fetches_total{result=\"ok\"}"), 1);
  EXPECT_EQ(SampleOf(text, "velquarn_version_list_age_seconds"), 40);
}

// The heap figures come from the C library's allocator, which the
// sanitizers replace with their own.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(GatewayMetrics, HeapInUseFollowsWhatIsHeld) {
  TGatewayMetrics metrics("1.2", 1000);
  const double before = SampleOf(metrics.RenderText(1001), "velquarn_heap_bytes{state=\"in_use\"}");
  std::vector<char> held(64 << 20, 'x');
  const std::string text = metrics.RenderText(1002);
  EXPECT_GE(SampleOf(text, "velquarn_heap_bytes{state=\"in_use\"}"), before + (64 << 20));
  EXPECT_GE(SampleOf(text, "velquarn_heap_bytes{state=\"free\"}"), 0);
}
#endif

TEST(GatewayMetrics, StatusJsonEscapesSectionNames) {
  TGatewayMetrics metrics("2.1", 100);
  metrics.ConnectionOpened();
  metrics.Section("a\"b\\c").databases_open.Add(2);
  EXPECT_EQ(metrics.RenderStatusJson(112.5),
            "{\"version\":\"2.1\",\"uptime_seconds\":12.5,\"connections\":{\"now\":1,\"peak\":1},"
            "\"databases_open\":{\"a\\\"b\\\\c\":2}}");
}

TEST(GatewayMetrics, CountsFromManyThreadsAddUp) {
  TGatewayMetrics metrics("1", 0);
  metrics.SetCommandNames({"test"});
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&metrics] {
      for (int i = 0; i < 10000; ++i) {
        metrics.CommandDone(0, 200, 0.0002);
        metrics.rows_sent.Add(3);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string text = metrics.RenderText(0);
  EXPECT_EQ(SampleOf(text, "velquarn_commands_total{command=\"test\"}"), 40000);
  EXPECT_EQ(SampleOf(text, "velquarn_command_duration_seconds_count{command=\"test\"}"), 40000);
  EXPECT_EQ(SampleOf(text, "velquarn_rows_sent_total"), 120000);
}

}  // namespace
}  // namespace velquarn
