#include "support/process_usage.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velquarn::testing {

TProcessUsage ProcessUsageOf(pid_t pid) {
  namespace fs = std::filesystem;
  const fs::path proc = fs::path("/proc") / std::to_string(pid);
  TProcessUsage usage;
  for (auto it = fs::directory_iterator(proc / "fd"); it != fs::directory_iterator(); ++it) {
    ++usage.descriptors;
  }
  for (auto it = fs::directory_iterator(proc / "task"); it != fs::directory_iterator(); ++it) {
    ++usage.threads;
  }
  std::ifstream status(proc / "status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) usage.resident_kib = std::stol(line.substr(6));
  }
  return usage;
}

long PrivateKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string key;
  long total = 0;
  while (in >> key) {
    long value = 0;
    if (key == "Private_Clean:" || key == "Private_Dirty:") {
      in >> value;
      total += value;
    }
    in.ignore(1 << 20, '\n');
  }
  return total;
}

std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // The command name in parentheses may hold spaces: the fields after it
    // are the state, then the parent's id.
    const size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    long parent_pid = 0;
    rest >> state >> parent_pid;
    if (parent_pid == parent) children.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return children;
}

}  // namespace velquarn::testing
