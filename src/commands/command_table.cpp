#include "commands/command_table.h"

#include "commands/get_commands.h"
#include "commands/open_commands.h"
#include "commands/prep_commands.h"
#include "commands/sql_commands.h"
#include "commands/sys_commands.h"
#include "commands/tran_commands.h"
#include "commands/upload_commands.h"
#include "common/exceptions.h"
#include "common/text.h"
#include "protocol/command_invocation.h"

namespace velquarn {

namespace {

// A handler that reads the service's shared state.
TCommandFunc WithEnvironment(void (*handler)(TCommandInvocation&, const TCommandEnvironment&),
                             const TCommandEnvironment& environment) {
  return
      [handler, &environment](TCommandInvocation& invocation) { handler(invocation, environment); };
}

void Quit(TCommandInvocation& invocation) { invocation.Close(); }

// A command whose errors answer `code` with their bare message instead of
// the server's exception reply.
TCommandHandler WithExceptionReply(TCommandHandler command, int code) {
  command.ExceptionReply = TReply(code, "");
  return command;
}

}  // namespace

TCommandTable BuildCommandTable(TCommandEnvironment& environment) {
  TCommandTable table;
  table.push_back(MakeCommand("sql", ' ', WithEnvironment(SqlCommand, environment)));
  table.push_back(MakeCommand("quit", ' ', Quit));
  table.push_back(MakeCommand("get", ' ', WithEnvironment(GetCommand, environment)));
  table.push_back(MakeCommand("open", ' ', WithEnvironment(OpenCommand, environment)));
  table.push_back(MakeCommand("close", ' ', CloseCommand));
  table.push_back(MakeCommand("info", ' ', InfoCommand));
  table.push_back(MakeCommand("test", ' ', nullptr));
  table.push_back(MakeCommand("tran", ' ', TranCommand));
  table.push_back(WithExceptionReply(MakeCommand("prep", ' ', PrepCommand), kPrepFailedReply));
  table.push_back(WithExceptionReply(MakeCommand("exec", ',', ExecCommand), kPrepFailedReply));
  table.push_back(MakeCommand("clear", ' ', ClearCommand));
  table.push_back(MakeCommand("sys", ' ', [&environment](TCommandInvocation& invocation) {
    SysCommand(invocation, environment);
  }));
  table.push_back(MakeCommand("sndf", ' ', SndfCommand));
  table.push_back(WithExceptionReply(MakeCommand("call", ',', CallCommand), kPrepFailedReply));
  table.push_back(MakeCommand("sqlbatch", ' ', WithEnvironment(SqlBatchCommand, environment)));
  table.push_back(MakeCommand("crtf", ' ', CrtfCommand));
  table.push_back(MakeCommand("addrec", ' ', AddrecCommand));
  table.push_back(MakeCommand("execsql2", ' ', WithEnvironment(ExecSql2Command, environment)));
  table.push_back(MakeCommand("infoJSON", ' ', InfoJsonCommand));
  table.push_back(MakeCommand("getJSON", ' ', WithEnvironment(GetJsonCommand, environment)));
  table.push_back(MakeCommand("execsql3", ' ', WithEnvironment(ExecSql3Command, environment)));
  return table;
}

}  // namespace velquarn
