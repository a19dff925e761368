// The client library's readers of what a server sends: replies, data
// blocks, counted blocks, lines and byte runs. A loopback listener of the
// fuzzer's own plays the server: it sends the input (after its first three
// bytes, which choose the reads) and closes, so every read ends in data or
// in the client's exception, never in a hang, a crash or an overrun.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/velquarn_client.h"
#include "common/exceptions.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr size_t kMaxWire = 32 * 1024;  // fits the socket buffers: no writer thread

// The listening socket on 127.0.0.1 and its port, opened once.
struct TListener {
  int fd = -1;
  uint16_t port = 0;
  TListener() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    Check(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
          ::listen(fd, 16) == 0 &&
          ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    port = ntohs(address.sin_port);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TListener* listener = new TListener();
  if (size < 3 || size > kMaxWire) return 0;
  const uint32_t ops = data[0] | data[1] << 8 | data[2] << 16;
  const std::string_view wire(reinterpret_cast<const char*>(data) + 3, size - 3);

  velquarn::TVelquarnClient client;
  client.Connect("127.0.0.1", listener->port, 1000);
  client.SetReadTimeoutMs(1000);
  const int server = ::accept4(listener->fd, nullptr, nullptr, SOCK_CLOEXEC);
  Check(server >= 0);
  Check(::write(server, wire.data(), wire.size()) == static_cast<ssize_t>(wire.size()));
  ::close(server);

  try {
    for (int step = 0;; ++step) {
      switch ((ops >> (3 * (step % 8))) & 7) {
        case 0:
        case 1: {
          const velquarn::TClientReply reply = client.ReadReply();
          Check(reply.Code >= 0 && reply.Code <= 999);
          break;
        }
        case 2:
        case 3:
          for (const std::string& line : client.ReadDataBlock()) {
            Check(line.find('\n') == std::string::npos);
          }
          break;
        case 4:
        case 5:
          client.ReadCountedBlock();
          break;
        case 6:
          Check(client.ReadLine().find('\n') == std::string::npos);
          break;
        case 7:
          Check(client.ReadBytes(step % 5).size() == static_cast<size_t>(step % 5));
          break;
      }
    }
  } catch (const velquarn::Exception&) {
    // The stream's end or a malformed reply.
  }
  return 0;
}
