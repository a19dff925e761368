// TWorkerSupervisor: the service's side of process isolation. The command
// server hands every admitted session to Serve, on the session's thread;
// Serve gives the client's socket to a worker process from the pool and
// watches it until it ends:
//  - the worker's command reports keep the session's activity current, so
//    a graceful stop drains it as it drains a thread, and feed the metrics;
//  - a command that runs longer than its section's QueryTimeout plus
//    HardTimeoutSec gets its worker killed, with an event-log entry;
//  - once the stop's grace period is over (CutOff), every worker still
//    serving is killed, so a stop always finishes;
//  - a worker that ends by a signal or a failure status is logged with its
//    peer, its section and the command it was running.
// When the worker has ended, the client's connection is closed.
//
// Thread-safety: Serve runs on many session threads at once; the setters
// and CutOff may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "protocol/connection_context.h"
#include "service/event_log.h"
#include "service/worker_pool.h"
#include "tls/tls_context.h"

namespace velquarn {

class TGatewayMetrics;
struct TWorkerMessage;

class TWorkerSupervisor {
 public:
  // How often a supervising thread looks at its deadlines.
  static constexpr int kTickMs = 50;
  // How long a worker may take from its start to its first word.
  static constexpr int kStartTimeoutMs = 60000;
  // Sessions that wait for a worker to start at the same time: a burst of
  // clients beyond the ready workers is served in arrival order, a few
  // starts at a time, instead of all starts sharing the processors and all
  // greetings coming late.
  static constexpr int kParallelStarts = 4;
  // How long a worker may take to exit after its session ended.
  static constexpr int kExitTimeoutMs = 5000;

  using TVersionLines = std::function<std::shared_ptr<const std::vector<std::string>>()>;

  TWorkerSupervisor(TWorkerPool& pool, TEventLog& event_log, TVersionLines version_lines);
  TWorkerSupervisor(const TWorkerSupervisor&) = delete;
  TWorkerSupervisor& operator=(const TWorkerSupervisor&) = delete;

  // Null: nothing counted. Set before the first session.
  void SetMetrics(TGatewayMetrics* metrics) { metrics_ = metrics; }
  // The server context in force, handed to the worker of each TLS session.
  // Set before the first session.
  using TTlsSource = std::function<std::shared_ptr<const TTlsContext>()>;
  void SetTlsSource(TTlsSource tls_source) { tls_source_ = std::move(tls_source); }
  void SetHardTimeoutSec(int seconds) { hard_timeout_sec_ = seconds; }
  // From now on every worker still serving is killed (the stop's grace
  // period is over); Reset takes it back for a later start.
  void CutOff() { cut_off_ = true; }
  void Reset() { cut_off_ = false; }

  // Sends a signal to every worker that serves a session (SIGHUP: the
  // configuration was reloaded; the workers re-read it before their next
  // command).
  void SignalServing(int signal_number);

  // Serves the session of context in a worker until it ends.
  void Serve(TContext& context, bool tls);

 private:
  struct TSession;
  // The encoded TWorkerHandOff (worker_hand_off.h) of a session.
  std::string HandOffText(const TContext& context, bool tls) const;
  void OnMessage(TSession& session, TContext& context, TWorkerMessage& message);
  void Kill(TSession& session, const char* reason);
  void Reap(TSession& session);
  void LogEnd(const TSession& session, int status);
  void EnterStart();
  void LeaveStart();

  TWorkerPool& pool_;
  TEventLog& event_log_;
  TVersionLines version_lines_;
  TTlsSource tls_source_;
  TGatewayMetrics* metrics_ = nullptr;
  std::atomic<int> hard_timeout_sec_ = 60;
  std::atomic<bool> cut_off_ = false;

  std::mutex serving_mutex_;
  std::set<pid_t> serving_;  // Guarded by serving_mutex_: handed a session, not yet reaped

  // A first-come first-served gate of kParallelStarts places.
  std::mutex start_mutex_;
  std::condition_variable start_turn_;
  uint64_t start_tickets_ = 0;  // Guarded by start_mutex_
  uint64_t starts_done_ = 0;    // Guarded by start_mutex_
};

}  // namespace velquarn
