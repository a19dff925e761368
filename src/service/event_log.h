// TEventLog: the entries of the service. Each entry goes to syslog(3) with
// the source as ident, facility LOG_DAEMON and its priority (LOG_ERR,
// LOG_WARNING or LOG_INFO), and, when a file is set, is appended to it as one
// line: the priority's name, a blank, the source, a blank and the text with
// its line breaks escaped ("\r", "\n"; a backslash doubled), as in
// "warning Velquarn Connection from 10.0.0.9 refused: ...".
// All operations are thread-safe (guarded by mutex_).
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "common/log_priority.h"

namespace velquarn {

// The two sources of the system's entries.
inline constexpr const char* kEventSourceServer = "Velquarn";
inline constexpr const char* kEventSourceService = "VelquarnSvc";

class TEventLog {
 public:
  TEventLog() = default;
  TEventLog(const TEventLog&) = delete;
  TEventLog& operator=(const TEventLog&) = delete;

  // Also append every entry to this file (empty: syslog only).
  void SetFile(std::string path);
  // Writes one entry; failures to write are ignored. Without a priority
  // the entry is an error.
  void Write(const std::string& source, const std::string& text) noexcept {
    Write(TLogPriority::kErr, source, text);
  }
  void Write(TLogPriority priority, const std::string& source, const std::string& text) noexcept;

 private:
  std::mutex mutex_;
  std::string file_;  // Guarded by mutex_
};

// The text with CR, LF and backslash escaped, for one-line log entries.
std::string EscapeLineBreaks(std::string_view text);

}  // namespace velquarn
