// Access to a connection's query and database component for the command
// handlers. Before `open` a connection has neither; these accessors then
// raise an error, so the command answers an error reply and the connection
// stays usable. Used on the connection's own thread.
#pragma once

namespace velquarn {

class TCommandInvocation;
class TDBContext;
class TcsQuery;
class TcsODBCDatabase;

// The connection's context as the service's context class; raises
// Exception "The connection has no database context" when the server was
// given another class.
TDBContext& DBContextOf(TCommandInvocation& invocation);
// The connection's query; raises Exception "No database open" before `open`.
TcsQuery& RequireQuery(TCommandInvocation& invocation);
// The connection's database component; raises Exception "No database open"
// before `open`.
TcsODBCDatabase& RequireDatabase(TCommandInvocation& invocation);

}  // namespace velquarn
