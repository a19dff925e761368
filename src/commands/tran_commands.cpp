#include "commands/tran_commands.h"

#include "commands/context_access.h"
#include "common/text.h"
#include "dataset/query.h"
#include "odbc/odbc_database.h"
#include "protocol/command_invocation.h"

namespace velquarn {

void TranCommand(TCommandInvocation& invocation) {
  // An open result is discarded even when the operand turns out to be wrong.
  RequireQuery(invocation).Close();
  const std::string& operand = invocation.UnparsedParams();
  if (SameText(operand, "start")) {
    RequireDatabase(invocation).StartTransaction();
  } else if (SameText(operand, "commit")) {
    RequireDatabase(invocation).Commit();
  } else if (SameText(operand, "rollback")) {
    RequireDatabase(invocation).Rollback();
  } else {
    invocation.SetReply(540, "unknown or missing parameter on TRAN command");
  }
}

}  // namespace velquarn
