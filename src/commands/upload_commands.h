// The upload commands: `sndf` empties a one-column table (created when
// missing) and loads the lines a client sends into it; `crtf` appends them;
// `addrec` is accepted and does nothing.
//
// Upload exchange after the command line: the client sends one record line,
// the server inserts it and answers one empty line, and so on, until the
// client sends "." alone; the server then answers 200 "OK". An error while
// emptying or inserting leaves the handler and becomes 500; the lines the
// client sends after that are read as commands. Runs on the connection's
// thread, in strict alternation with the client.
#pragma once

#include <string>

namespace velquarn {

class TCommandInvocation;

// The statement that creates the upload table: one column DATA of type
// char(record_size), the size inserted as sent.
std::string UploadCreateStatement(const std::string& table, const std::string& record_size);
// The insert statement with the record as the parameter DATA.
std::string UploadInsertStatement(const std::string& table);

void SndfCommand(TCommandInvocation& invocation);
void CrtfCommand(TCommandInvocation& invocation);
void AddrecCommand(TCommandInvocation& invocation);

}  // namespace velquarn
