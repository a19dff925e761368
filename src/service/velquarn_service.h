// TVelquarnSvc: the service object. It owns the command server with its
// command table, the configuration loaded at start and the event log, and
// runs the service in the foreground: Execute loads the configuration and
// activates the server, the main thread then waits on the signal descriptor
// (and runs the version timer): SIGHUP reloads the live settings, SIGUSR1
// logs a status entry, SIGUSR2 is ignored, SIGTERM and SIGINT stop. Stop
// deactivates the server and frees what Execute built.
//
// Thread-safety: Run, Execute, Reload and Stop are called from the main
// thread. The configuration and the live settings are published to
// connection threads through the command environment (locked snapshots) and
// the server's live setters; the AllowFrom filter is guarded by
// settings_mutex_. The event log is thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_table.h"
#include "metrics/gateway_metrics.h"
#include "protocol/command_server.h"
#include "service/event_log.h"
#include "service/metrics_endpoint.h"
#include "service/rate_limiter.h"
#include "service/service_settings.h"
#include "service/version_gate.h"
#include "service/worker_pool.h"
#include "service/worker_supervisor.h"

namespace velquarn {

class TIniFile;

class TVelquarnSvc {
 public:
  // The period of the version timer on the main thread; each tick lets the
  // version gate decide whether the list is due for a refresh.
  static constexpr int kVersionTimerMs = kVersionTimerIntervalMs;
  // Process isolation: session workers kept started ahead of clients.
  static constexpr size_t kReadyWorkers = 4;

  // config_path empty: beside the executable. event_log_path empty: syslog
  // only. Sets the process's decimal separator to "." and TDBContext as the
  // server's context class.
  TVelquarnSvc(std::string config_path, std::string event_log_path);
  TVelquarnSvc(const TVelquarnSvc&) = delete;
  TVelquarnSvc& operator=(const TVelquarnSvc&) = delete;
  ~TVelquarnSvc();

  // Runs the service until a stop arrives on signal_fd: a signalfd for
  // SIGTERM, SIGINT, SIGHUP, SIGUSR1 and SIGUSR2 in production; anything
  // readable that is not a signalfd record (a pipe in tests) stops too.
  // Returns the process exit status: 0 after a normal stop; 1 when execute
  // failed ("Service failed on execute: %s" in the event log).
  int Run(int signal_fd);

  // Loads the configuration, refreshes the version list, sets up the
  // bindings and activates the command server. Raises on failure.
  void Execute();
  // Re-reads the configuration file and applies its live settings (every
  // Settings key but Port, IPV6, ListenAddress and MetricsAddress; database sections for
  // the next `open`), logging what changed. A file that cannot be read or
  // holds a value that does not parse changes nothing; the entry says why.
  // Returns whether the file was applied (false before Execute succeeded).
  bool Reload();
  // Deactivates the command server (waiting for every connection thread up
  // to the stop timeout), frees the process-wide database list and the
  // configuration. When sessions were abandoned stuck inside a driver, it
  // frees nothing they may use: the caller must end the process at once
  // (HasAbandonedSessions), without running destructors.
  void Stop();
  bool HasAbandonedSessions() const { return server_.HasAbandonedThreads(); }

  // The binary started as a session worker under Settings/Isolation=process
  // (default: this process's own executable). Set before Execute; for a
  // program that embeds the service.
  void SetWorkerBinary(std::string path) { worker_binary_ = std::move(path); }

  // The worker role (process isolation): loads the configuration, says it
  // is ready on channel, serves the one client session the service hands
  // over there and returns the process exit status. Returns 0 at once when
  // the channel closes before a session came.
  int RunWorker(int channel);

  TCommandServer& Server() { return server_; }
  TEventLog& EventLog() { return event_log_; }
  const std::string& ConfigPath() const { return config_path_; }
  std::string LogPath() const;
  int MaxDateDiff() const { return static_cast<int>(gate_.MaxDateDiff()); }
  const TServiceSettings& Settings() const { return settings_; }
  TVersionGate& VersionGate() { return gate_; }
  // The counters, when Settings/MetricsAddress turned the endpoint on
  // (null otherwise); the endpoint's port. REQUIRES for the port: started
  // with an endpoint.
  const TGatewayMetrics* Metrics() const { return metrics_.get(); }
  uint16_t MetricsPort() const { return metrics_endpoint_->BoundPort(); }
  // Appends a line to the log file beside the configuration.
  void WriteLog(const std::string& message) const;

  // Call points of the client version gate: the refresh at start and the
  // timer tick on the main thread.
  void RefreshVersionList();
  void OnVersionTimer();

  // "Application error: " + class name + ":" CR LF + message.
  static std::string ApplicationErrorText(const std::exception& error);

 private:
  // Reads Settings/Port, IPV6 and ListenAddress into the server's bindings.
  // Raises Exception naming ListenAddress and its value when it does not
  // parse: the service then does not start rather than listen wider.
  void ReadBindings();
  // Reads Settings/MetricsAddress; when it names an address, creates the
  // counters, wires them into the server, the command environment and the
  // version gate, and binds the endpoint (not yet serving). Raises on a
  // value that does not parse or an address that cannot be bound.
  void SetUpMetrics();
  // The endpoint's answer to a GET of path.
  TMetricsEndpoint::TResponse MetricsResponse(std::string_view path) const;
  // Hands the settings to the server, the command environment and the
  // version gate, with the configuration they came from.
  void ApplySettings(const TServiceSettings& settings, std::shared_ptr<const TIniFile> config);
  // Logs, as warnings, what the configuration check finds in the file that
  // makes the service use a default or ignore a line.
  void LogConfigFindings();
  // The accept filter of Settings/AllowFrom; logs refusals, rate-limited.
  bool AllowPeer(const std::optional<TIpAddress>& peer, const std::string& common_name);
  bool AllowBalancer(const std::optional<TIpAddress>& peer);
  // Loads the TLS certificate and key (at start, and again on a reload).
  void ApplyTls(const TServiceSettings& settings);
  // A peer refused by a connection limit; logged, rate-limited.
  void OnRefused(const std::string& peer, const TReply& reply);
  // One refusal entry, unless the rate limit holds it back.
  void LogRefusal(const std::string& text);
  void LogStarted();
  void LogStatus();
  void OnException(TContext* context, const std::exception& error);
  void OnListenException(const std::exception& error);
  void OnDisconnect(TContext& context);
  void OnApplicationError(const std::exception& error);
  void OnStopDeadline(const std::vector<TCommandServer::TStuckSession>& sessions);
  void FreeDatabaseList() noexcept;
  // Settings/Isolation=process: starts the worker pool and hands every
  // session to the supervisor instead of a thread of this process.
  void SetUpIsolation();
  // The worker role's hooks: what the service process learns of each
  // command.
  void ReportCommandBegin(TContext& context, const std::string& line);
  void ReportCommandDone(size_t command, int reply_code, std::chrono::nanoseconds elapsed);
  std::string WorkerCounters() const;
  // The worker role's side of a reload: re-reads the file and applies its
  // live settings, or keeps the ones in force.
  void ReloadWorker();

  std::string config_path_;
  std::string event_log_path_;  // absolute; empty: syslog only
  TEventLog event_log_;
  TVersionGate gate_;
  std::shared_ptr<const TIniFile> config_;
  TServiceSettings settings_;
  // Set up once, before the server is first activated; declared before the
  // server and the environment so that it outlives every connection thread.
  std::unique_ptr<TGatewayMetrics> metrics_;
  TCommandEnvironment environment_;
  TCommandServer server_;
  std::atomic<int> idle_timeout_seconds_ = 0;
  // Set up once, before the server is first activated; it reads only
  // metrics_.
  std::unique_ptr<TMetricsEndpoint> metrics_endpoint_;
  // Process isolation: set up once, at the first start, and stopped after
  // the server (a worker dies with the pool thread that started it).
  std::unique_ptr<TWorkerPool> worker_pool_;
  std::unique_ptr<TWorkerSupervisor> supervisor_;
  // The worker role's channel to the service; -1 in the service itself.
  int worker_channel_ = -1;
  std::string worker_binary_;  // empty: ExecutablePath()
  std::mutex settings_mutex_;
  TAddressFilter allow_from_;  // Guarded by settings_mutex_
  TAddressFilter proxy_from_;  // Guarded by settings_mutex_
  // Refused peers logged: at most kRefusalLogBurst entries a minute.
  static constexpr int kRefusalLogBurst = 10;
  TRateLimiter refusal_log_limit_{kRefusalLogBurst, 60000};
  // At most this many configuration findings are logged at start or reload.
  static constexpr size_t kMaxLoggedFindings = 20;
};

}  // namespace velquarn
