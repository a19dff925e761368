// The server's readers of what a client sends after a command: lines,
// dotted blocks (lines up to "." alone, as sqlbatch and sndf read them),
// counted blocks of lines and raw byte runs. The input's first bytes choose
// the line limit and the order of the reads; the rest arrives on a socket
// whose sending end is then shut, so every read ends in data or in the
// connection's own exception, never in a hang, a crash or an overrun.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/exceptions.h"
#include "fuzz_check.h"
#include "protocol/connection.h"

namespace {

constexpr size_t kMaxWire = 32 * 1024;  // fits a socket buffer: no writer thread

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using velquarn::TConnection;
  if (size < 4 || size > kMaxWire) return 0;
  const size_t max_line = 1 + data[0] * 4;
  const uint32_t ops = data[1] | data[2] << 8 | data[3] << 16;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
  const std::string_view wire(reinterpret_cast<const char*>(data) + 4, size - 4);
  Check(::write(fds[1], wire.data(), wire.size()) == static_cast<ssize_t>(wire.size()));
  ::close(fds[1]);

  TConnection connection(velquarn::TSocket(fds[0]), max_line, 1000);
  try {
    for (int step = 0;; ++step) {
      switch ((ops >> (2 * (step % 12))) & 3) {
        case 0: {
          const std::string line = connection.ReadLine();
          Check(line.find('\n') == std::string::npos && line.size() <= max_line);
          break;
        }
        case 1:
          for (std::string line = connection.ReadBlockLine(); line != ".";
               line = connection.ReadBlockLine()) {
            Check(line.find('\n') == std::string::npos && line.size() <= max_line);
          }
          break;
        case 2: {
          size_t total = 0;
          for (const std::string& line : connection.ReadCountedLines()) {
            Check(line.find('\n') == std::string::npos);
            total += line.size();
          }
          Check(total <= max_line);
          break;
        }
        case 3:
          Check(connection.ReadBytes(step % 7).size() == static_cast<size_t>(step % 7));
          break;
      }
    }
  } catch (const velquarn::Exception&) {
    // The connection's end: closed by the peer, a line too long, a timeout.
  }
  return 0;
}
