// TGatewayMetrics: every counter the gateway keeps about itself, and the
// document a scrape reads. The command server, the command handlers, the
// ODBC driver's events and the service each update their own part; the
// metrics endpoint renders the whole.
//
// Label values come only from the command table and the configuration:
// SetCommandNames fixes the command words before the server runs, a line
// that matches no command counts under "unknown", and a database is counted
// under its configuration section's own spelling, or under "dsn" when a
// client opened an ODBC data source by name.
//
// Thread-safety: the counters may be updated from any thread at any time
// (relaxed atomics). SetCommandNames is called before the command server is
// activated. Section takes sections_mutex_, which nothing on a row or
// command path holds: a caller looks its section up once and keeps the
// reference, which stays valid for the metrics' life.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "metrics/metric_types.h"

namespace velquarn {

enum class TRefusalReason { kMaxConnections, kMaxConnectionsPerAddress, kAllowFrom };

enum class TVersionFetchResult { kOk, kHttpError, kFailed };

// The per-section counters of the ODBC connections made for client sessions.
struct TSectionMetrics {
  TGauge databases_open;
  TCounter connects;
  TCounter connect_failures;
};

class TGatewayMetrics {
 public:
  // The command index of a line that matched no command.
  static constexpr size_t kUnknownCommand = std::numeric_limits<size_t>::max();
  // The label of a database opened by data source name instead of a section.
  static constexpr std::string_view kDataSourceLabel = "dsn";

  // start_time_seconds: the Unix time the service started.
  TGatewayMetrics(std::string version, double start_time_seconds);
  TGatewayMetrics(const TGatewayMetrics&) = delete;
  TGatewayMetrics& operator=(const TGatewayMetrics&) = delete;

  // The command words in command-table order; CommandDone's index refers to
  // them. Replaces the counters of earlier names.
  void SetCommandNames(const std::vector<std::string>& names);
  // One command line answered with reply_code after seconds. A code of 400
  // or more counts as an error of its class ("4xx", "5xx").
  void CommandDone(size_t command, int reply_code, double seconds);

  void ConnectionOpened();
  void ConnectionClosed();
  void ConnectionRefused(TRefusalReason reason);
  int64_t Connections() const { return connections_.Value(); }
  int64_t PeakConnections() const { return peak_connections_.Value(); }

  // The counters of a database section (or kDataSourceLabel); created on
  // first use.
  TSectionMetrics& Section(std::string_view label);
  // The sections in label order.
  std::vector<std::pair<std::string, const TSectionMetrics*>> Sections() const {
    return SectionList();
  }

  void VersionListFetched(TVersionFetchResult result, double now_seconds);

  TCounter rows_sent;
  TCounter bytes_sent;
  TCounter bytes_received;
  TCounter retries;

  const std::string& Version() const { return version_; }
  double StartTimeSeconds() const { return start_time_seconds_; }

  // The exposition document at now_seconds (Unix time).
  std::string RenderText(double now_seconds) const;
  // {"version":...,"uptime_seconds":...,"connections":{"now":N,"peak":N},
  //  "databases_open":{"section":N,...}}
  std::string RenderStatusJson(double now_seconds) const;

 private:
  struct TCommandMetrics {
    explicit TCommandMetrics(std::string word) : name(std::move(word)) {}
    std::string name;
    TCounter count;
    TCounter errors_4xx;
    TCounter errors_5xx;
    THistogram duration{DurationBuckets()};
  };

  TCommandMetrics& CommandAt(size_t command);
  // The sections in label order. REQUIRES: sections_mutex_ not held.
  std::vector<std::pair<std::string, const TSectionMetrics*>> SectionList() const;

  const std::string version_;
  const double start_time_seconds_;
  std::vector<std::unique_ptr<TCommandMetrics>> commands_;  // set before serving
  TCommandMetrics unknown_command_{"unknown"};
  TGauge connections_;
  TGauge peak_connections_;
  TCounter connections_total_;
  TCounter refused_[3];
  TCounter version_fetches_[3];
  std::atomic<double> version_list_time_ = 0;  // Unix time of the last good fetch; 0: none
  mutable std::mutex sections_mutex_;
  std::map<std::string, std::unique_ptr<TSectionMetrics>, std::less<>>
      sections_;  // Guarded by sections_mutex_
};

}  // namespace velquarn
