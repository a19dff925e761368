#include "common/clock.h"

#include <ctime>

namespace velquarn {

uint32_t GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t millis =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  // Truncation to 32 bits is the wrap callers expect.
  return static_cast<uint32_t>(millis);
}

}  // namespace velquarn
