#include "protocol/connection_context.h"

namespace velquarn {

void TContext::BeginCommand(const std::string& line) {
  std::scoped_lock lock(activity_mutex_);
  activity_.command = line;
  activity_.since = std::chrono::steady_clock::now();
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

}  // namespace velquarn
