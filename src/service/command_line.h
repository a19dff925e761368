// The executable's command line. Switches begin with "/" or "-" and compare
// without letter case: INSTALL, UNINSTALL, SILENT; plus "--config FILE" and
// "--event-log FILE" (also "--config=FILE"), and "--scramble-password". No install switch: run the
// service in the foreground.
#pragma once

#include <string>

namespace velquarn {

struct TCommandLine {
  bool Install = false;
  bool Uninstall = false;
  bool Silent = false;
  bool Help = false;
  bool ScramblePassword = false;  // --scramble-password: the operators' tool
  std::string ConfigPath;    // empty: beside the executable
  std::string EventLogPath;  // empty: syslog only
};

// Raises Exception naming the offending argument for an unknown switch or a
// missing value.
TCommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage text shown with a command-line error.
const char* UsageText();

}  // namespace velquarn
