// The transaction command `tran`: start, commit or roll back a transaction on
// the main connection of the connection's database component. Statements
// that run on the query's own pooled connection (`sql`, `exec`, the uploads)
// are outside it.
//
// The query is closed first whatever the operand. The operand is the whole
// raw parameter text, compared without letter case and without trimming;
// anything else answers 540. Errors of the database component and its driver
// leave the handler and become 500. Runs on the connection's thread.
#pragma once

namespace velquarn {

class TCommandInvocation;

void TranCommand(TCommandInvocation& invocation);

}  // namespace velquarn
