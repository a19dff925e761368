// TCommandInvocation: the record a command handler receives for one matched
// line, and the operations it offers the handler. The server builds it,
// calls the handler, then sends the reply (unless the handler sent it
// already) and the response lines as a data block. Lives for one command on
// the connection's thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/command_handler.h"
#include "protocol/connection_context.h"
#include "protocol/reply.h"

namespace velquarn {

class TCommandInvocation {
 public:
  TCommandInvocation(const TCommandHandler& command, TContext& context, std::string raw_line);
  TCommandInvocation(const TCommandInvocation&) = delete;
  TCommandInvocation& operator=(const TCommandInvocation&) = delete;

  const std::string& RawLine() const { return raw_line_; }
  const TCommandHandler& CommandHandler() const { return command_; }
  // Everything after the command word and its one delimiter, unchanged.
  const std::string& UnparsedParams() const { return unparsed_params_; }
  // The raw parameter text split by the command's ParamDelimiter.
  const std::vector<std::string>& Params() const { return params_; }
  TContext& Context() { return context_; }
  TConnection& Connection() { return context_.Connection(); }

  TReply& Reply() { return reply_; }
  std::vector<std::string>& Response() { return response_; }
  bool PerformReply() const { return perform_reply_; }
  bool SendEmptyResponse() const { return send_empty_response_; }
  void SetSendEmptyResponse(bool value) { send_empty_response_ = value; }
  bool Disconnect() const { return disconnect_; }
  void SetDisconnect(bool value) { disconnect_ = value; }

  // Sets the reply's code (Exception "Reply Code is not valid: %s" outside
  // 100..999) and its text, split into lines.
  void SetReply(int code, std::string_view text);
  // Sends the reply now, with its default text filled in, and clears the
  // reply-pending flag so the server does not send it again. Call it before
  // writing data directly to the connection.
  void SendReply();
  // SendReply with bytes that follow the reply (a counted block) in the
  // same write, so that a client waiting for both is woken once.
  void SendReplyWith(std::string_view bytes);
  // Appends a line to the data block sent after the reply.
  void AddResponse(std::string line) { response_.push_back(std::move(line)); }

  // Writes the line and CR LF, without dot-stuffing.
  void WriteLine(std::string_view line);
  // Writes bytes as they stand; with_count puts their length in front as a
  // 4-byte unsigned big-endian count (Exception when they exceed 4 GiB - 1).
  void WriteStream(std::string_view bytes, bool with_count);
  // Reads a line of the command's own block; a read timeout raises
  // EReadTimeout, which ends the command and closes the connection.
  std::string ReadLine();
  // Reads a counted block of lines: a 4-byte signed big-endian count, then
  // that many lines (EReadTimeout as ReadLine).
  std::vector<std::string> ReadCountedLines();
  // Closes the connection; the server then sends nothing more.
  void Close();

 private:
  const TCommandHandler& command_;
  TContext& context_;
  std::string raw_line_;
  std::string unparsed_params_;
  std::vector<std::string> params_;
  TReply reply_;
  std::vector<std::string> response_;
  bool perform_reply_ = true;
  bool send_empty_response_ = false;
  bool disconnect_;
};

// The 4-byte unsigned big-endian count of a counted block.
std::string EncodeByteCount(uint32_t count);

}  // namespace velquarn
