// What a running process holds, read from /proc: open descriptors, threads
// and resident memory. Leak tests compare it before and after a run.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace velquarn::testing {

struct TProcessUsage {
  size_t descriptors = 0;
  size_t threads = 0;
  long resident_kib = 0;
};

TProcessUsage ProcessUsageOf(pid_t pid);

// The memory only this process holds (Private_Clean + Private_Dirty of its
// mappings), in KiB; 0 when it is gone.
long PrivateKiB(pid_t pid);

// The processes whose parent is parent (a gateway's session workers).
std::vector<pid_t> ChildrenOf(pid_t parent);

}  // namespace velquarn::testing
