#include "service/worker_supervisor.h"

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <thread>

#include "common/text.h"
#include "metrics/gateway_metrics.h"
#include "metrics/worker_counters.h"
#include "protocol/command_server.h"
#include "service/worker_channel.h"
#include "service/worker_hand_off.h"

namespace velquarn {

namespace {

using Clock = std::chrono::steady_clock;

// The command text an entry shows: long statements are cut.
constexpr size_t kLoggedCommandLength = 200;

std::string SignalText(int signal_number) {
  switch (signal_number) {
    case SIGSEGV:
      return "signal 11 (SIGSEGV)";
    case SIGABRT:
      return "signal 6 (SIGABRT)";
    case SIGBUS:
      return "signal 7 (SIGBUS)";
    case SIGFPE:
      return "signal 8 (SIGFPE)";
    case SIGILL:
      return "signal 4 (SIGILL)";
    case SIGKILL:
      return "signal 9 (SIGKILL)";
    case SIGTERM:
      return "signal 15 (SIGTERM)";
    default:
      return Format("signal %d", signal_number);
  }
}

// The fields of a tab-separated text; the last takes the rest.
std::vector<std::string_view> SplitFields(std::string_view text, size_t count) {
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < count) {
    const size_t tab = text.find('\t');
    if (tab == std::string_view::npos) break;
    fields.push_back(text.substr(0, tab));
    text.remove_prefix(tab + 1);
  }
  fields.push_back(text);
  return fields;
}

long long ToNumber(std::string_view text) {
  long long value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

struct TWorkerSupervisor::TSession {
  TWorker worker;
  std::string peer;
  bool handed_over = false;
  bool killed = false;
  bool killed_at_stop = false;
  std::string section;
  std::string command;  // empty between commands
  Clock::time_point command_since;
  Clock::time_point deadline = Clock::time_point::max();
  TWorkerCounters counters;
};

TWorkerSupervisor::TWorkerSupervisor(TWorkerPool& pool, TEventLog& event_log,
                                     TVersionLines version_lines)
    : pool_(pool), event_log_(event_log), version_lines_(std::move(version_lines)) {}

std::string TWorkerSupervisor::HandOffText(const TContext& context, bool tls) const {
  const TConnection& connection = context.Connection();
  TWorkerHandOff hand_off;
  hand_off.PeerName = connection.PeerName();
  if (connection.PeerAddress()) hand_off.PeerAddress = connection.PeerAddress()->ToString();
  if (tls && tls_source_) {
    if (const std::shared_ptr<const TTlsContext> context_in_force = tls_source_()) {
      hand_off.Tls = true;
      hand_off.TlsPem = context_in_force->Pem();
    }
  }
  if (version_lines_) {
    if (auto lines = version_lines_()) hand_off.VersionLines = *lines;
  }
  return EncodeWorkerHandOff(hand_off);
}

void TWorkerSupervisor::EnterStart() {
  std::unique_lock lock(start_mutex_);
  const uint64_t ticket = start_tickets_++;
  start_turn_.wait(lock, [&] { return ticket < starts_done_ + kParallelStarts; });
}

void TWorkerSupervisor::LeaveStart() {
  std::scoped_lock lock(start_mutex_);
  ++starts_done_;
  start_turn_.notify_all();
}

void TWorkerSupervisor::SignalServing(int signal_number) {
  std::scoped_lock lock(serving_mutex_);
  for (pid_t pid : serving_) ::kill(pid, signal_number);
}

void TWorkerSupervisor::Serve(TContext& context, bool tls) {
  TSession session;
  session.peer = context.Connection().PeerName();
  EnterStart();
  bool starting = true;
  const auto start_done = [&] {
    if (starting) LeaveStart();
    starting = false;
  };
  try {
    session.worker = pool_.Take();
  } catch (const std::exception& error) {
    start_done();
    event_log_.Write(kEventSourceServer,
                     Format("Session from %s not served: %s", session.peer.c_str(), error.what()));
    context.Connection().Close();
    return;
  }
  const int channel = session.worker.channel.Fd();
  const auto start_deadline = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  for (;;) {
    TWorkerMessage message;
    const TWorkerReceive received = ReceiveWorkerMessage(channel, kTickMs, message);
    if (received == TWorkerReceive::kClosed) break;
    if (received == TWorkerReceive::kMessage) {
      if (message.kind == TWorkerMessageKind::kReady && !session.handed_over) {
        try {
          SendWorkerMessage(channel, TWorkerMessageKind::kHandOff, HandOffText(context, tls),
                            context.Connection().Socket().Fd());
          session.handed_over = true;
          start_done();
          std::scoped_lock lock(serving_mutex_);
          serving_.insert(session.worker.pid);
        } catch (const std::exception&) {
          break;  // the worker is gone; its end is reaped below
        }
      } else {
        OnMessage(session, context, message);
      }
      continue;
    }
    if (session.killed) continue;
    const auto now = Clock::now();
    if (cut_off_) {
      session.killed_at_stop = true;
      Kill(session, "stop");
    } else if (!session.handed_over && now >= start_deadline) {
      Kill(session, "start");
      event_log_.Write(kEventSourceServer,
                       Format("Session worker process %d did not start within %d s; the session "
                              "from %s is closed",
                              session.worker.pid, kStartTimeoutMs / 1000, session.peer.c_str()));
    } else if (!session.command.empty() && now >= session.deadline) {
      const double seconds = std::chrono::duration<double>(now - session.command_since).count();
      Kill(session, "hard timeout");
      event_log_.Write(
          kEventSourceServer,
          Format("Session worker process %d killed: the command of the session from %s ran "
                 "%.0f s, past QueryTimeout + HardTimeoutSec (%d s), in section [%s]: %s",
                 session.worker.pid, session.peer.c_str(), seconds, hard_timeout_sec_.load(),
                 session.section.c_str(), session.command.c_str()));
    }
  }
  start_done();
  {
    // Out of the list before it is reaped, while its pid cannot be reused.
    std::scoped_lock lock(serving_mutex_);
    serving_.erase(session.worker.pid);
  }
  Reap(session);
  context.Connection().Close();
  if (metrics_ != nullptr) session.counters.Retire(*metrics_);
}

void TWorkerSupervisor::OnMessage(TSession& session, TContext& context, TWorkerMessage& message) {
  switch (message.kind) {
    case TWorkerMessageKind::kBegin: {
      // "<QueryTimeout s>\t<section>\t<command line>"
      const auto fields = SplitFields(message.text, 3);
      if (fields.size() < 3) return;
      const long long query_timeout = ToNumber(fields[0]);
      session.section = std::string(fields[1]);
      session.command = std::string(fields[2].substr(0, kLoggedCommandLength));
      if (session.command.empty()) session.command = " ";
      session.command_since = Clock::now();
      const int hard = hard_timeout_sec_;
      session.deadline = query_timeout > 0 && hard > 0
                             ? session.command_since + std::chrono::seconds(query_timeout + hard)
                             : Clock::time_point::max();
      // A stop began while the line travelled: it runs, but is the last.
      if (!context.BeginCommand(std::string(fields[2]))) context.Connection().Shutdown();
      return;
    }
    case TWorkerMessageKind::kDone: {
      // "<command index>\t<reply code>\t<nanoseconds>\n<counters>"; empty at
      // the end of a command's read-ahead, which counts no command.
      const size_t line_end = message.text.find('\n');
      const std::string_view head = std::string_view(message.text).substr(0, line_end);
      const auto fields = SplitFields(head, 3);
      if (metrics_ != nullptr && fields.size() == 3) {
        const long long index = ToNumber(fields[0]);
        metrics_->CommandDone(
            index < 0 ? TGatewayMetrics::kUnknownCommand : static_cast<size_t>(index),
            static_cast<int>(ToNumber(fields[1])), static_cast<double>(ToNumber(fields[2])) / 1e9);
        if (line_end != std::string::npos) {
          session.counters.Merge(std::string_view(message.text).substr(line_end + 1), *metrics_);
        }
      }
      if (!session.command.empty()) {
        session.command.clear();
        session.deadline = Clock::time_point::max();
        context.EndCommand();
      }
      // A graceful stop let this command finish; the session ends now.
      if (context.Draining()) context.Connection().Shutdown();
      return;
    }
    case TWorkerMessageKind::kEnd:
      if (metrics_ != nullptr) session.counters.Merge(message.text, *metrics_);
      return;
    default:
      return;
  }
}

void TWorkerSupervisor::Kill(TSession& session, const char* /*reason*/) {
  session.killed = true;
  ::kill(session.worker.pid, SIGKILL);
}

void TWorkerSupervisor::Reap(TSession& session) {
  int status = 0;
  const auto give_up = Clock::now() + std::chrono::milliseconds(kExitTimeoutMs);
  for (;;) {
    const pid_t result = ::waitpid(session.worker.pid, &status, WNOHANG);
    if (result == session.worker.pid) break;
    if (result < 0 && errno != EINTR) return;
    if (Clock::now() >= give_up && !session.killed) {
      // The session is over but the worker hangs on its way out (a
      // driver's cleanup): it has nothing left to finish.
      Kill(session, "exit");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  LogEnd(session, status);
}

void TWorkerSupervisor::LogEnd(const TSession& session, int status) {
  const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (clean) return;
  const std::string running =
      session.command.empty() ? std::string("(between commands)") : session.command;
  if (session.killed_at_stop) {
    if (!session.command.empty()) {
      event_log_.Write(kEventSourceService,
                       Format("Stop: session from %s still running after the grace period, its "
                              "worker process %d killed, section [%s], in: %s",
                              session.peer.c_str(), session.worker.pid, session.section.c_str(),
                              running.c_str()));
    }
    return;
  }
  if (session.killed) return;  // logged when it was killed
  const std::string how = WIFSIGNALED(status)
                              ? "was ended by " + SignalText(WTERMSIG(status))
                              : Format("exited with status %d", WEXITSTATUS(status));
  event_log_.Write(kEventSourceServer,
                   Format("Session worker process %d of the session from %s %s, in section [%s], "
                          "running: %s; the client's connection is closed",
                          session.worker.pid, session.peer.c_str(), how.c_str(),
                          session.section.c_str(), running.c_str()));
}

}  // namespace velquarn
