// The channel between the service's process and one session's worker
// process: a stream socketpair carrying framed messages, each a 4-byte
// big-endian length, a kind byte and text. The hand-off message also
// carries the client's socket (SCM_RIGHTS).
//
// The worker says kReady once it can serve, kBegin before each command
// (its section's QueryTimeout, the section and the command line), kDone
// after each (the command's index, reply code and duration, then its
// counters), the pair again around the rows a `get` reads ahead after its
// answer (kBegin with the same line, an empty kDone that counts no
// command), and kEnd with its last counters when the session is over. The
// service sends kHandOff once, with the socket.
//
// Thread-safety: a channel end is used by one thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "protocol/socket.h"

namespace velquarn {

enum class TWorkerMessageKind : char {
  kReady = 'R',
  kHandOff = 'H',
  kBegin = 'B',
  kDone = 'D',
  kEnd = 'E',
};

struct TWorkerMessage {
  TWorkerMessageKind kind = TWorkerMessageKind::kReady;
  std::string text;
  TSocket socket;  // the descriptor that came with the message, if any
};

// Longer messages are refused on both sides.
inline constexpr size_t kMaxWorkerMessage = 16 * 1024 * 1024;

// Two connected ends (close-on-exec); raises ESocketError.
void MakeWorkerChannel(TSocket& service_end, TSocket& worker_end);

// Sends one message, with pass_fd attached when it is not -1. Raises
// ESocketError when the other end is gone.
void SendWorkerMessage(int channel, TWorkerMessageKind kind, std::string_view text,
                       int pass_fd = -1);

enum class TWorkerReceive { kMessage, kTimeout, kClosed };
// Waits up to timeout_ms (negative: no limit) for the start of a message,
// then reads it whole. kClosed when the other end closed or sent something
// that is not a message.
TWorkerReceive ReceiveWorkerMessage(int channel, int timeout_ms, TWorkerMessage& message);

}  // namespace velquarn
