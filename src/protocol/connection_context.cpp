#include "protocol/connection_context.h"

namespace velquarn {

bool TContext::BeginCommand(const std::string& line) {
  std::scoped_lock lock(activity_mutex_);
  if (draining_) return false;
  activity_.command = line;
  activity_.since = std::chrono::steady_clock::now();
  return true;
}

void TContext::EndCommand() {
  std::scoped_lock lock(activity_mutex_);
  activity_.command.clear();
  activity_.since = std::chrono::steady_clock::now();
}

TContext::TActivity TContext::Activity() const {
  std::scoped_lock lock(activity_mutex_);
  return activity_;
}

bool TContext::Drain() {
  std::scoped_lock lock(activity_mutex_);
  draining_ = true;
  // An empty line is never dispatched, so an empty command means idle.
  return activity_.command.empty();
}

bool TContext::Draining() const {
  std::scoped_lock lock(activity_mutex_);
  return draining_;
}

}  // namespace velquarn
