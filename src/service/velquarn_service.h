// TVelquarnSvc: the service object. It owns the command server with its
// command table, the configuration loaded at start and the event log, and
// runs the service in the foreground: Execute loads the configuration and
// activates the server, the main thread then waits for SIGTERM or SIGINT
// (and runs the version timer), and Stop deactivates the server and
// frees what Execute built.
//
// Thread-safety: Run, Execute and Stop are called from the main thread. The
// configuration and MaxDateDiff are written before the server is activated
// and only read by connection threads afterwards. The event log is
// thread-safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "commands/command_table.h"
#include "protocol/command_server.h"
#include "service/event_log.h"
#include "service/rate_limiter.h"
#include "service/version_gate.h"

namespace velquarn {

class TIniFile;

class TVelquarnSvc {
 public:
  // The period of the version timer on the main thread; each tick lets the
  // version gate decide whether the list is due for a refresh.
  static constexpr int kVersionTimerMs = kVersionTimerIntervalMs;

  // config_path empty: beside the executable. event_log_path empty: syslog
  // only. Sets the process's decimal separator to "." and TDBContext as the
  // server's context class.
  TVelquarnSvc(std::string config_path, std::string event_log_path);
  TVelquarnSvc(const TVelquarnSvc&) = delete;
  TVelquarnSvc& operator=(const TVelquarnSvc&) = delete;
  ~TVelquarnSvc();

  // Runs the service until stop_fd becomes readable (a signalfd for SIGTERM
  // and SIGINT in production). Returns the process exit status: 0 after a
  // normal stop; 1 when execute failed ("Service failed on execute: %s" in
  // the event log).
  int Run(int stop_fd);

  // Loads the configuration, refreshes the version list, sets up the
  // bindings and activates the command server. Raises on failure.
  void Execute();
  // Deactivates the command server (waiting for every connection thread up
  // to the stop timeout), frees the process-wide database list and the
  // configuration. When sessions were abandoned stuck inside a driver, it
  // frees nothing they may use: the caller must end the process at once
  // (HasAbandonedSessions), without running destructors.
  void Stop();
  bool HasAbandonedSessions() const { return server_.HasAbandonedThreads(); }

  TCommandServer& Server() { return server_; }
  TEventLog& EventLog() { return event_log_; }
  const std::string& ConfigPath() const { return config_path_; }
  std::string LogPath() const;
  int MaxDateDiff() const { return environment_.MaxDateDiff; }
  TVersionGate& VersionGate() { return gate_; }
  // Appends a line to the log file beside the configuration.
  void WriteLog(const std::string& message) const;

  // Call points of the client version gate: the refresh at start and the
  // timer tick on the main thread.
  void RefreshVersionList();
  void OnVersionTimer();

  // "Application error: " + class name + ":" CR LF + message.
  static std::string ApplicationErrorText(const std::exception& error);

 private:
  // Reads Settings/ListenAddress, AllowFrom, AdminFrom and ConfigCommands
  // into the server and the command environment. Raises Exception naming the
  // key and the value when one does not parse: the service then does not
  // start rather than listen wider or admit more peers than configured.
  void ApplyAccessSettings();
  // The accept filter of Settings/AllowFrom; logs refusals, rate-limited.
  bool AllowPeer(const TAddressFilter& allowed, const std::optional<TIpAddress>& peer);
  void OnException(TContext* context, const std::exception& error);
  void OnListenException(const std::exception& error);
  void OnDisconnect(TContext& context);
  void OnApplicationError(const std::exception& error);
  void OnStopDeadline(const std::vector<TCommandServer::TStuckSession>& sessions);
  // MaxConnections, MaxConnectionsPerAddress, IdleTimeout, ReadTimeout and
  // StopTimeout of the Settings section; raises Exception naming a bad value.
  void ReadConnectionLimits();
  void FreeDatabaseList() noexcept;

  std::string config_path_;
  TEventLog event_log_;
  TVersionGate gate_;
  std::unique_ptr<TIniFile> config_;
  TCommandEnvironment environment_;
  TCommandServer server_;
  int idle_timeout_seconds_ = 0;
  // Refused peers logged: at most kRefusalLogBurst entries a minute.
  static constexpr int kRefusalLogBurst = 10;
  TRateLimiter refusal_log_limit_{kRefusalLogBurst, 60000};
};

}  // namespace velquarn
