// The commands that begin and end a client's work on a connection: `open`,
// `close`, `clear` and `quit`, and the pieces of `open` that need no
// connection (parameter reading, the database component's name).
//
// All functions run on the calling connection's thread and touch only that
// connection's context.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velquarn {

class TCommandInvocation;
struct TCommandEnvironment;

// The parameters of `open` by position: 0 the open name; 1 and 2 the user id
// and password unless they begin with "!"; a module name at 1 or 3 and a
// module date at 2 or 4 when they begin with "!" (3 and 4 win). Anything
// after position 4 is ignored.
struct TOpenParams {
  std::string open_name;
  std::string user_id;
  std::string password;
  bool has_module = false;  // a module parameter was given
  std::string module_name;  // without its "!"
  int32_t module_date = 0;  // 0 when missing or not a decimal number
};
TOpenParams ParseOpenParams(const std::vector<std::string>& params);

// The name under which a connection's database component is registered: the
// open name, the connection's number and the tick count, run together.
std::string BuildDatabaseComponentName(std::string_view open_name, uint64_t connection_number,
                                       uint32_t tick_count);

// The items of a `DriverParams` value: split at commas only (blanks belong to
// the values); a double-quoted part may hold commas, "" in it stands for one
// quote. Empty items are dropped.
std::vector<std::string> SplitDriverParams(std::string_view text);

// The 599 reply text for a rejected module, in code page 1252.
std::string ClientVersionRejectedText(std::string_view module_name);

// The command handlers. `open` answers 200, 599 (module rejected) or 503
// (the database component could not be created or parameterised).
void OpenCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment);
void CloseCommand(TCommandInvocation& invocation);
// Releases the query's open cursor; swallows every error.
void ClearCommand(TCommandInvocation& invocation);

}  // namespace velquarn
