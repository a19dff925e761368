#include "support/velquarn_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace velquarn::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velquarn-e2e-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

bool CanConnect(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return connected;
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

pid_t SpawnProcess(const std::string& binary, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment, int out_fd, int err_fd) {
  std::vector<std::string> all = {binary};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // The child's environment is built before fork: only async-signal-safe
  // calls may run between fork and exec in a threaded test program.
  std::vector<std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    std::string_view text = *variable;
    std::string name(text.substr(0, text.find('=')));
    if (environment.count(name) == 0) variables.emplace_back(text);
  }
  for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (out_fd >= 0) ::dup2(out_fd, 1);
    if (err_fd >= 0) ::dup2(err_fd, 2);
    int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, 0);
    ::execve(binary.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

uint16_t FreeTcpPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot find a free port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

uint64_t RaiseOpenFileLimit(uint64_t wanted) {
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < wanted) {
    limit.rlim_cur = wanted < limit.rlim_max ? wanted : limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur;
}

TVelquarnProcess::TVelquarnProcess(TVelquarnProcessOptions options)
    : folder_(MakeTempFolder()), port_(options.port != 0 ? options.port : FreeTcpPort()) {
  {
    std::ofstream ini(ConfigPath());
    ini << "[Settings]\nPort=" << port_ << "\n" << options.settings << "\n";
    // The whole end-to-end suite runs once more with every session in a
    // worker process; a test that chose its isolation keeps it.
    const char* isolation = std::getenv("VELQUARN_E2E_ISOLATION");
    if (isolation != nullptr && *isolation != '\0' &&
        options.settings.find("Isolation=") == std::string::npos) {
      ini << "Isolation=" << isolation << "\n";
    }
    ini << options.sections;
  }
  std::vector<std::string> arguments = {"--config", ConfigPath().string(), "--event-log",
                                        EventLogPath().string()};
  arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
  pid_ = SpawnProcess(options.binary, arguments, options.environment, -1, -1);
  if (options.wait_until_listening && !WaitUntilListening(10000)) {
    throw std::runtime_error("velquarn did not start listening on port " + std::to_string(port_) +
                             "; event log: " + EventLogText());
  }
}

TVelquarnProcess::~TVelquarnProcess() {
  if (Running()) {
    ::kill(pid_, SIGKILL);
    WaitForExit(10000);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

bool TVelquarnProcess::WaitUntilListening(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    if (CanConnect(port_)) return true;
    if (!Running()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void TVelquarnProcess::Signal(int signal_number) {
  if (Running()) ::kill(pid_, signal_number);
}

bool TVelquarnProcess::Running() {
  if (pid_ < 0 || exit_status_ >= 0) return false;
  int status = 0;
  pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == pid_) {
    exit_status_ = DecodeStatus(status);
    return false;
  }
  return done == 0;
}

int TVelquarnProcess::WaitForExit(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Running()) {
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exit_status_;
}

std::string TVelquarnProcess::EventLogText() const {
  std::ifstream in(EventLogPath());
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool TVelquarnProcess::WaitForEventLog(const std::string& text, int timeout_ms) const {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (EventLogText().find(text) != std::string::npos) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TRunResult RunVelquarn(const std::string& binary, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment, int timeout_ms) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_t pid = SpawnProcess(binary, arguments, environment, out_pipe[1], err_pipe[1]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  TRunResult result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int open_pipes = 2;
  while (open_pipes > 0 && Clock::now() < deadline) {
    if (::poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[4096];
      ssize_t got = ::read(fds[i].fd, chunk, sizeof(chunk));
      if (got <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      } else {
        (i == 0 ? result.out : result.err).append(chunk, static_cast<size_t>(got));
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  if (open_pipes > 0) ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = open_pipes > 0 ? -1 : DecodeStatus(status);
  return result;
}

}  // namespace velquarn::testing
