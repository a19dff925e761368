#include "dataset/component.h"

#include <algorithm>

namespace velquarn {

TComponent::~TComponent() { SendRemovalNotices(); }

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), other) == free_notifies_.end()) {
    free_notifies_.push_back(other);
  }
  auto& theirs = other->free_notifies_;
  if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (other == nullptr) return;
  std::erase(free_notifies_, other);
  std::erase(other->free_notifies_, this);
}

void TComponent::EndLoading() {
  loading_ = false;
  Loaded();
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::SendRemovalNotices() noexcept {
  // Each receiver is unlinked before it is told, so that a receiver that
  // unlinks itself or destroys further components cannot disturb the walk.
  while (!free_notifies_.empty()) {
    TComponent* other = free_notifies_.back();
    free_notifies_.pop_back();
    std::erase(other->free_notifies_, this);
    try {
      other->Notification(this, opRemove);
    } catch (...) {
      // A receiver must not throw; a destructor cannot pass it on.
    }
  }
}

}  // namespace velquarn
