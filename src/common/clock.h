// The millisecond tick count: CLOCK_MONOTONIC milliseconds as an unsigned
// 32-bit value (it wraps after 49.7 days, as callers expect). Thread-safe.
#pragma once

#include <cstdint>

namespace velquarn {

uint32_t GetTickCount();

}  // namespace velquarn
