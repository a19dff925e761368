#include "service/rate_limiter.h"

namespace velquarn {

bool TRateLimiter::Admit(uint64_t now_ms, uint64_t& held_back) {
  std::scoped_lock lock(mutex_);
  if (!started_ || now_ms - window_start_ >= window_ms_) {
    started_ = true;
    window_start_ = now_ms;
    admitted_ = 0;
  }
  if (admitted_ >= burst_) {
    ++held_back_;
    return false;
  }
  ++admitted_;
  held_back = held_back_;
  held_back_ = 0;
  return true;
}

}  // namespace velquarn
