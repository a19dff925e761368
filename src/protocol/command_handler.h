// TCommandHandler: one entry of the command table: the command word, how its
// line is split, its replies and its handler. The table is a plain vector in
// dispatch order; the server tries the entries in that order and the first
// match handles the line. Tables are built before the server is activated
// and only read afterwards, so connection threads share them without a lock.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/reply.h"

namespace velquarn {

class TCommandInvocation;

using TCommandFunc = std::function<void(TCommandInvocation& invocation)>;

struct TCommandHandler {
  std::string Command;
  char CmdDelimiter = ' ';
  char ParamDelimiter = ' ';
  bool ParseParams = true;
  TReply NormalReply{200, ""};
  TReply ExceptionReply;  // blank: the server's ExceptionReply applies
  bool Disconnect = false;
  bool Enabled = true;
  std::vector<std::string> Description;
  bool HelpVisible = true;
  // Sent as a data block when the handler leaves its response lines empty.
  std::vector<std::string> Response;
  TCommandFunc OnCommand;  // empty: the command answers its NormalReply

  // The line is the command word alone or begins with it and CmdDelimiter;
  // both compare without letter case.
  bool Matches(std::string_view line) const;
};

using TCommandTable = std::vector<TCommandHandler>;

// A command with the default properties and the given handler.
TCommandHandler MakeCommand(std::string command, char param_delimiter, TCommandFunc handler);

}  // namespace velquarn
