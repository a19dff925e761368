// The upload commands: `sndf` empties a one-column table DATA char(n)
// (created when missing) and loads the lines a client sends into it; `crtf`
// appends them; `addrec` is accepted and does nothing. Both uploads insert
// each record as the statement parameter DATA, so a record is stored as
// sent whatever characters it holds.
//
// Upload exchange after the command line: the client sends one record line,
// the server inserts it and answers one empty line, and so on, until the
// client sends "." alone; the server then answers 200 "OK". An error while
// emptying or inserting leaves the handler and becomes 500; the lines the
// client sends after that are read as commands. Runs on the connection's
// thread, in strict alternation with the client.
#pragma once

namespace velquarn {

class TCommandInvocation;

void SndfCommand(TCommandInvocation& invocation);
void CrtfCommand(TCommandInvocation& invocation);
void AddrecCommand(TCommandInvocation& invocation);

}  // namespace velquarn
