// The priorities of event-log entries, as syslog(3) knows them: an error the
// operator has to act on, a warning of something the service survived (a
// client's or the configuration's fault, a refused peer), and information
// about normal events (start, stop, reload).
#pragma once

#include <string_view>

namespace velquarn {

enum class TLogPriority { kErr, kWarning, kInfo };

// "err", "warning" or "info": the names syslog's own tools use.
constexpr std::string_view PriorityName(TLogPriority priority) {
  switch (priority) {
    case TLogPriority::kErr:
      return "err";
    case TLogPriority::kWarning:
      return "warning";
    case TLogPriority::kInfo:
      return "info";
  }
  return "err";
}

}  // namespace velquarn
