#include "service/worker_pool.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "service/worker_channel.h"

namespace velquarn {
namespace {

// A stand-in worker: says its pid and whether any signal is blocked on its
// channel (descriptor 3), then waits until the channel closes.
TWorkerPool ShellPool(size_t ready, std::vector<std::string>* log = nullptr) {
  return TWorkerPool("/bin/sh",
                     {"-c",
                      "printf '%s %s\\n' $$ \"$(grep SigBlk /proc/self/status | cut -f2)\" "
                      ">&3; exec cat <&3 >/dev/null"},
                     ready, [log](const std::string& text) {
                       if (log != nullptr) log->push_back(text);
                     });
}

std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

bool Alive(pid_t pid) { return ::kill(pid, 0) == 0; }

TEST(WorkerPool, WorkersGetTheirChannelAsDescriptorThreeAndNoBlockedSignals) {
  // The service blocks its signals for its signal descriptor; a worker must
  // not inherit that, or a kill by SIGTERM would never reach it.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigset_t saved;
  pthread_sigmask(SIG_BLOCK, &blocked, &saved);
  TWorkerPool pool = ShellPool(0);
  TWorker worker = pool.Spawn();
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  const std::string line = ReadLine(worker.channel.Fd());
  EXPECT_EQ(line, std::to_string(worker.pid) + " 0000000000000000");
  worker.channel.Close();  // the worker's cat sees the end and exits
  int status = -1;
  ASSERT_EQ(::waitpid(worker.pid, &status, 0), worker.pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(WorkerPool, KeepsWorkersReadyAndReplacesThemOnRenewAndStop) {
  TWorkerPool pool = ShellPool(2);
  pool.Start();
  TWorker first = pool.Take();
  TWorker second = pool.Take();
  TWorker third = pool.Take();  // started on the spot if the pool is behind
  for (TWorker* worker : {&first, &second, &third}) {
    EXPECT_EQ(ReadLine(worker->channel.Fd()).substr(0, std::to_string(worker->pid).size()),
              std::to_string(worker->pid));
  }
  // Taken workers are the caller's: a renewal or stop leaves them alone.
  pool.Renew();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  pool.Stop();
  for (TWorker* worker : {&first, &second, &third}) {
    EXPECT_TRUE(Alive(worker->pid));
    ::kill(worker->pid, SIGKILL);
    ::waitpid(worker->pid, nullptr, 0);
  }
  // Every waiting worker was ended and reaped: nothing else is our child.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(WorkerPool, AMissingBinaryIsReportedOnceAndTakeRaises) {
  std::vector<std::string> log;
  TWorkerPool pool("/nonexistent/velquarn", {}, 1,
                   [&log](const std::string& text) { log.push_back(text); });
  pool.Start();
  EXPECT_THROW(pool.Take(), std::exception);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pool.Stop();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("/nonexistent/velquarn"), std::string::npos) << log[0];
}

}  // namespace
}  // namespace velquarn
