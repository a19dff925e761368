// velquarn: runs the service in the foreground, or installs or removes it
// as a systemd unit.
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>

#include "commands/password_scramble.h"
#include "common/text.h"
#include "service/command_line.h"
#include "service/config_check.h"
#include "service/paths.h"
#include "service/systemd_unit.h"
#include "service/velquarn_service.h"

namespace velquarn {
namespace {

int Install(const TCommandLine& command_line) {
  try {
    std::string config;
    if (!command_line.ConfigPath.empty()) config = AbsolutePath(command_line.ConfigPath);
    InstallUnit(ExecutablePath(), config);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Service \"%s\" failed to install with error: \"%s\"\n",
                 kServiceDisplayName, error.what());
    return 1;
  }
  if (!command_line.Silent) std::printf("Service installed successfully\n");
  return 0;
}

int Uninstall(const TCommandLine& command_line) {
  try {
    UninstallUnit();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Service \"%s\" failed to uninstall with error: \"%s\"\n",
                 kServiceDisplayName, error.what());
    return 1;
  }
  if (!command_line.Silent) std::printf("Service uninstalled successfully\n");
  return 0;
}

// 2000 connections need more descriptors than the usual soft limit of 1024.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int RunService(const TCommandLine& command_line) {
  // Blocked before any thread starts, so every thread inherits the mask and
  // only the signalfd sees them: SIGTERM and SIGINT stop, SIGHUP reloads,
  // SIGUSR1 logs a status entry and SIGUSR2 is ignored (neither ends the
  // process, as their default action would).
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2}) {
    sigaddset(&signals, signal_number);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  int stop_fd = ::signalfd(-1, &signals, SFD_CLOEXEC);
  if (stop_fd < 0) {
    std::perror("signalfd");
    return 1;
  }
  RaiseOpenFileLimit();
  int status;
  {
    TVelquarnSvc service(command_line.ConfigPath, command_line.EventLogPath);
    status = service.Run(stop_fd);
    // Sessions stuck inside a driver still run: end here, without the
    // destructors that would free what their threads use.
    if (service.HasAbandonedSessions()) {
      std::fflush(nullptr);
      std::_Exit(status);
    }
  }
  ::close(stop_fd);
  return status;
}

// A session worker: started by the service, serves one client and exits.
// It dies with the service's thread that started it, and runs its driver
// on the main thread, whose stack is the full size a driver may need.
int RunWorker(const TCommandLine& command_line) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() == 1) return 1;  // the service ended before the request took
  // The stop is the service's to run: systemd's SIGTERM to the whole unit,
  // or a terminal's Ctrl+C to the whole process group, must not cut the
  // grace period short. The service kills its workers when it has to.
  for (int signal_number : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2}) {
    std::signal(signal_number, SIG_IGN);
  }
  TVelquarnSvc service(command_line.ConfigPath, command_line.EventLogPath);
  const int status = service.RunWorker(command_line.WorkerFd);
  // A driver's own teardown has nothing left to give back in a process that
  // ends now.
  std::fflush(nullptr);
  std::_Exit(status);
}

int Main(int argc, char** argv) {
  TCommandLine command_line;
  try {
    command_line = ParseCommandLine(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n%s", error.what(), UsageText());
    return 1;
  }
  if (command_line.Help) {
    std::printf("%s", UsageText());
    return 0;
  }
  if (command_line.Version) {
    std::printf("%s", VersionText().c_str());
    return 0;
  }
  if (command_line.ScramblePassword) {
    return RunScramblePasswordTool(std::cin, std::cout, std::cerr);
  }
  try {
    if (command_line.CheckConfig) {
      // The file the service itself would read.
      const std::string path = command_line.ConfigPath.empty()
                                   ? ConfigPathFor(ExecutablePath())
                                   : AbsolutePath(command_line.ConfigPath);
      return RunConfigCheck(path, command_line.Connect, std::cout);
    }
    if (command_line.WorkerFd >= 0) return RunWorker(command_line);
    if (command_line.Install) return Install(command_line);
    if (command_line.Uninstall) return Uninstall(command_line);
    return RunService(command_line);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}

}  // namespace
}  // namespace velquarn

int main(int argc, char** argv) { return velquarn::Main(argc, argv); }
