#include "service/event_log.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

namespace velquarn {

std::string EscapeLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

void TEventLog::SetFile(std::string path) {
  std::scoped_lock lock(mutex_);
  file_ = std::move(path);
}

namespace {

int SyslogPriority(TLogPriority priority) {
  switch (priority) {
    case TLogPriority::kErr:
      return LOG_ERR;
    case TLogPriority::kWarning:
      return LOG_WARNING;
    case TLogPriority::kInfo:
      return LOG_INFO;
  }
  return LOG_ERR;
}

}  // namespace

void TEventLog::Write(TLogPriority priority, const std::string& source,
                      const std::string& text) noexcept {
  try {
    std::scoped_lock lock(mutex_);
    // openlog keeps the ident pointer, so the lock covers the whole entry.
    ::openlog(source.c_str(), LOG_PID, LOG_DAEMON);
    ::syslog(SyslogPriority(priority), "%s", text.c_str());
    ::closelog();
    if (file_.empty()) return;
    std::string line =
        std::string(PriorityName(priority)) + " " + source + " " + EscapeLineBreaks(text) + "\n";
    int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    // One write per entry: O_APPEND keeps entries whole.
    ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    ::close(fd);
  } catch (...) {
  }
}

}  // namespace velquarn
