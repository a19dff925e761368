// TRateLimiter: keeps a flood of like events (refused connections from a
// scanner) from flooding the event log. At most `burst` events pass within
// any window of `window_ms`; the ones held back are counted, and the next
// event that passes carries their number so the log still tells how many
// there were.
//
// Thread-safety: Admit locks mutex_; any thread may call it.
#pragma once

#include <cstdint>
#include <mutex>

namespace velquarn {

class TRateLimiter {
 public:
  TRateLimiter(int burst, uint64_t window_ms) : burst_(burst), window_ms_(window_ms) {}
  TRateLimiter(const TRateLimiter&) = delete;
  TRateLimiter& operator=(const TRateLimiter&) = delete;

  // True when the event at now_ms (a monotonic clock) may be logged; then
  // held_back is the number of events refused since the last one admitted.
  bool Admit(uint64_t now_ms, uint64_t& held_back);

 private:
  const int burst_;
  const uint64_t window_ms_;
  std::mutex mutex_;
  uint64_t window_start_ = 0;  // Guarded by mutex_
  int admitted_ = 0;           // Guarded by mutex_: in the current window
  uint64_t held_back_ = 0;     // Guarded by mutex_
  bool started_ = false;       // Guarded by mutex_
};

}  // namespace velquarn
