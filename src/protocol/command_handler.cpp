#include "protocol/command_handler.h"

#include "common/text.h"

namespace velquarn {

bool TCommandHandler::Matches(std::string_view line) const {
  if (line.size() < Command.size()) return false;
  if (!SameText(line.substr(0, Command.size()), Command)) return false;
  return line.size() == Command.size() || line[Command.size()] == CmdDelimiter;
}

TCommandHandler MakeCommand(std::string command, char param_delimiter, TCommandFunc handler) {
  TCommandHandler entry;
  entry.Command = std::move(command);
  entry.ParamDelimiter = param_delimiter;
  entry.OnCommand = std::move(handler);
  return entry;
}

}  // namespace velquarn
