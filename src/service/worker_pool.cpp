#include "service/worker_pool.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/exceptions.h"
#include "common/text.h"
#include "service/worker_channel.h"

extern char** environ;

namespace velquarn {

namespace {

// After a failed start the pool waits this long before it tries again, so a
// broken binary or configuration costs one log entry a second, not a spin.
constexpr auto kRetryDelay = std::chrono::seconds(1);

}  // namespace

TWorkerPool::TWorkerPool(std::string binary, std::vector<std::string> arguments, size_t ready_count,
                         std::function<void(const std::string&)> log)
    : binary_(std::move(binary)),
      arguments_(std::move(arguments)),
      ready_count_(ready_count),
      log_(std::move(log)) {}

TWorkerPool::~TWorkerPool() { Stop(); }

void TWorkerPool::Start() {
  if (thread_.joinable()) return;
  {
    std::scoped_lock lock(mutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { Run(); });
}

TWorker TWorkerPool::Spawn() const {
  TSocket service_end;
  TSocket worker_end;
  MakeWorkerChannel(service_end, worker_end);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 onto the fixed number clears close-on-exec there; every other
  // descriptor of the service is close-on-exec and stays behind.
  posix_spawn_file_actions_adddup2(&actions, worker_end.Fd(), kWorkerChannelFd);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The service blocks its stop and reload signals in every thread for its
  // signal descriptor; a worker starts with none blocked.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary_.c_str()));
  for (const std::string& argument : arguments_)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int result =
      ::posix_spawn(&pid, binary_.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    throw Exception(
        Format("Cannot start a session worker (%s): %s", binary_.c_str(), std::strerror(result)));
  }
  return TWorker{pid, std::move(service_end)};
}

TWorker TWorkerPool::Take() {
  {
    std::scoped_lock lock(mutex_);
    if (!waiting_.empty()) {
      TWorker worker = std::move(waiting_.front());
      waiting_.pop_front();
      wake_.notify_all();
      return worker;
    }
  }
  wake_.notify_all();
  return Spawn();
}

void TWorkerPool::Renew() {
  std::scoped_lock lock(mutex_);
  for (TWorker& worker : waiting_) retired_.push_back(std::move(worker));
  waiting_.clear();
  wake_.notify_all();
}

void TWorkerPool::Stop() {
  {
    std::scoped_lock lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void TWorkerPool::Retire(TWorker worker) noexcept {
  // A waiting worker ends by itself when its channel closes; one that is
  // still starting is not listening yet, so it is told plainly.
  worker.channel.Close();
  ::kill(worker.pid, SIGKILL);
  int status = 0;
  while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
  }
}

void TWorkerPool::Run() {
  pthread_setname_np(pthread_self(), "Worker pool");
  std::unique_lock lock(mutex_);
  bool failing = false;
  for (;;) {
    std::vector<TWorker> retired;
    retired.swap(retired_);
    if (!retired.empty()) {
      lock.unlock();
      for (TWorker& worker : retired) Retire(std::move(worker));
      lock.lock();
      continue;
    }
    if (stopping_) break;
    if (waiting_.size() >= ready_count_) {
      wake_.wait(lock);
      continue;
    }
    lock.unlock();
    try {
      TWorker worker = Spawn();
      lock.lock();
      waiting_.push_back(std::move(worker));
      failing = false;
    } catch (const std::exception& error) {
      if (!failing && log_) log_(error.what());
      failing = true;
      lock.lock();
      wake_.wait_for(lock, kRetryDelay);
    }
  }
  std::deque<TWorker> waiting;
  waiting.swap(waiting_);
  lock.unlock();
  for (TWorker& worker : waiting) Retire(std::move(worker));
}

}  // namespace velquarn
