#include "commands/session_log.h"

#include "commands/command_table.h"
#include "common/text.h"
#include "dataset/sql_errors.h"
#include "metrics/gateway_metrics.h"

namespace velquarn {

namespace {

const TcsError* FirstRecord(const std::exception& error) {
  const auto* sql_error = dynamic_cast<const EcsSQLError*>(&error);
  if (sql_error == nullptr || sql_error->Errors().empty()) return nullptr;
  return &sql_error->Errors().front();
}

// Driver messages may run over several lines; the entry keeps the first.
std::string FirstLine(std::string_view text) {
  return Trim(text.substr(0, text.find_first_of("\r\n")));
}

}  // namespace

std::string ConnectFailureText(std::string_view section, std::string_view peer,
                               const std::exception& error) {
  std::string state = "none";
  std::string_view message = error.what();
  if (const TcsError* record = FirstRecord(error)) {
    if (!record->SqlState.empty()) {
      state = record->SqlState;
      message = record->Message;
    } else {
      message = record->ErrorText;
    }
  }
  return Format("Connect to database section %.*s for %.*s failed: SQLSTATE %s: %s",
                static_cast<int>(section.size()), section.data(), static_cast<int>(peer.size()),
                peer.data(), state.c_str(), FirstLine(message).c_str());
}

std::string OpenFailureText(std::string_view section, std::string_view peer,
                            const std::exception& error) {
  return Format("Open of database section %.*s for %.*s failed: %s",
                static_cast<int>(section.size()), section.data(), static_cast<int>(peer.size()),
                peer.data(), FirstLine(error.what()).c_str());
}

TLogPriority ConnectFailurePriority(const std::exception& error) {
  const TcsError* record = FirstRecord(error);
  if (record != nullptr && record->SqlState.rfind("28", 0) == 0) return TLogPriority::kWarning;
  return TLogPriority::kErr;
}

std::string SlowStatementText(std::string_view section, std::string_view peer, uint64_t elapsed_ms,
                              int threshold_ms, std::string_view sql) {
  return Format("Slow statement on database section %.*s for %.*s: %llu ms (SlowQueryMs %d): ",
                static_cast<int>(section.size()), section.data(), static_cast<int>(peer.size()),
                peer.data(), static_cast<unsigned long long>(elapsed_ms), threshold_ms) +
         // The dataset hands the driver its SQL lines joined, with a blank
         // after the last.
         Trim(sql).substr(0, kSlowStatementQuote);
}

TcsODBCDriver::TEvents SessionDriverEvents(const TCommandEnvironment& environment,
                                           std::string section, std::string peer,
                                           std::string_view metrics_label) {
  TcsODBCDriver::TEvents events;
  TSectionMetrics* counted =
      environment.Metrics != nullptr ? &environment.Metrics->Section(metrics_label) : nullptr;
  if (counted != nullptr) {
    events.Connected = [counted] {
      counted->connects.Add();
      counted->databases_open.Add(1);
    };
    events.Disconnected = [counted] { counted->databases_open.Add(-1); };
  }
  events.ConnectFailed = [&environment, section, peer, counted](const std::exception& error) {
    if (counted != nullptr) counted->connect_failures.Add();
    try {
      if (environment.LogAt) {
        environment.LogAt(ConnectFailurePriority(error), kEventSource,
                          ConnectFailureText(section, peer, error));
      }
    } catch (...) {
      // The connect error itself still reaches the client.
    }
  };
  events.StatementRan = [&environment, section = std::move(section), peer = std::move(peer)](
                            const std::string& sql, uint64_t elapsed_ms) {
    try {
      const int threshold = environment.Live()->SlowQueryMs;
      if (threshold <= 0 || elapsed_ms <= static_cast<uint64_t>(threshold)) return;
      if (environment.LogAt) {
        environment.LogAt(TLogPriority::kWarning, kEventSource,
                          SlowStatementText(section, peer, elapsed_ms, threshold, sql));
      }
    } catch (...) {
      // Logging never fails the statement.
    }
  };
  return events;
}

}  // namespace velquarn
