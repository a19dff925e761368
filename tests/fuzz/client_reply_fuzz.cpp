// The client library's readers of what a server sends: replies, data
// blocks, counted blocks, lines and byte runs. A loopback listener of the
// fuzzer's own plays the server: it sends the input (after its first three
// bytes, which choose the reads) and closes, so every read ends in data or
// in the client's exception, never in a hang, a crash or an overrun.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/velquarn_client.h"
#include "common/exceptions.h"
#include "fuzz_check.h"
#include "fuzz_listener.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* listener = new velquarn::fuzz::TListener();
  if (size < 3 || size > velquarn::fuzz::kMaxWire) return 0;
  const uint32_t ops = data[0] | data[1] << 8 | data[2] << 16;
  const std::string_view wire(reinterpret_cast<const char*>(data) + 3, size - 3);

  velquarn::TVelquarnClient client;
  listener->Serve(client, wire);

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
