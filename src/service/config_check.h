// `velquarn --check-config [--connect]`: reads the configuration file the
// way the service does and reports what an operator wants to know before a
// start, one finding per line as "FILE:LINE: text" ("FILE: text" for the
// file as a whole):
// - the file is missing or unreadable (the service would start on defaults);
// - lines that reading ignores, repeated sections and keys (reading finds
//   the first);
// - a section whose name is close to Settings or CustomData (it would be
//   read as a database section);
// - unknown keys, with the nearest known key as a suggestion;
// - values that do not parse or are out of range, so that the service
//   would silently use the default (Port outside 1..65535);
// - database sections whose DSN is not a data source of the driver manager,
//   whose DriverName is not an installed driver, that have neither, whose
//   Charset is not one the driver layer knows, or whose Password cannot have
//   been written by --scramble-password;
// - with connect: each database section opened once, as `open` opens it
//   without a user id, and the driver's error when that fails.
//
// Thread-safety: none needed; runs alone in its process.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace velquarn {

struct TConfigFinding {
  int Line = 0;  // 0: the file as a whole
  std::string Text;
};

struct TConfigCheckResult {
  std::vector<TConfigFinding> Findings;  // in line order
  int DatabaseSections = 0;
  int Connected = 0;  // sections opened with connect
};

// ask_driver_manager false leaves out the checks that ask the ODBC driver
// manager (whether a DSN or driver exists), as the service does at start.
TConfigCheckResult CheckConfigFile(const std::string& path, bool connect,
                                   bool ask_driver_manager = true);

// "FILE:LINE: text", or "FILE: text" for line 0.
std::string FormatFinding(std::string_view path, const TConfigFinding& finding);

// The edit distance (insertions, deletions, substitutions and swaps of
// neighbours) between two names, ignoring letter case.
size_t NameDistance(std::string_view a, std::string_view b);

// Runs the check and writes each finding on its own line to `out`, then a
// last line "FILE: OK ..." or "FILE: N problem(s)". Returns 0 when clean,
// 1 otherwise.
int RunConfigCheck(const std::string& path, bool connect, std::ostream& out);

}  // namespace velquarn
