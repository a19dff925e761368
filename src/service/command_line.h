// The executable's command line, parsed with getopt_long:
//   -h, --help              the usage text
//   -V, --version           version and build details
//   --config FILE           the configuration file (also --config=FILE)
//   --event-log FILE        also append event-log entries to FILE
//   --check-config          check the configuration and exit
//   --connect               with --check-config: open each database section
//   --scramble-password     the operators' password tool
// Long option names ignore letter case and may be shortened while they stay
// unambiguous. The service switches INSTALL, UNINSTALL and SILENT begin with
// "/" or "-" and ignore letter case ("/install", "-UNINSTALL"); "/help" and
// "/?" show the usage text too. Without a switch the service runs in the
// foreground.
#pragma once

#include <string>

namespace velquarn {

struct TCommandLine {
  bool Install = false;
  bool Uninstall = false;
  bool Silent = false;
  bool Help = false;
  bool Version = false;
  bool ScramblePassword = false;  // --scramble-password: the operators' tool
  bool CheckConfig = false;
  bool Connect = false;      // only with CheckConfig
  std::string ConfigPath;    // empty: beside the executable
  std::string EventLogPath;  // empty: syslog only
  // --worker FD, not shown in the usage text: the service started this
  // process to serve one client session, handed over on the channel FD.
  int WorkerFd = -1;
};

// Raises Exception naming the offending argument for an unknown switch, a
// missing value, a stray argument or switches that cannot be combined.
TCommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage text shown for --help and with a command-line error.
const char* UsageText();

// The --version text: name and version, compiler, build type (several
// lines, each ended by a line feed).
std::string VersionText();
// The version number alone ("1.2.0").
const char* VersionNumber();

}  // namespace velquarn
