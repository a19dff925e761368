// TEventLog: error entries of the service. Each entry goes to syslog(3)
// with the source as ident, facility LOG_DAEMON, priority LOG_ERR, and,
// when a file is set, is appended to it as one line: the source, a blank and
// the text with its line breaks escaped ("\r", "\n"; a backslash doubled).
// All operations are thread-safe (guarded by mutex_).
#pragma once

#include <mutex>
#include <string>
#include <string_view>

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
  // Writes one error entry; failures to write are ignored.
  void Write(const std::string& source, const std::string& text) noexcept;

 private:
  std::mutex mutex_;
  std::string file_;  // Guarded by mutex_
};

// The text with CR, LF and backslash escaped, for one-line log entries.
std::string EscapeLineBreaks(std::string_view text);

}  // namespace velquarn
