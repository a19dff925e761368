// The service's plain-text log file: one line per entry, the current date
// and time in the regional short date and long time formats, " | ", the
// message. The file is opened for appending (created when missing) for each
// entry and closed again. Thread-safe: each entry is one appending write.
#pragma once

#include <string>

namespace velquarn {

// Appends the entry; returns false when the file cannot be written.
bool WriteLogFile(const std::string& path, const std::string& message) noexcept;

}  // namespace velquarn
