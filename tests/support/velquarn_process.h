// The real velquarn binary as a child process for end-to-end tests. The
// fixture writes a configuration into a temporary folder (with a free
// Settings/Port), starts the binary with --config and --event-log, and waits
// until the port accepts connections. The destructor kills a child that is
// still running and removes the folder.
//
// Thread-safety: one test thread uses an instance.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velquarn::testing {

// A TCP port of the loopback interface that nothing listens on right now.
uint16_t FreeTcpPort();

// fork + exec of binary with the arguments and the environment additions;
// stdout and stderr go to the given descriptors (-1: inherited), stdin is
// /dev/null. The caller waits for the child.
pid_t SpawnProcess(const std::string& binary, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment, int out_fd, int err_fd);

// Raises this process's soft open-file limit to at least wanted (up to the
// hard limit); returns the soft limit now in force.
uint64_t RaiseOpenFileLimit(uint64_t wanted);

struct TVelquarnProcessOptions {
  // The binary to start; test programs get its path in VELQUARN_BINARY.
  std::string binary;
  // Lines added to the [Settings] section after "Port=".
  std::string settings;
  // Text appended after the [Settings] section (other sections).
  std::string sections;
  // Port 0: a free one is chosen.
  uint16_t port = 0;
  // Extra command-line arguments after --config and --event-log.
  std::vector<std::string> arguments;
  // Extra environment variables of the child.
  std::map<std::string, std::string> environment;
  // Wait until the port accepts connections (false: return at once).
  bool wait_until_listening = true;
};

class TVelquarnProcess {
 public:
  explicit TVelquarnProcess(TVelquarnProcessOptions options = {});
  TVelquarnProcess(const TVelquarnProcess&) = delete;
  TVelquarnProcess& operator=(const TVelquarnProcess&) = delete;
  ~TVelquarnProcess();

  uint16_t Port() const { return port_; }
  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path ConfigPath() const { return folder_ / "velquarn.ini"; }
  std::filesystem::path EventLogPath() const { return folder_ / "events.log"; }
  pid_t Pid() const { return pid_; }

  // Retries connecting to 127.0.0.1:Port() until it succeeds, the child
  // exits or the time runs out.
  bool WaitUntilListening(int timeout_ms);
  void Signal(int signal_number);
  // Waits for the child to exit; returns its exit status, 128 + signal when
  // a signal ended it, or -1 when it still runs after timeout_ms.
  int WaitForExit(int timeout_ms);
  bool Running();
  // The event-log file's text ("" when nothing was logged).
  std::string EventLogText() const;
  // Polls the event-log file until it contains text or the time runs out.
  bool WaitForEventLog(const std::string& text, int timeout_ms) const;

 private:
  std::filesystem::path folder_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  int exit_status_ = -1;
};

// Runs the binary with the arguments and environment, waits for it and
// returns its exit status with what it wrote to stdout and stderr.
struct TRunResult {
  int status = -1;
  std::string out;
  std::string err;
};
TRunResult RunVelquarn(const std::string& binary, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment = {},
                       int timeout_ms = 20000);

}  // namespace velquarn::testing
