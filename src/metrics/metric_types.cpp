#include "metrics/metric_types.h"

#include <algorithm>

namespace velquarn {

namespace {

// From a fast `test` round trip on loopback to a statement near the end of
// the default query timeout.
constexpr double kDurationBuckets[] = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005,
                                       0.01,   0.025,   0.05,   0.1,   0.25,   0.5,
                                       1,      2.5,     5,      10,    30,     60};

}  // namespace

void TGauge::RaiseTo(int64_t value) {
  int64_t seen = value_.load(std::memory_order_relaxed);
  while (seen < value && !value_.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

std::span<const double> DurationBuckets() { return kDurationBuckets; }

THistogram::THistogram(std::span<const double> bounds)
    : bounds_(bounds), counts_(std::make_unique<std::atomic<uint64_t>[]>(bounds.size() + 1)) {}

void THistogram::Observe(double value) {
  // A value equal to a bound belongs to that bound's bucket ("le").
  const size_t bucket = static_cast<size_t>(
      std::lower_bound(bounds_.begin(), bounds_.end(), value) - bounds_.begin());
  counts_[bucket].fetch_add(1, std::memory_order_relaxed);
  sum_.fetch_add(value, std::memory_order_relaxed);
}

THistogramSnapshot THistogram::Snapshot() const {
  THistogramSnapshot snapshot;
  snapshot.counts.reserve(bounds_.size() + 1);
  for (size_t i = 0; i <= bounds_.size(); ++i) {
    snapshot.counts.push_back(counts_[i].load(std::memory_order_relaxed));
  }
  snapshot.sum = sum_.load(std::memory_order_relaxed);
  // The count is the buckets' total, so that the +Inf bucket and _count
  // always agree even while observations land during the scrape.
  for (uint64_t bucket : snapshot.counts) snapshot.count += bucket;
  return snapshot;
}

}  // namespace velquarn
