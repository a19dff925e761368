// The PROXY protocol header reader on arbitrary bytes. A complete header
// must lie within the bytes and the bound, read the same with anything
// after it, and be waited for (not refused) on every shorter prefix; an
// address it yields must print and parse back to itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "protocol/proxy_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velquarn;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TProxyHeader header;
  const TProxyParse result = ParseProxyHeader(bytes, header);
  if (result != TProxyParse::kComplete) return 0;
  Check(header.length > 0 && header.length <= size);
  Check(header.length <= kMaxProxyHeaderLength);
  const std::string_view exact = bytes.substr(0, header.length);
  TProxyHeader again;
  Check(ParseProxyHeader(std::string(exact) + "test\r\n", again) == TProxyParse::kComplete);
  Check(again.length == header.length && again.source == header.source &&
        again.source_port == header.source_port);
  for (size_t prefix = 0; prefix < header.length; ++prefix) {
    Check(ParseProxyHeader(exact.substr(0, prefix), again) == TProxyParse::kNeedMore);
  }
  if (header.source) {
    const std::optional<TIpAddress> parsed = ParseIpAddress(header.source->ToString());
    Check(parsed && *parsed == *header.source);
  }
  return 0;
}
