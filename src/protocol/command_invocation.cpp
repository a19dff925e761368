#include "protocol/command_invocation.h"

#include <limits>

#include "common/exceptions.h"
#include "protocol/param_split.h"

namespace velquarn {

std::string EncodeByteCount(uint32_t count) {
  std::string bytes(4, '\0');
  bytes[0] = static_cast<char>(count >> 24);
  bytes[1] = static_cast<char>(count >> 16);
  bytes[2] = static_cast<char>(count >> 8);
  bytes[3] = static_cast<char>(count);
  return bytes;
}

TCommandInvocation::TCommandInvocation(const TCommandHandler& command, TContext& context,
                                       std::string raw_line)
    : command_(command),
      context_(context),
      raw_line_(std::move(raw_line)),
      reply_(command.NormalReply),
      disconnect_(command.Disconnect) {
  if (raw_line_.size() > command_.Command.size()) {
    unparsed_params_ = raw_line_.substr(command_.Command.size() + 1);
  }
  if (command_.ParseParams) params_ = SplitParams(unparsed_params_, command_.ParamDelimiter);
}

void TCommandInvocation::SetReply(int code, std::string_view text) { reply_.SetReply(code, text); }

void TCommandInvocation::SendReply() {
  reply_.FillDefaultText();
  Connection().Write(reply_.FormatWire());
  perform_reply_ = false;
}

void TCommandInvocation::SendReplyWith(std::string_view bytes) {
  reply_.FillDefaultText();
  Connection().Write(reply_.FormatWire(), bytes);
  perform_reply_ = false;
}

void TCommandInvocation::WriteLine(std::string_view line) { Connection().WriteLine(line); }

void TCommandInvocation::WriteStream(std::string_view bytes, bool with_count) {
  if (!with_count) {
    Connection().Write(bytes);
    return;
  }
  if (bytes.size() > std::numeric_limits<uint32_t>::max()) {
    throw Exception("Stream too large for a 4-byte count");
  }
  // One write for count and payload keeps them in one segment when small.
  std::string block = EncodeByteCount(static_cast<uint32_t>(bytes.size()));
  if (bytes.size() <= 64 * 1024) {
    block.append(bytes);
    Connection().Write(block);
  } else {
    Connection().Write(block);
    Connection().Write(bytes);
  }
}

std::string TCommandInvocation::ReadLine() { return Connection().ReadBlockLine(); }

std::vector<std::string> TCommandInvocation::ReadCountedLines() {
  return Connection().ReadCountedLines();
}

void TCommandInvocation::Close() { Connection().Close(); }

}  // namespace velquarn
