#include "service/rate_limiter.h"

#include <gtest/gtest.h>

namespace velquarn {
namespace {

TEST(RateLimiter, BurstPassesThenCountsWhatItHeldBack) {
  TRateLimiter limiter(2, 1000);
  uint64_t held_back = 99;
  EXPECT_TRUE(limiter.Admit(5000, held_back));
  EXPECT_EQ(held_back, 0u);
  EXPECT_TRUE(limiter.Admit(5001, held_back));
  EXPECT_FALSE(limiter.Admit(5002, held_back));
  EXPECT_FALSE(limiter.Admit(5999, held_back));
  EXPECT_FALSE(limiter.Admit(5500, held_back));
  // A new window: the first entry reports the three held back.
  EXPECT_TRUE(limiter.Admit(6000, held_back));
  EXPECT_EQ(held_back, 3u);
  EXPECT_TRUE(limiter.Admit(6001, held_back));
  EXPECT_EQ(held_back, 0u);
}

TEST(RateLimiter, FirstEventAtClockZeroStartsAWindow) {
  TRateLimiter limiter(1, 60000);
  uint64_t held_back = 0;
  EXPECT_TRUE(limiter.Admit(0, held_back));
  EXPECT_FALSE(limiter.Admit(59999, held_back));
  EXPECT_TRUE(limiter.Admit(60000, held_back));
  EXPECT_EQ(held_back, 1u);
}

}  // namespace
}  // namespace velquarn
