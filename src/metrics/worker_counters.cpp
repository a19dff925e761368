#include "metrics/worker_counters.h"

#include <charconv>

#include "metrics/gateway_metrics.h"

namespace velquarn {

namespace {

constexpr std::string_view kRows = "rows";
constexpr std::string_view kBytesSent = "sent";
constexpr std::string_view kBytesReceived = "received";
constexpr std::string_view kRetries = "retries";
constexpr std::string_view kOpen = "open";
constexpr std::string_view kConnects = "connects";
constexpr std::string_view kFailures = "failures";

void AppendLine(std::string& text, std::string_view kind, int64_t value, std::string_view label) {
  text.append(kind);
  text += ' ';
  text += std::to_string(value);
  if (!label.empty()) {
    text += ' ';
    text.append(label);
  }
  text += '\n';
}

TCounter* GlobalCounter(TGatewayMetrics& metrics, std::string_view kind) {
  if (kind == kRows) return &metrics.rows_sent;
  if (kind == kBytesSent) return &metrics.bytes_sent;
  if (kind == kBytesReceived) return &metrics.bytes_received;
  if (kind == kRetries) return &metrics.retries;
  return nullptr;
}

}  // namespace

std::string EncodeWorkerCounters(const TGatewayMetrics& metrics) {
  std::string text;
  AppendLine(text, kRows, static_cast<int64_t>(metrics.rows_sent.Value()), "");
  AppendLine(text, kBytesSent, static_cast<int64_t>(metrics.bytes_sent.Value()), "");
  AppendLine(text, kBytesReceived, static_cast<int64_t>(metrics.bytes_received.Value()), "");
  AppendLine(text, kRetries, static_cast<int64_t>(metrics.retries.Value()), "");
  for (const auto& [label, section] : metrics.Sections()) {
    AppendLine(text, kOpen, section->databases_open.Value(), label);
    AppendLine(text, kConnects, static_cast<int64_t>(section->connects.Value()), label);
    AppendLine(text, kFailures, static_cast<int64_t>(section->connect_failures.Value()), label);
  }
  return text;
}

void TWorkerCounters::Merge(std::string_view snapshot, TGatewayMetrics& metrics) {
  while (!snapshot.empty()) {
    const size_t end = snapshot.find('\n');
    std::string_view line = snapshot.substr(0, end);
    snapshot.remove_prefix(end == std::string_view::npos ? snapshot.size() : end + 1);
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) continue;
    const std::string_view kind = line.substr(0, space);
    std::string_view rest = line.substr(space + 1);
    const size_t label_at = rest.find(' ');
    const std::string_view number = rest.substr(0, label_at);
    const std::string_view label =
        label_at == std::string_view::npos ? std::string_view() : rest.substr(label_at + 1);
    int64_t value = 0;
    const auto parsed = std::from_chars(number.data(), number.data() + number.size(), value);
    if (parsed.ec != std::errc() || parsed.ptr != number.data() + number.size()) continue;
    std::string key(kind);
    key += ' ';
    key.append(label);
    int64_t& last = last_[key];
    const int64_t delta = value - last;
    if (delta == 0) continue;
    if (label.empty()) {
      TCounter* counter = GlobalCounter(metrics, kind);
      if (counter == nullptr || delta < 0) continue;
      counter->Add(static_cast<uint64_t>(delta));
    } else if (kind == kOpen) {
      metrics.Section(label).databases_open.Add(delta);
    } else if (kind == kConnects || kind == kFailures) {
      if (delta < 0) continue;
      TSectionMetrics& section = metrics.Section(label);
      (kind == kConnects ? section.connects : section.connect_failures)
          .Add(static_cast<uint64_t>(delta));
    } else {
      continue;
    }
    last = value;
  }
}

void TWorkerCounters::Retire(TGatewayMetrics& metrics) {
  const std::string prefix = std::string(kOpen) + ' ';
  for (auto& [key, value] : last_) {
    if (value != 0 && key.compare(0, prefix.size(), prefix) == 0) {
      metrics.Section(std::string_view(key).substr(prefix.size())).databases_open.Add(-value);
      value = 0;
    }
  }
}

}  // namespace velquarn
