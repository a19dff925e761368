// The system command `sys`: the configuration file (read whole, replaced
// whole, its configured databases and its CustomData section) and the
// catalog lists of the connection's database.
//
// List operands answer 200 and then a data block, always terminated: an
// empty list is the reply followed by the "." line alone. A missing operand
// answers 581, an unknown one or a missing table or index name 582; errors
// of the file or the catalog leave the handler and become 500. getconfig and
// setconfig answer 583 when Settings/ConfigCommands turned them off or the
// peer is outside Settings/AdminFrom; the file is then neither read nor
// written (a refused setconfig still consumes the lines that follow it).
//
// Runs on the connection's thread. The configuration file is read and
// written at the time of the command without a lock; the in-memory
// configuration of the service is not refreshed.
#pragma once

#include <string>

namespace velquarn {

class TCommandInvocation;
class TStringList;
struct TCommandEnvironment;

// Writes the lines to the file, each followed by CR LF, replacing its whole
// content. The new content goes to a temporary file beside it that is then
// renamed over it, so a failed write leaves the old file whole. Raises
// Exception naming the path and the system's reason on failure.
void WriteConfigurationLines(const std::string& path, const TStringList& lines);

// The section names of the configuration file in file order, without the
// first section named Settings and the first named CustomData (names
// compare without letter case). A missing file gives an empty list.
void ReadDatabaseSectionNames(const std::string& path, TStringList& names);

// The key=value lines of the file's CustomData section in file order, each
// value as the INI reader returns it. A missing file or section gives an
// empty list.
void ReadCustomData(const std::string& path, TStringList& lines);

void SysCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment);

}  // namespace velquarn
