// Where the service finds its files: the running executable, the default
// configuration beside it and the log file beside the configuration.
#pragma once

#include <string>
#include <string_view>

namespace velquarn {

// The absolute path of the running executable (/proc/self/exe); raises
// Exception when it cannot be read.
std::string ExecutablePath();
// The path with its extension replaced by ".ini", or ".ini" appended when
// the file name has none ("velquarn" -> "velquarn.ini").
std::string ConfigPathFor(std::string_view executable);
// The configuration path with ".ini" replaced by ".log" (any other
// extension is replaced too; none: ".log" appended).
std::string LogPathFor(std::string_view config_path);
// The path made absolute against the current folder.
std::string AbsolutePath(std::string_view path);

}  // namespace velquarn
