// The value kinds of the gateway's metrics: a counter that only grows, a
// gauge that goes up and down, and a histogram of durations with fixed
// bucket bounds. Every update is a relaxed atomic operation on the value
// itself, so counting costs a connection thread no lock and no lookup.
//
// Thread-safety: every operation may run on any thread. A reader sees each
// value on its own; a scrape may see a histogram's count before its sum
// catches up, which the exposition format tolerates.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace velquarn {

class TCounter {
 public:
  void Add(uint64_t amount = 1) { value_.fetch_add(amount, std::memory_order_relaxed); }
  uint64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> value_ = 0;
};

class TGauge {
 public:
  // Returns the value after the change.
  int64_t Add(int64_t amount) {
    return value_.fetch_add(amount, std::memory_order_relaxed) + amount;
  }
  void Set(int64_t value) { value_.store(value, std::memory_order_relaxed); }
  // Raises the value to at least value (a high-water mark).
  void RaiseTo(int64_t value);
  int64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int64_t> value_ = 0;
};

// The upper bounds of the command-duration buckets in seconds, 100 µs to
// 60 s; the +Inf bucket is implied.
std::span<const double> DurationBuckets();

struct THistogramSnapshot {
  std::vector<uint64_t> counts;  // per bucket, not cumulative; the last is +Inf
  uint64_t count = 0;
  double sum = 0;
};

class THistogram {
 public:
  // bounds: ascending upper bounds, borrowed for the histogram's life.
  explicit THistogram(std::span<const double> bounds);
  THistogram(const THistogram&) = delete;
  THistogram& operator=(const THistogram&) = delete;

  void Observe(double value);
  std::span<const double> Bounds() const { return bounds_; }
  THistogramSnapshot Snapshot() const;

 private:
  std::span<const double> bounds_;
  std::unique_ptr<std::atomic<uint64_t>[]> counts_;  // bounds_.size() + 1
  std::atomic<double> sum_ = 0;
};

}  // namespace velquarn
