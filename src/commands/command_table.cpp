#include "commands/command_table.h"

#include "commands/prep_commands.h"
#include "commands/sys_commands.h"
#include "commands/tran_commands.h"
#include "commands/upload_commands.h"
#include "common/exceptions.h"
#include "common/text.h"
#include "protocol/command_invocation.h"

namespace velquarn {

namespace {

// Until `open` exists no connection can have a database, so every command
// that works on one fails the way it must before `open`.
void RequiresDatabase(TCommandInvocation& /*invocation*/) {
  throw Exception("No database open");
}

TCommandFunc NotAvailable(const char* command) {
  return [command](TCommandInvocation&) {
    throw Exception(Format("Command not available: %s", command));
  };
}

void Quit(TCommandInvocation& invocation) { invocation.Close(); }

}  // namespace

TCommandTable BuildCommandTable(TCommandEnvironment& environment) {
  TCommandTable table;
  table.push_back(MakeCommand("sql", ' ', RequiresDatabase));
  table.push_back(MakeCommand("quit", ' ', Quit));
  table.push_back(MakeCommand("get", ' ', RequiresDatabase));
  table.push_back(MakeCommand("open", ' ', NotAvailable("open")));
  table.push_back(MakeCommand("close", ' ', RequiresDatabase));
  table.push_back(MakeCommand("info", ' ', RequiresDatabase));
  table.push_back(MakeCommand("test", ' ', nullptr));
  table.push_back(MakeCommand("tran", ' ', TranCommand));
  table.push_back(MakeCommand("prep", ' ', PrepCommand));
  table.push_back(MakeCommand("exec", ',', ExecCommand));
  table.push_back(MakeCommand("clear", ' ', RequiresDatabase));
  table.push_back(MakeCommand("sys", ' ', [&environment](TCommandInvocation& invocation) {
    SysCommand(invocation, environment);
  }));
  table.push_back(MakeCommand("sndf", ' ', SndfCommand));
  table.push_back(MakeCommand("call", ',', CallCommand));
  table.push_back(MakeCommand("sqlbatch", ' ', RequiresDatabase));
  table.push_back(MakeCommand("crtf", ' ', CrtfCommand));
  table.push_back(MakeCommand("addrec", ' ', AddrecCommand));
  table.push_back(MakeCommand("execsql2", ' ', RequiresDatabase));
  table.push_back(MakeCommand("infoJSON", ' ', RequiresDatabase));
  table.push_back(MakeCommand("getJSON", ' ', RequiresDatabase));
  table.push_back(MakeCommand("execsql3", ' ', RequiresDatabase));
  return table;
}

}  // namespace velquarn
