// TcsThreadList: a list of borrowed object references guarded by its own
// mutex. Adding appends at the end and ignores a reference already listed.
// The list never owns or frees its items.
//
// Thread-safety: every operation locks mutex_ for its whole duration, so one
// TakeFirst hands an item to exactly one caller. No operation calls out while
// holding the lock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

namespace velquarn {

template <typename T>
class TcsThreadList {
 public:
  TcsThreadList() = default;
  TcsThreadList(const TcsThreadList&) = delete;
  TcsThreadList& operator=(const TcsThreadList&) = delete;

  // Appends item unless it is null or already listed. Returns true if added.
  bool Add(T* item) {
    if (item == nullptr) return false;
    std::scoped_lock lock(mutex_);
    if (std::find(items_.begin(), items_.end(), item) != items_.end()) return false;
    items_.push_back(item);
    return true;
  }

  // Removes item if listed. Returns true if it was.
  bool Remove(T* item) {
    std::scoped_lock lock(mutex_);
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
  }

  bool Contains(T* item) const {
    std::scoped_lock lock(mutex_);
    return std::find(items_.begin(), items_.end(), item) != items_.end();
  }

  // Removes and returns the first item; null when the list is empty.
  T* TakeFirst() {
    std::scoped_lock lock(mutex_);
    if (items_.empty()) return nullptr;
    T* item = items_.front();
    items_.erase(items_.begin());
    return item;
  }

  // Removes and returns the last item; null when the list is empty.
  T* TakeLast() {
    std::scoped_lock lock(mutex_);
    if (items_.empty()) return nullptr;
    T* item = items_.back();
    items_.pop_back();
    return item;
  }

  int LockedCount() const {
    std::scoped_lock lock(mutex_);
    return static_cast<int>(items_.size());
  }

  // A copy of the items in list order, taken under the lock.
  std::vector<T*> Snapshot() const {
    std::scoped_lock lock(mutex_);
    return items_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<T*> items_;  // Guarded by mutex_
};

}  // namespace velquarn
