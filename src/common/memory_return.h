// Handing memory the allocator keeps free back to the system.
//
// The C library's allocator keeps what a thread frees in that thread's
// arena for reuse: a gateway whose sessions once held a large result, or
// whose many short sessions each used a little, would otherwise stay at its
// peak resident size for good. Trimming walks every arena under its lock,
// which costs about a millisecond per 50 MiB of heap: it belongs where a
// large amount was just freed, or at a rate that bounds its cost.
#pragma once

namespace velquarn {

// Returns the allocator's free memory to the system now.
void ReturnFreeMemory() noexcept;

// Returns it when no call did so during the last second, or when force is
// set: for paths as frequent as a session's end. Thread-safe.
void ReturnFreeMemoryAtMostEverySecond(bool force = false) noexcept;

}  // namespace velquarn
