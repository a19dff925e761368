#include "support/process_usage.h"

#include <filesystem>
#include <fstream>
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

}  // namespace velquarn::testing
