// The prepared-statement and procedure-call commands on the connection's
// query: `prep` stores a statement with named markers and makes every
// parameter input-output; `exec` assigns values by position and runs the
// stored statement; `call` builds and runs a procedure call from a name and
// argument values. Their errors escape to the server, and the command table
// gives all three the exception reply kPrepFailedReply: 512 with the bare
// message; data lines added before a failure are still sent after it. Run
// on the connection's thread.
#pragma once

namespace velquarn {

class TCommandInvocation;

inline constexpr int kPrepFailedReply = 512;

void PrepCommand(TCommandInvocation& invocation);
void ExecCommand(TCommandInvocation& invocation);
void CallCommand(TCommandInvocation& invocation);

}  // namespace velquarn
