#include "service/velquarn_service.h"

#include <cxxabi.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

#include "commands/db_context.h"
#include "common/date_time.h"
#include "common/exceptions.h"
#include "common/ini_file.h"
#include "common/text.h"
#include "dataset/database_list.h"
#include "protocol/connection_errors.h"
#include "service/log_file.h"
#include "service/paths.h"
#include "service/service_notify.h"

namespace velquarn {

namespace {

// A limit of the Settings section: a whole number from minimum up, or the
// default when the key is absent or empty. Anything else stops the start:
// a limit that silently fell back to "none" would leave the door open.
int ReadLimit(const TIniFile& config, const char* key, int fallback, int minimum) {
  const std::string text = Trim(config.ReadString("Settings", key, ""));
  if (text.empty()) return fallback;
  int32_t value = 0;
  if (!TryStrToInt32(text, value) || value < minimum) {
    throw Exception(Format("Settings/%s: '%s' is not a valid value (a whole number from %d on)",
                           key, text.c_str(), minimum));
  }
  return value;
}

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
// Settings/ConfigCommands: a switch that closes a door must not fall back
// to "open" on a typing error, so only these words count.
bool ParseSwitch(std::string_view key, const std::string& value, bool fallback) {
  const std::string text = Trim(value);
  if (text.empty()) return fallback;
  for (const char* on : {"1", "true", "yes", "on"}) {
    if (SameText(text, on)) return true;
  }
  for (const char* off : {"0", "false", "no", "off"}) {
    if (SameText(text, off)) return false;
  }
  throw Exception(Format("Settings/%.*s: '%s' is not 0 or 1", static_cast<int>(key.size()),
                         key.data(), text.c_str()));
}

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
  if (!event_log_path.empty()) event_log_.SetFile(AbsolutePath(event_log_path));
  environment_.ConfigPath = config_path_;
  environment_.LogEvent = [this](const std::string& source, const std::string& text) {
    event_log_.Write(source, text);
  };
  environment_.CheckVersion = [this](const std::string& module, int32_t date) {
    return gate_.Check(module, date);
  };
  server_.SetContextFactory([] { return std::make_unique<TDBContext>(); });
  server_.OnException = [this](TContext* context, const std::exception& error) {
    OnException(context, error);
  };
  server_.OnListenException = [this](const std::exception& error) { OnListenException(error); };
  server_.OnDisconnect = [this](TContext& context) { OnDisconnect(context); };
  server_.OnApplicationError = [this](const std::exception& error) { OnApplicationError(error); };
  server_.OnIdleTimeout = [this](TContext& context) {
    event_log_.Write(kEventSourceServer,
                     Format("Idle connection from %s closed after IdleTimeout (%d s)",
                            context.Connection().PeerName().c_str(), idle_timeout_seconds_));
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

void TVelquarnSvc::ReadConnectionLimits() {
  server_.SetMaxConnections(
      ReadLimit(*config_, "MaxConnections", TCommandServer::kMaxConnections, 1));
  server_.SetMaxConnectionsPerAddress(ReadLimit(*config_, "MaxConnectionsPerAddress", 0, 0));
  idle_timeout_seconds_ = ReadLimit(*config_, "IdleTimeout", 0, 0);
  server_.SetIdleTimeoutMs(idle_timeout_seconds_ > 0 ? SecondsToMs(idle_timeout_seconds_) : 0);
  server_.SetReadTimeoutMs(
      SecondsToMs(ReadLimit(*config_, "ReadTimeout", TCommandServer::kReadTimeoutMs / 1000, 1)));
  const int stop_seconds =
      ReadLimit(*config_, "StopTimeout", TCommandServer::kDefaultStopTimeoutMs / 1000, 1);
  server_.SetStopTimeoutMs(SecondsToMs(stop_seconds));
}

void TVelquarnSvc::Execute() {
  config_ = std::make_unique<TIniFile>(config_path_);
  environment_.Config = config_.get();
  ReadConnectionLimits();
  RefreshVersionList();
  if (!server_.Active()) {
    try {
      server_.ClearBindings();
      long long port = config_->ReadInteger("Settings", "Port", TCommandServer::kDefaultPort);
      if (port < 0 || port > 65535) port = TCommandServer::kDefaultPort;
      server_.SetDefaultPort(static_cast<uint16_t>(port));
      server_.AddBinding(TAddressFamily::kIPv4);
      if (config_->ReadBool("Settings", "IPV6", false)) server_.AddBinding(TAddressFamily::kIPv6);
      long long max_line =
          config_->ReadInteger("Settings", "MaxLineLength", TCommandServer::kDefaultMaxLineLength);
      if (max_line <= 0) max_line = TCommandServer::kDefaultMaxLineLength;
      server_.SetMaxLineLength(static_cast<size_t>(max_line));
    } catch (const std::exception&) {
      // Bindings that could not be set up are left as they are; the server
      // listens on whatever it has.
    }
  }
  ApplyAccessSettings();
  gate_.ReadSettings(*config_);
  environment_.MaxDateDiff = static_cast<int>(gate_.MaxDateDiff());
  if (server_.CommandTable().empty()) server_.SetCommandTable(BuildCommandTable(environment_));
  server_.Activate();
}

void TVelquarnSvc::ApplyAccessSettings() {
  if (!server_.Active()) {
    const std::string listen = config_->ReadString("Settings", "ListenAddress", "");
    if (!Trim(listen).empty()) {
      const bool ipv6 = config_->ReadBool("Settings", "IPV6", false);
      server_.ClearBindings();
      for (const TBinding& binding : ParseListenAddresses("ListenAddress", listen, ipv6)) {
        server_.AddBinding(binding);
      }
    }
    TAddressFilter allowed =
        TAddressFilter::Parse("AllowFrom", config_->ReadString("Settings", "AllowFrom", ""));
    if (allowed.Empty()) {
      server_.SetAcceptFilter(nullptr);
    } else {
      server_.SetAcceptFilter(
          [this, allowed = std::move(allowed)](const std::optional<TIpAddress>& peer) {
            return AllowPeer(allowed, peer);
          });
    }
  }
  environment_.AdminFrom =
      TAddressFilter::Parse("AdminFrom", config_->ReadString("Settings", "AdminFrom", ""));
  environment_.ConfigCommands =
      ParseSwitch("ConfigCommands", config_->ReadString("Settings", "ConfigCommands", ""), true);
}

bool TVelquarnSvc::AllowPeer(const TAddressFilter& allowed, const std::optional<TIpAddress>& peer) {
  if (allowed.Allows(peer)) return true;
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  uint64_t held_back = 0;
  if (refusal_log_limit_.Admit(static_cast<uint64_t>(now.count()), held_back)) {
    std::string text = Format("Connection from %s refused: not in Settings/AllowFrom",
                              peer ? peer->ToString().c_str() : "an unknown address");
    if (held_back > 0) {
      text += Format(" (%llu more refused and not logged before this one)",
                     static_cast<unsigned long long>(held_back));
    }
    event_log_.Write(kEventSourceServer, text);
  }
  return false;
}

void TVelquarnSvc::Stop() {
  server_.Deactivate();
  // Sessions stuck inside a driver still use their databases: the process
  // ends without freeing what they hold (see HasAbandonedSessions).
  if (server_.HasAbandonedThreads()) return;
  FreeDatabaseList();
  environment_.Config = nullptr;
  config_.reset();
}

int TVelquarnSvc::Run(int stop_fd) {
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
  NotifyServiceManager("READY=1");
  using Clock = std::chrono::steady_clock;
  auto next_tick = Clock::now() + std::chrono::milliseconds(kVersionTimerMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_tick - Clock::now());
    pollfd stop{stop_fd, POLLIN, 0};
    int ready = ::poll(&stop, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) break;
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
  Stop();
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
    event_log_.Write(kEventSourceServer, std::string("TCPServerException: ") + error.what());
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
  auto* db_context = dynamic_cast<TDBContext*>(&context);
  if (db_context == nullptr) return;
  try {
    db_context->CloseDatabase();
  } catch (...) {
  }
}

}  // namespace velquarn
