#include "metrics/gateway_metrics.h"

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "metrics/text_format.h"

namespace velquarn {

namespace {

constexpr const char* kRefusalLabels[] = {"max_connections", "max_connections_per_address",
                                          "allow_from"};
constexpr const char* kFetchLabels[] = {"ok", "http_error", "failed"};

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  quoted += '"';
  return quoted;
}

double AsDouble(uint64_t value) { return static_cast<double>(value); }
double AsDouble(int64_t value) { return static_cast<double>(value); }

}  // namespace

TGatewayMetrics::TGatewayMetrics(std::string version, double start_time_seconds)
    : version_(std::move(version)), start_time_seconds_(start_time_seconds) {}

void TGatewayMetrics::SetCommandNames(const std::vector<std::string>& names) {
  commands_.clear();
  for (const std::string& name : names)
    commands_.push_back(std::make_unique<TCommandMetrics>(name));
}

TGatewayMetrics::TCommandMetrics& TGatewayMetrics::CommandAt(size_t command) {
  return command < commands_.size() ? *commands_[command] : unknown_command_;
}

void TGatewayMetrics::CommandDone(size_t command, int reply_code, double seconds) {
  TCommandMetrics& metrics = CommandAt(command);
  metrics.count.Add();
  metrics.duration.Observe(seconds);
  if (reply_code >= 500) {
    metrics.errors_5xx.Add();
  } else if (reply_code >= 400) {
    metrics.errors_4xx.Add();
  }
}

void TGatewayMetrics::ConnectionOpened() {
  connections_total_.Add();
  peak_connections_.RaiseTo(connections_.Add(1));
}

void TGatewayMetrics::ConnectionClosed() { connections_.Add(-1); }

void TGatewayMetrics::ConnectionRefused(TRefusalReason reason) {
  refused_[static_cast<size_t>(reason)].Add();
}

TSectionMetrics& TGatewayMetrics::Section(std::string_view label) {
  std::scoped_lock lock(sections_mutex_);
  auto found = sections_.find(label);
  if (found != sections_.end()) return *found->second;
  auto [inserted, _] = sections_.emplace(std::string(label), std::make_unique<TSectionMetrics>());
  return *inserted->second;
}

void TGatewayMetrics::VersionListFetched(TVersionFetchResult result, double now_seconds) {
  version_fetches_[static_cast<size_t>(result)].Add();
  if (result == TVersionFetchResult::kOk) version_list_time_.store(now_seconds);
}

std::vector<std::pair<std::string, const TSectionMetrics*>> TGatewayMetrics::SectionList() const {
  std::scoped_lock lock(sections_mutex_);
  std::vector<std::pair<std::string, const TSectionMetrics*>> list;
  for (const auto& [label, metrics] : sections_) list.emplace_back(label, metrics.get());
  return list;
}

std::string TGatewayMetrics::RenderText(double now_seconds) const {
  TTextFormat out;
  out.Family("velquarn_build_info", "Build of the running gateway; the value is always 1.",
             "gauge");
  out.Sample("velquarn_build_info", {{"version", version_}}, 1);
  out.Family("velquarn_start_time_seconds", "Unix time the gateway started at.", "gauge");
  out.Sample("velquarn_start_time_seconds", {}, start_time_seconds_);

  out.Family("velquarn_connections", "Client connections open now.", "gauge");
  out.Sample("velquarn_connections", {}, AsDouble(connections_.Value()));
  out.Family("velquarn_connections_total", "Client connections accepted since the start.",
             "counter");
  out.Sample("velquarn_connections_total", {}, AsDouble(connections_total_.Value()));
  out.Family("velquarn_connections_refused_total",
             "Client connections refused at accept, by the setting that refused them.", "counter");
  for (size_t i = 0; i < std::size(kRefusalLabels); ++i) {
    out.Sample("velquarn_connections_refused_total", {{"reason", kRefusalLabels[i]}},
               AsDouble(refused_[i].Value()));
  }

  std::vector<const TCommandMetrics*> commands;
  for (const auto& command : commands_) commands.push_back(command.get());
  commands.push_back(&unknown_command_);
  out.Family("velquarn_commands_total", "Command lines answered, by command word.", "counter");
  for (const TCommandMetrics* command : commands) {
    out.Sample("velquarn_commands_total", {{"command", command->name}},
               AsDouble(command->count.Value()));
  }
  out.Family("velquarn_command_errors_total",
             "Command lines answered with an error reply, by command word and reply code class.",
             "counter");
  for (const TCommandMetrics* command : commands) {
    const uint64_t client_errors = command->errors_4xx.Value();
    const uint64_t server_errors = command->errors_5xx.Value();
    // Only the pairs that occurred: most commands never fail.
    if (client_errors > 0) {
      out.Sample("velquarn_command_errors_total", {{"command", command->name}, {"code", "4xx"}},
                 AsDouble(client_errors));
    }
    if (server_errors > 0) {
      out.Sample("velquarn_command_errors_total", {{"command", command->name}, {"code", "5xx"}},
                 AsDouble(server_errors));
    }
  }
  out.Family("velquarn_command_duration_seconds",
             "Time from a command line's arrival to the end of its answer, by command word.",
             "histogram");
  for (const TCommandMetrics* command : commands) {
    out.Histogram("velquarn_command_duration_seconds", {{"command", command->name}},
                  command->duration.Bounds(), command->duration.Snapshot());
  }

  out.Family("velquarn_rows_sent_total", "Result rows sent to clients.", "counter");
  out.Sample("velquarn_rows_sent_total", {}, AsDouble(rows_sent.Value()));
  out.Family("velquarn_bytes_sent_total", "Bytes written to client connections.", "counter");
  out.Sample("velquarn_bytes_sent_total", {}, AsDouble(bytes_sent.Value()));
  out.Family("velquarn_bytes_received_total", "Bytes read from client connections.", "counter");
  out.Sample("velquarn_bytes_received_total", {}, AsDouble(bytes_received.Value()));

  const auto sections = SectionList();
  out.Family("velquarn_databases_open",
             "ODBC connections open for client sessions, by database section.", "gauge");
  for (const auto& [label, section] : sections) {
    out.Sample("velquarn_databases_open", {{"section", label}},
               AsDouble(section->databases_open.Value()));
  }
  out.Family("velquarn_odbc_connects_total",
             "ODBC connections made for client sessions, by database section.", "counter");
  for (const auto& [label, section] : sections) {
    out.Sample("velquarn_odbc_connects_total", {{"section", label}},
               AsDouble(section->connects.Value()));
  }
  out.Family("velquarn_odbc_connect_failures_total",
             "ODBC connection attempts that failed, by database section.", "counter");
  for (const auto& [label, section] : sections) {
    out.Sample("velquarn_odbc_connect_failures_total", {{"section", label}},
               AsDouble(section->connect_failures.Value()));
  }
  out.Family("velquarn_retries_total",
             "Statements run a second time on a fresh connection after the first was lost.",
             "counter");
  out.Sample("velquarn_retries_total", {}, AsDouble(retries.Value()));

  // A resident size that grows while the bytes in use stay flat is the
  // allocator keeping freed memory, not a leak. mallinfo2 walks every arena
  // under its lock: once per scrape, never on a command path.
  const struct mallinfo2 heap = mallinfo2();
  out.Family("velquarn_heap_bytes",
             "Bytes of this process's allocator heap, in use or free but kept from the system.",
             "gauge");
  out.Sample("velquarn_heap_bytes", {{"state", "in_use"}},
             static_cast<double>(heap.uordblks + heap.hblkhd));
  out.Sample("velquarn_heap_bytes", {{"state", "free"}}, static_cast<double>(heap.fordblks));

  out.Family("velquarn_version_list_fetches_total",
             "Fetches of the client version list from UpdateURL, by result.", "counter");
  for (size_t i = 0; i < std::size(kFetchLabels); ++i) {
    out.Sample("velquarn_version_list_fetches_total", {{"result", kFetchLabels[i]}},
               AsDouble(version_fetches_[i].Value()));
  }
  const double fetched_at = version_list_time_.load();
  // No sample until a list was fetched: an age of "never" has no number.
  out.Family("velquarn_version_list_age_seconds",
             "Seconds since the client version list was last fetched successfully.", "gauge");
  if (fetched_at > 0) {
    out.Sample("velquarn_version_list_age_seconds", {}, std::max(0.0, now_seconds - fetched_at));
  }
  return out.Text();
}

std::string TGatewayMetrics::RenderStatusJson(double now_seconds) const {
  std::string json = "{\"version\":" + JsonString(version_);
  json += ",\"uptime_seconds\":" +
          TTextFormat::FormatValue(std::max(0.0, now_seconds - start_time_seconds_));
  json += ",\"connections\":{\"now\":" + std::to_string(connections_.Value()) +
          ",\"peak\":" + std::to_string(peak_connections_.Value()) + "}";
  json += ",\"databases_open\":{";
  bool first = true;
  for (const auto& [label, section] : SectionList()) {
    if (!first) json += ',';
    first = false;
    json += JsonString(label) + ":" + std::to_string(section->databases_open.Value());
  }
  json += "}}";
  return json;
}

}  // namespace velquarn
