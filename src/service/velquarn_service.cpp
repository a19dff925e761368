#include "service/velquarn_service.h"

#include <cxxabi.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "commands/db_context.h"
#include "common/date_time.h"
#include "common/exceptions.h"
#include "common/ini_file.h"
#include "common/text.h"
#include "dataset/database_list.h"
#include "metrics/text_format.h"
#include "metrics/worker_counters.h"
#include "odbc/odbc_database.h"
#include "odbc/odbc_driver.h"
#include "protocol/connection_errors.h"
#include "service/command_line.h"
#include "service/config_check.h"
#include "service/log_file.h"
#include "service/paths.h"
#include "service/service_notify.h"
#include "service/worker_channel.h"
#include "service/worker_hand_off.h"

namespace velquarn {

namespace {

std::string ClassNameOf(const std::exception& error) {
  if (auto* own = dynamic_cast<const Exception*>(&error)) return own->ClassName();
  const char* mangled = typeid(error).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled != nullptr ? demangled : mangled;
  std::free(demangled);
  return name;
}

int SecondsToMs(int seconds) { return seconds > INT32_MAX / 1000 ? INT32_MAX : seconds * 1000; }

std::string SignalName(uint32_t signal_number) {
  switch (signal_number) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    default:
      return "signal " + std::to_string(signal_number);
  }
}

std::string JoinTexts(const std::vector<std::string>& texts, const char* separator) {
  std::string joined;
  for (const std::string& text : texts) {
    if (!joined.empty()) joined += separator;
    joined += text;
  }
  return joined;
}

// Set by the worker's SIGHUP handler, taken before its next command.
volatile sig_atomic_t worker_reload_requested = 0;

}  // namespace

TVelquarnSvc::TVelquarnSvc(std::string config_path, std::string event_log_path)
    : config_path_(config_path.empty() ? ConfigPathFor(ExecutablePath())
                                       : AbsolutePath(config_path)),
      gate_(
          [this](const std::string& message) { WriteLog(message); },
          [this](const std::string& message) { event_log_.Write(kEventSourceService, message); }) {
  // Numbers always use "."; dates and times follow the regional settings.
  std::setlocale(LC_NUMERIC, "C");
  std::setlocale(LC_TIME, "");
  if (!event_log_path.empty()) {
    event_log_path_ = AbsolutePath(event_log_path);
    event_log_.SetFile(event_log_path_);
  }
  environment_.ConfigPath = config_path_;
  environment_.LogEvent = [this](const std::string& source, const std::string& text) {
    event_log_.Write(source, text);
  };
  environment_.LogAt = [this](TLogPriority priority, const std::string& source,
                              const std::string& text) {
    event_log_.Write(priority, source, text);
  };
  environment_.CheckVersion = [this](const std::string& module, int32_t date) {
    return gate_.Check(module, date);
  };
  server_.SetContextFactory([] { return std::make_unique<TDBContext>(); });
  server_.OnException = [this](TContext* context, const std::exception& error) {
    OnException(context, error);
  };
  server_.OnListenException = [this](const std::exception& error) { OnListenException(error); };
  server_.OnConnect = [this](TContext& /*context*/) {
    if (metrics_ != nullptr) metrics_->ConnectionOpened();
  };
  server_.OnDisconnect = [this](TContext& context) { OnDisconnect(context); };
  server_.OnApplicationError = [this](const std::exception& error) { OnApplicationError(error); };
  server_.OnRefused = [this](const std::string& peer, const TReply& reply) {
    OnRefused(peer, reply);
  };
  // A flood of failed handshakes (a scanner, a plain client on the TLS
  // port) is held to the refusals' rate in the log.
  server_.OnTlsFailure = [this](const std::string& peer, const std::string& reason) {
    LogRefusal(Format("TLS connection from %s closed: %s", peer.c_str(), reason.c_str()));
  };
  server_.SetAcceptFilter(
      [this](const std::optional<TIpAddress>& peer, const std::string& common_name) {
        return AllowPeer(peer, common_name);
      });
  server_.OnIdleTimeout = [this](TContext& context) {
    event_log_.Write(TLogPriority::kInfo, kEventSourceServer,
                     Format("Idle connection from %s closed after IdleTimeout (%d s)",
                            context.Connection().PeerName().c_str(), idle_timeout_seconds_.load()));
  };
  server_.OnStopDeadline = [this](const std::vector<TCommandServer::TStuckSession>& sessions) {
    OnStopDeadline(sessions);
  };
}

TVelquarnSvc::~TVelquarnSvc() { Stop(); }

std::string TVelquarnSvc::LogPath() const { return LogPathFor(config_path_); }

void TVelquarnSvc::WriteLog(const std::string& message) const { WriteLogFile(LogPath(), message); }

// A failed fetch never stops the service: the gate logs it and keeps the
// list it has (empty at start, so every client is accepted).
void TVelquarnSvc::RefreshVersionList() {
  if (config_) gate_.Refresh(*config_);
}

void TVelquarnSvc::OnVersionTimer() {
  if (config_) gate_.Tick(*config_, Now());
}

void TVelquarnSvc::FreeDatabaseList() noexcept {
  try {
    FreeGlobalDatabaseList();
  } catch (...) {
    // A failure while freeing the list at stop changes nothing for the stop.
  }
}

void TVelquarnSvc::ApplySettings(const TServiceSettings& settings,
                                 std::shared_ptr<const TIniFile> config) {
  server_.SetMaxConnections(settings.MaxConnections);
  server_.SetMaxConnectionsPerAddress(settings.MaxConnectionsPerAddress);
  idle_timeout_seconds_ = settings.IdleTimeoutSec;
  server_.SetIdleTimeoutMs(settings.IdleTimeoutSec > 0 ? SecondsToMs(settings.IdleTimeoutSec) : 0);
  server_.SetReadTimeoutMs(SecondsToMs(settings.ReadTimeoutSec));
  server_.SetStopTimeoutMs(SecondsToMs(settings.StopTimeoutSec));
  server_.SetShutdownGraceMs(SecondsToMs(settings.ShutdownGraceSec));
  server_.SetMaxLineLength(settings.MaxLineLength);
  {
    std::scoped_lock lock(settings_mutex_);
    allow_from_ = settings.AllowFrom;
    proxy_from_ = settings.ProxyFrom;
  }
  ApplyTls(settings);
  if (supervisor_ != nullptr) supervisor_->SetHardTimeoutSec(settings.HardTimeoutSec);
  // Whether a PROXY header comes first is fixed while the server listens.
  if (!server_.Active()) {
    server_.SetProxyFilter(
        settings.ProxyProtocol
            ? TCommandServer::TAcceptFilter(
                  [this](const std::optional<TIpAddress>& peer,
                         const std::string& /*common_name*/) { return AllowBalancer(peer); })
            : TCommandServer::TAcceptFilter());
  }
  auto live = std::make_shared<TLiveSettings>();
  live->Config = config;
  live->ConfigCommands = settings.ConfigCommands;
  live->AdminFrom = settings.AdminFrom;
  live->SlowQueryMs = settings.SlowQueryMs;
  live->MaxResultMB = settings.MaxResultMB;
  live->ReadAhead = settings.ReadAhead;
  environment_.SetLive(std::move(live));
  config_ = std::move(config);
  gate_.ReadSettings(*config_);
  settings_ = settings;
}

void TVelquarnSvc::LogConfigFindings() {
  // Only the file's own findings: whether a DSN or driver exists is the
  // driver manager's to say at `open`, and --check-config reports it.
  const TConfigCheckResult result = CheckConfigFile(config_path_, false, false);
  size_t logged = 0;
  for (const TConfigFinding& finding : result.Findings) {
    if (logged == kMaxLoggedFindings) {
      event_log_.Write(TLogPriority::kWarning, kEventSourceService,
                       Format("Configuration: %zu more finding(s); run velquarn --check-config",
                              result.Findings.size() - logged));
      break;
    }
    event_log_.Write(TLogPriority::kWarning, kEventSourceService,
                     "Configuration: " + FormatFinding(config_path_, finding));
    ++logged;
  }
}

void TVelquarnSvc::ReadBindings() {
  server_.ClearBindings();
  long long port = config_->ReadInteger("Settings", "Port", TCommandServer::kDefaultPort);
  if (port < 0 || port > 65535) port = TCommandServer::kDefaultPort;
  server_.SetDefaultPort(static_cast<uint16_t>(port));
  const bool ipv6 = config_->ReadBool("Settings", "IPV6", false);
  const std::string listen = config_->ReadString("Settings", "ListenAddress", "");
  std::vector<TBinding> addresses;
  if (Trim(listen).empty()) {
    addresses.emplace_back(TAddressFamily::kIPv4);
    if (ipv6) addresses.emplace_back(TAddressFamily::kIPv6);
  } else {
    addresses = ParseListenAddresses("ListenAddress", listen, ipv6);
  }
  // The plain port and the TLS port listen on the same addresses.
  if (settings_.PlainPort != 0) {
    for (TBinding binding : addresses) {
      if (settings_.PlainPort > 0) binding.port = static_cast<uint16_t>(settings_.PlainPort);
      server_.AddBinding(binding);
    }
  }
  if (settings_.TlsPort > 0) {
    for (TBinding binding : addresses) {
      binding.port = static_cast<uint16_t>(settings_.TlsPort);
      binding.tls = true;
      server_.AddBinding(binding);
    }
  }
}

void TVelquarnSvc::ApplyTls(const TServiceSettings& settings) {
  // A worker is handed the service's context with each TLS session.
  if (worker_channel_ >= 0) return;
  if (settings.TlsPort == 0 && settings_.TlsPort == 0) return;
  try {
    server_.SetTlsContext(TTlsContext::Server(settings.Tls));
  } catch (const ETlsError& error) {
    // At start the service cannot serve TLS without them; on a reload the
    // certificate and key in force keep serving.
    if (!server_.Active()) throw;
    event_log_.Write(TLogPriority::kErr, kEventSourceService,
                     Format("Reload of %s: TLS certificate and key not replaced, the ones in force "
                            "stay: %s",
                            config_path_.c_str(), error.what()));
  }
}

void TVelquarnSvc::Execute() {
  LogConfigFindings();
  auto config = std::make_shared<const TIniFile>(config_path_);
  const TServiceSettings settings = ReadServiceSettings(*config);
  ApplySettings(settings, std::move(config));
  if (server_.CommandTable().empty()) server_.SetCommandTable(BuildCommandTable(environment_));
  if (!server_.Active() && metrics_ == nullptr) SetUpMetrics();
  RefreshVersionList();
  if (!server_.Active()) ReadBindings();
  environment_.MaxDateDiff = static_cast<int>(gate_.MaxDateDiff());
  if (!server_.Active() && settings_.ProcessIsolation && worker_pool_ == nullptr) SetUpIsolation();
  if (worker_pool_ != nullptr) {
    supervisor_->Reset();
    worker_pool_->Start();
  }
  server_.Activate();
}

void TVelquarnSvc::SetUpIsolation() {
  std::vector<std::string> arguments = {"--worker", std::to_string(TWorkerPool::kWorkerChannelFd),
                                        "--config", config_path_};
  if (!event_log_path_.empty()) {
    arguments.emplace_back("--event-log");
    arguments.push_back(event_log_path_);
  }
  worker_pool_ = std::make_unique<TWorkerPool>(
      worker_binary_.empty() ? ExecutablePath() : worker_binary_, std::move(arguments),
      kReadyWorkers,
      [this](const std::string& text) { event_log_.Write(kEventSourceService, text); });
  supervisor_ = std::make_unique<TWorkerSupervisor>(*worker_pool_, event_log_,
                                                    [this] { return gate_.List().Snapshot(); });
  supervisor_->SetMetrics(metrics_.get());
  supervisor_->SetTlsSource([this] { return server_.TlsContext(); });
  supervisor_->SetHardTimeoutSec(settings_.HardTimeoutSec);
  TWorkerSupervisor* supervisor = supervisor_.get();
  server_.SetSessionHandOff([this, supervisor](TContext& context, bool tls) {
    if (metrics_ != nullptr) metrics_->ConnectionOpened();
    supervisor->Serve(context, tls);
    if (metrics_ != nullptr) metrics_->ConnectionClosed();
  });
  server_.OnGraceEnded = [supervisor] { supervisor->CutOff(); };
}

int TVelquarnSvc::RunWorker(int channel) {
  worker_channel_ = channel;
  // SIGHUP from the service: its configuration was reloaded.
  struct sigaction reload {};
  reload.sa_handler = [](int) { worker_reload_requested = 1; };
  sigemptyset(&reload.sa_mask);
  reload.sa_flags = SA_RESTART;
  ::sigaction(SIGHUP, &reload, nullptr);
  auto config = std::make_shared<const TIniFile>(config_path_);
  const TServiceSettings settings = ReadServiceSettings(*config);
  ApplySettings(settings, std::move(config));
  server_.SetCommandTable(BuildCommandTable(environment_));
  if (ParseMetricsAddress(config_->ReadString("Settings", "MetricsAddress", ""))) {
    // Counted here, summed by the service from the reports on the channel.
    metrics_ = std::make_unique<TGatewayMetrics>(VersionNumber(), 0);
    metrics_->SetCommandNames(server_.CommandWords());
    environment_.Metrics = metrics_.get();
    server_.SetTrafficCounters(&metrics_->bytes_received, &metrics_->bytes_sent);
  }
  environment_.MaxDateDiff = static_cast<int>(gate_.MaxDateDiff());
  server_.OnConnect = nullptr;
  server_.OnCommandBegin = [this](TContext& context, const std::string& line) {
    ReportCommandBegin(context, line);
  };
  server_.OnCommandDone = [this](size_t command, int reply_code, std::chrono::nanoseconds elapsed) {
    ReportCommandDone(command, reply_code, elapsed);
  };
  // Rows read ahead after a `get` come from the driver too: the service's
  // hard timeout covers them as it covers a command, and an empty report
  // ends them without counting a command.
  server_.OnIdleWork = [this](TContext& context, const std::string& line, bool running) {
    if (running) {
      ReportCommandBegin(context, line);
    } else {
      SendWorkerMessage(worker_channel_, TWorkerMessageKind::kDone, "");
    }
  };
  try {
    SendWorkerMessage(channel, TWorkerMessageKind::kReady, "");
  } catch (const ESocketError&) {
    return 0;  // retired before it was ready: a reload or a stop
  }
  TWorkerMessage message;
  if (ReceiveWorkerMessage(channel, -1, message) != TWorkerReceive::kMessage ||
      message.kind != TWorkerMessageKind::kHandOff || !message.socket.Valid()) {
    return 0;
  }
  std::shared_ptr<const TTlsContext> tls;
  std::optional<TIpAddress> peer;
  TWorkerHandOff hand_off;
  try {
    hand_off = DecodeWorkerHandOff(message.text);
    if (hand_off.Tls) tls = TTlsContext::ServerFromPem(hand_off.TlsPem);
    peer = ParseIpAddress(hand_off.PeerAddress);
  } catch (const std::exception& error) {
    // Nothing the service sends should fail here; the client's connection
    // closes and the service logs the worker's end.
    event_log_.Write(TLogPriority::kErr, kEventSourceService,
                     std::string("Worker cannot take its session: ") + error.what());
    return 1;
  }
  gate_.List().Assign(std::move(hand_off.VersionLines));
  server_.ServeSession(std::move(message.socket), std::move(tls), peer, hand_off.PeerName);
  try {
    SendWorkerMessage(channel, TWorkerMessageKind::kEnd, WorkerCounters());
  } catch (const std::exception&) {
    // The service is gone; nobody counts any more.
  }
  return 0;
}

void TVelquarnSvc::ReloadWorker() {
  // The service has logged the reload and what was wrong with the file;
  // a worker only follows it, quietly.
  try {
    TIniFile::ReadFileText(config_path_);
    auto config = std::make_shared<const TIniFile>(config_path_);
    const TServiceSettings settings = ReadServiceSettings(*config);
    ApplySettings(settings, std::move(config));
    environment_.MaxDateDiff = static_cast<int>(gate_.MaxDateDiff());
  } catch (const std::exception&) {
  }
}

std::string TVelquarnSvc::WorkerCounters() const {
  return metrics_ != nullptr ? EncodeWorkerCounters(*metrics_) : std::string();
}

void TVelquarnSvc::ReportCommandBegin(TContext& context, const std::string& line) {
  if (worker_reload_requested != 0) {
    worker_reload_requested = 0;
    ReloadWorker();
  }
  int query_timeout = 0;
  std::string section;
  if (auto* db_context = dynamic_cast<TDBContext*>(&context)) {
    section = db_context->SectionName();
    if (db_context->Database() != nullptr) {
      if (TcsODBCDriver* driver = db_context->Database()->ODBCDriver()) {
        query_timeout = driver->QueryTimeout();
      }
    }
  }
  SendWorkerMessage(worker_channel_, TWorkerMessageKind::kBegin,
                    Format("%d\t%s\t%s", query_timeout, section.c_str(), line.c_str()));
}

void TVelquarnSvc::ReportCommandDone(size_t command, int reply_code,
                                     std::chrono::nanoseconds elapsed) {
  const long long index =
      command == TCommandServer::kNoCommand ? -1 : static_cast<long long>(command);
  SendWorkerMessage(
      worker_channel_, TWorkerMessageKind::kDone,
      Format("%lld\t%d\t%lld\n", index, reply_code, static_cast<long long>(elapsed.count())) +
          WorkerCounters());
}

void TVelquarnSvc::SetUpMetrics() {
  const std::optional<TMetricsAddress> address =
      ParseMetricsAddress(config_->ReadString("Settings", "MetricsAddress", ""));
  if (!address) return;
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  auto metrics = std::make_unique<TGatewayMetrics>(VersionNumber(), now);
  metrics->SetCommandNames(server_.CommandWords());
  auto endpoint = std::make_unique<TMetricsEndpoint>(
      *address, [this](std::string_view path) { return MetricsResponse(path); });
  metrics_ = std::move(metrics);
  try {
    endpoint->Start();
  } catch (const std::exception& error) {
    metrics_.reset();
    throw Exception(Format("Settings/MetricsAddress: cannot listen on %s:%u: %s",
                           address->address.ToString().c_str(), address->port, error.what()));
  }
  metrics_endpoint_ = std::move(endpoint);
  TGatewayMetrics* metrics_ptr = metrics_.get();
  environment_.Metrics = metrics_ptr;
  server_.SetTrafficCounters(&metrics_ptr->bytes_received, &metrics_ptr->bytes_sent);
  server_.OnCommandDone = [metrics_ptr](size_t command, int reply_code,
                                        std::chrono::nanoseconds elapsed) {
    metrics_ptr->CommandDone(
        command == TCommandServer::kNoCommand ? TGatewayMetrics::kUnknownCommand : command,
        reply_code, std::chrono::duration<double>(elapsed).count());
  };
  gate_.OnFetched = [metrics_ptr](TRefreshResult result) {
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    metrics_ptr->VersionListFetched(result == TRefreshResult::kFetched ? TVersionFetchResult::kOk
                                    : result == TRefreshResult::kHttpError
                                        ? TVersionFetchResult::kHttpError
                                        : TVersionFetchResult::kFailed,
                                    now);
  };
}

TMetricsEndpoint::TResponse TVelquarnSvc::MetricsResponse(std::string_view path) const {
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  TMetricsEndpoint::TResponse response;
  if (path == "/metrics") {
    response.status = 200;
    response.content_type = std::string(kTextFormatContentType);
    response.body = metrics_->RenderText(now);
  } else if (path == "/status") {
    response.status = 200;
    response.content_type = "application/json";
    response.body = metrics_->RenderStatusJson(now) + "\n";
  }
  return response;
}

bool TVelquarnSvc::Reload() {
  // Only a running service has settings to replace.
  if (config_ == nullptr) return false;
  std::shared_ptr<const TIniFile> config;
  TServiceSettings settings;
  try {
    // A file that has gone or cannot be read is a mistake to report, not an
    // empty configuration to apply.
    TIniFile::ReadFileText(config_path_);
    config = std::make_shared<const TIniFile>(config_path_);
    settings = ReadServiceSettings(*config);
  } catch (const std::exception& error) {
    event_log_.Write(kEventSourceService,
                     Format("Reload of %s failed, the settings in force stay: %s",
                            config_path_.c_str(), error.what()));
    return false;
  }
  LogConfigFindings();
  const std::vector<std::string> changes = SettingChanges(settings_, settings);
  const std::vector<std::string> restart_only = RestartOnlyChanges(*config_, *config);
  const bool url_changed = settings.UpdateURL != settings_.UpdateURL;
  ApplySettings(settings, std::move(config));
  // Sessions in workers re-read the file before their next command; told
  // before the entry below, so that whoever waits for it finds them told.
  if (supervisor_ != nullptr) supervisor_->SignalServing(SIGHUP);
  event_log_.Write(
      TLogPriority::kInfo, kEventSourceService,
      Format("Reload of %s: %s", config_path_.c_str(),
             changes.empty() ? "no live setting changed" : JoinTexts(changes, ", ").c_str()));
  if (!restart_only.empty()) {
    event_log_.Write(TLogPriority::kWarning, kEventSourceService,
                     Format("Reload of %s: %s changed in the file; that takes a restart",
                            config_path_.c_str(), JoinTexts(restart_only, ", ").c_str()));
  }
  if (url_changed) RefreshVersionList();
  // Waiting workers read the file when they started: they make way for
  // ones that read it now.
  if (worker_pool_ != nullptr) worker_pool_->Renew();
  return true;
}

bool TVelquarnSvc::AllowPeer(const std::optional<TIpAddress>& peer,
                             const std::string& common_name) {
  {
    std::scoped_lock lock(settings_mutex_);
    if (allow_from_.Allows(peer, common_name)) return true;
  }
  if (metrics_ != nullptr) metrics_->ConnectionRefused(TRefusalReason::kAllowFrom);
  LogRefusal(Format("Connection from %s refused: not in Settings/AllowFrom",
                    peer ? peer->ToString().c_str() : "an unknown address"));
  return false;
}

bool TVelquarnSvc::AllowBalancer(const std::optional<TIpAddress>& peer) {
  {
    std::scoped_lock lock(settings_mutex_);
    if (proxy_from_.Allows(peer)) return true;
  }
  LogRefusal(Format("Connection from %s refused: not in Settings/ProxyFrom",
                    peer ? peer->ToString().c_str() : "an unknown address"));
  return false;
}

void TVelquarnSvc::OnRefused(const std::string& peer, const TReply& reply) {
  if (metrics_ != nullptr) {
    metrics_->ConnectionRefused(&reply == &server_.MaxAddressConnectionReply()
                                    ? TRefusalReason::kMaxConnectionsPerAddress
                                    : TRefusalReason::kMaxConnections);
  }
  const std::string text = reply.Text().empty() ? std::string() : reply.Text().front();
  LogRefusal(Format("Connection from %s refused: %s", peer.c_str(), text.c_str()));
}

void TVelquarnSvc::LogRefusal(const std::string& text) {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  uint64_t held_back = 0;
  if (!refusal_log_limit_.Admit(static_cast<uint64_t>(now.count()), held_back)) return;
  std::string entry = text;
  if (held_back > 0) {
    entry += Format(" (%llu more refused and not logged before this one)",
                    static_cast<unsigned long long>(held_back));
  }
  event_log_.Write(TLogPriority::kWarning, kEventSourceServer, entry);
}

void TVelquarnSvc::LogStarted() {
  std::vector<std::string> addresses;
  for (size_t i = 0; i < server_.Bindings().size(); ++i) {
    const TBinding& binding = server_.Bindings()[i];
    addresses.push_back(Format("%s:%u%s", binding.ToString().c_str(), server_.BoundPort(i),
                               binding.tls ? " (TLS)" : ""));
  }
  std::string metrics;
  if (metrics_endpoint_ != nullptr) {
    metrics = Format(", metrics on port %u", metrics_endpoint_->BoundPort());
  }
  event_log_.Write(
      TLogPriority::kInfo, kEventSourceService,
      Format("Service started: velquarn %s, configuration %s, listening on %s%s", VersionNumber(),
             config_path_.c_str(), JoinTexts(addresses, ", ").c_str(), metrics.c_str()));
}

void TVelquarnSvc::LogStatus() {
  event_log_.Write(TLogPriority::kInfo, kEventSourceService,
                   Format("Status: %d connection(s) open, configuration %s",
                          server_.ConnectionCount(), config_path_.c_str()));
}

void TVelquarnSvc::Stop() {
  if (metrics_endpoint_ != nullptr) metrics_endpoint_->Stop();
  server_.Deactivate();
  if (worker_pool_ != nullptr) worker_pool_->Stop();
  // Sessions stuck inside a driver still use their databases: the process
  // ends without freeing what they hold (see HasAbandonedSessions).
  if (server_.HasAbandonedThreads()) return;
  FreeDatabaseList();
  environment_.SetLive(std::make_shared<const TLiveSettings>());
  config_.reset();
}

int TVelquarnSvc::Run(int signal_fd) {
  try {
    Execute();
  } catch (const std::exception& error) {
    event_log_.Write(kEventSourceService, Format("Service failed on execute: %s", error.what()));
    // Whoever started the service by hand, or journald for systemd, sees
    // why it did not start without looking in the system log.
    std::fprintf(stderr, "velquarn: Service failed on execute: %s\n", error.what());
    Stop();
    return 1;
  }
  LogStarted();
  NotifyServiceManager("READY=1");
  using Clock = std::chrono::steady_clock;
  auto next_tick = Clock::now() + std::chrono::milliseconds(kVersionTimerMs);
  std::string reason = "stop requested";
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_tick - Clock::now());
    pollfd signals{signal_fd, POLLIN, 0};
    int ready = ::poll(&signals, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      signalfd_siginfo info{};
      const ssize_t got = ::read(signal_fd, &info, sizeof(info));
      if (got < 0 && errno == EINTR) continue;
      // Anything but a whole signalfd record is a plain stop request.
      if (got != static_cast<ssize_t>(sizeof(info))) break;
      if (info.ssi_signo == SIGHUP) {
        Reload();
      } else if (info.ssi_signo == SIGUSR1) {
        LogStatus();
      } else if (info.ssi_signo != SIGUSR2) {
        reason = SignalName(info.ssi_signo);
        break;
      }
      continue;
    }
    if (Clock::now() >= next_tick) {
      // After a long stall the timer skips the missed ticks instead of
      // firing them in a burst.
      const auto period = std::chrono::milliseconds(kVersionTimerMs);
      next_tick = std::max(next_tick + period, Clock::now() + period / 2);
      try {
        OnVersionTimer();
      } catch (const std::exception& error) {
        OnApplicationError(error);
      }
    }
  }
  NotifyServiceManager("STOPPING=1");
  const int open_connections = server_.ConnectionCount();
  if (settings_.ShutdownGraceSec > 0 && open_connections > 0) {
    event_log_.Write(TLogPriority::kInfo, kEventSourceService,
                     Format("Service stopping on %s: %d connection(s) open; running commands "
                            "may finish within ShutdownGraceSec (%d s)",
                            reason.c_str(), open_connections, settings_.ShutdownGraceSec));
  }
  Stop();
  event_log_.Write(
      TLogPriority::kInfo, kEventSourceService,
      Format("Service stopped on %s: %d connection(s) closed", reason.c_str(), open_connections));
  return 0;
}

std::string TVelquarnSvc::ApplicationErrorText(const std::exception& error) {
  return "Application error: " + ClassNameOf(error) + ":\r\n" + error.what();
}

void TVelquarnSvc::OnApplicationError(const std::exception& error) {
  event_log_.Write(kEventSourceService, ApplicationErrorText(error));
}

void TVelquarnSvc::OnException(TContext* context, const std::exception& error) {
  // An over-long line closes its connection; the operator learns why.
  if (dynamic_cast<const ELineTooLong*>(&error) != nullptr ||
      dynamic_cast<const EReadTimeout*>(&error) != nullptr) {
    event_log_.Write(TLogPriority::kWarning, kEventSourceServer,
                     std::string("TCPServerException: ") + error.what());
    return;
  }
  if (dynamic_cast<const EConnectionError*>(&error) != nullptr ||
      SameText(Trim(error.what()), "Disconnected.")) {
    return;
  }
  if (context == nullptr) return;
  auto* db_context = dynamic_cast<TDBContext*>(context);
  if (db_context != nullptr && db_context->Query() != nullptr) {
    try {
      db_context->CloseQuery();
      return;
    } catch (const std::exception&) {
    }
  }
  event_log_.Write(kEventSourceServer, std::string("TCPServerException: ") + error.what());
}

void TVelquarnSvc::OnStopDeadline(const std::vector<TCommandServer::TStuckSession>& sessions) {
  for (const auto& session : sessions) {
    const std::string command =
        session.command.empty() ? "(between commands)" : session.command.substr(0, 200);
    event_log_.Write(kEventSourceService,
                     Format("Stop: session from %s still running after StopTimeout, for %.0f s, "
                            "in: %s",
                            session.peer.c_str(), session.seconds, command.c_str()));
  }
  event_log_.Write(kEventSourceService,
                   Format("Stop: %zu session(s) stuck inside a driver call; the process exits "
                          "without waiting for them",
                          sessions.size()));
}

void TVelquarnSvc::OnListenException(const std::exception& error) {
  if (dynamic_cast<const EAbort*>(&error) != nullptr ||
      dynamic_cast<const ESocketError*>(&error) != nullptr) {
    return;
  }
  event_log_.Write(kEventSourceServer, std::string("TCPListenException occured: ") + error.what());
}

void TVelquarnSvc::OnDisconnect(TContext& context) {
  if (metrics_ != nullptr) metrics_->ConnectionClosed();
  auto* db_context = dynamic_cast<TDBContext*>(&context);
  if (db_context == nullptr) return;
  try {
    db_context->CloseDatabase();
  } catch (...) {
  }
}

}  // namespace velquarn
