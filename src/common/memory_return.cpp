#include "common/memory_return.h"

#include <malloc.h>

#include <atomic>
#include <chrono>

namespace velquarn {

void ReturnFreeMemory() noexcept { ::malloc_trim(0); }

void ReturnFreeMemoryAtMostEverySecond(bool force) noexcept {
  using Clock = std::chrono::steady_clock;
  static std::atomic<Clock::rep> last_trim{0};
  const Clock::rep now = Clock::now().time_since_epoch().count();
  Clock::rep last = last_trim.load(std::memory_order_relaxed);
  const Clock::rep second =
      std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)).count();
  if (!force && now - last < second) return;
  // One caller of many that arrive together does the walk.
  if (!last_trim.compare_exchange_strong(last, now, std::memory_order_relaxed) && !force) return;
  ReturnFreeMemory();
}

}  // namespace velquarn
