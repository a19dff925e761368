// The result commands: `get` and `info` (rows and the XML column
// description as counted blocks) and `getJSON` and `infoJSON` (the JSON row
// document and column list as counted blocks).
//
// Replies: 521 "No query active" before `open` (get, getJSON); 522 "EOF"
// when the query is closed or at its end (get); 523 "No result set" when
// the query has no fields (info, infoJSON); 500 "[Velquarn.Get]:" and the
// message when building rows fails (get, getJSON). An invalid row count, a
// getJSON on a closed query and info / infoJSON before `open` fail through
// the server's general error reply.
//
// Runs on the connection's thread. Each connection thread keeps one payload
// buffer that all its replies reuse.
//
// The rows sent by `get` and `getJSON` are added to the environment's
// metrics, once per reply.
#pragma once

namespace velquarn {

class TCommandInvocation;
struct TCommandEnvironment;

void GetCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment);
void InfoCommand(TCommandInvocation& invocation);
void GetJsonCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment);
void InfoJsonCommand(TCommandInvocation& invocation);

}  // namespace velquarn
