#include "service/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/date_time.h"

namespace velquarn {

bool WriteLogFile(const std::string& path, const std::string& message) noexcept {
  try {
    TDateTime now = Now();
    std::string line = DateToStr(now) + " " + TimeToStr(now) + " | " + message + "\n";
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool complete = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    return complete;
  } catch (...) {
    return false;
  }
}

}  // namespace velquarn
