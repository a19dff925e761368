// TWorkerPool: the session worker processes that are started but not yet
// serving anyone. Each worker is the service's own binary executed afresh
// in its worker role (never a fork of the many-threaded service process, in
// which another thread's lock could stay locked forever), with its end of
// a channel as descriptor 3. A pool thread keeps a few started ahead, so a
// client is handed to a worker that has loaded its configuration already.
//
// Workers are started from the pool thread, which lives until Stop: each
// worker asks to be killed when the thread that started it ends, so none
// outlives a service that died. A worker started by Take on a session's
// thread serves that session only and is gone before the thread ends.
//
// Thread-safety: Take, Renew and Stop may be called from any thread.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/socket.h"

namespace velquarn {

struct TWorker {
  pid_t pid = -1;
  TSocket channel;
};

class TWorkerPool {
 public:
  // The descriptor number the worker finds its channel end on.
  static constexpr int kWorkerChannelFd = 3;

  // binary and arguments: the worker's command line (arguments after the
  // program name; the caller includes "--worker 3"). log receives start
  // failures.
  TWorkerPool(std::string binary, std::vector<std::string> arguments, size_t ready_count,
              std::function<void(const std::string&)> log);
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;
  ~TWorkerPool();

  void Start();
  // A started worker: one of the pool's, or else one started now. Raises
  // when none can be started. The caller reaps it (waitpid).
  TWorker Take();
  // Replaces the waiting workers by fresh ones, which read the
  // configuration anew (after a reload).
  void Renew();
  // Ends the waiting workers and the pool thread.
  void Stop();

  // Starts one worker process. Raises Exception when it cannot.
  TWorker Spawn() const;

 private:
  void Run();
  static void Retire(TWorker worker) noexcept;

  const std::string binary_;
  const std::vector<std::string> arguments_;
  const size_t ready_count_;
  const std::function<void(const std::string&)> log_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<TWorker> waiting_;   // Guarded by mutex_
  std::vector<TWorker> retired_;  // Guarded by mutex_: to end and reap
  bool stopping_ = false;         // Guarded by mutex_
  std::thread thread_;
};

}  // namespace velquarn
