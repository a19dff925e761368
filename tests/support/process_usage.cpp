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

}  // namespace velquarn::testing
