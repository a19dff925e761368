// The SQL execution commands `sql`, `execsql2`, `execsql3` and `sqlbatch`,
// and the pieces they share: the where-clause guard, the connection-loss test
// and the hex statement of `execsql3`.
//
// Every handler catches its own errors and answers 512 with its prefix; the
// connection stays usable. Handlers run on the connection's thread and touch
// only that connection's query.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace velquarn {

class TCommandInvocation;
struct TCommandEnvironment;

// False when the statement (trimmed) begins with "delete" or "update",
// ignoring case, and its lower-cased text has no " where ".
bool PassesWhereGuard(std::string_view statement);

// The text of the refusal, "**Allvarligt fel ...** " and the statement.
std::string WhereGuardMessage(std::string_view statement);

// True when a driver's message names a lost connection to a host database
// whose client reports it only in the message text: by its message
// identifiers CWBCO1003 (and CWBCO1047 with include_cwbco1047), matched
// with their surrounding blanks and with case. That driver gives these
// failures under SQLSTATEs that other failures share too, and no native
// code is known to stand for them, so the message is the only field that
// tells; this is the one place that reads it.
bool IsConnectionLoss(std::string_view message, bool include_cwbco1047);
// Whether a failed statement lost its connection, decided from the fields
// of the error's diagnostic records: a SqlState of class 08 or 57P01 (the
// server ended the session), or a Message the test above recognises. Any
// other exception is no connection loss.
bool IsConnectionLoss(const std::exception& error, bool include_cwbco1047);

// Decodes pairs of hex digits (either case); an odd last character is
// ignored. Pairs that are not hex digits decode as their digits' low bits
// would suggest; the length check is the only validation.
std::string DecodeHexStatement(std::string_view hex);

void SqlCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment);
void ExecSql2Command(TCommandInvocation& invocation, const TCommandEnvironment& environment);
void ExecSql3Command(TCommandInvocation& invocation, const TCommandEnvironment& environment);
void SqlBatchCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment);

}  // namespace velquarn
