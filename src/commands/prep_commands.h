// The prepared-statement and procedure-call commands on the connection's
// query: `prep` stores a statement with named markers and makes every
// parameter input-output; `exec` assigns values by position and runs the
// stored statement; `call` builds and runs a procedure call from a name and
// argument values. All three catch their own errors and answer 512 with the
// bare message; data lines added before a failure are still sent after it.
// Run on the connection's thread.
#pragma once

namespace velquarn {

class TCommandInvocation;

void PrepCommand(TCommandInvocation& invocation);
void ExecCommand(TCommandInvocation& invocation);
void CallCommand(TCommandInvocation& invocation);

}  // namespace velquarn
