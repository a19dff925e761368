#include "protocol/proxy_header.h"

#include <charconv>
#include <cstring>
#include <string>
#include <vector>

namespace velquarn {

namespace {

constexpr std::string_view kV1Prefix = "PROXY ";
constexpr size_t kV1MaxLength = 107;
constexpr std::string_view kV2Signature("\x0D\x0A\x0D\x0A\x00\x0D\x0A\x51\x55\x49\x54\x0A", 12);
constexpr size_t kV2FixedLength = 16;

// True while bytes still agree with the start of `whole`.
bool AgreesWith(std::string_view bytes, std::string_view whole) {
  const size_t n = std::min(bytes.size(), whole.size());
  return bytes.substr(0, n) == whole.substr(0, n);
}

std::vector<std::string_view> SplitBlanks(std::string_view text) {
  std::vector<std::string_view> words;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

bool ParsePort(std::string_view text, uint16_t& port) {
  // Decimal without a sign or leading zeros, as the header is written.
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return false;
  unsigned value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value > 65535) {
    return false;
  }
  port = static_cast<uint16_t>(value);
  return true;
}

TProxyParse ParseV1(std::string_view bytes, TProxyHeader& header) {
  const size_t end = bytes.find("\r\n");
  if (end == std::string_view::npos) {
    if (bytes.size() >= kV1MaxLength || bytes.find('\n') != std::string_view::npos) {
      return TProxyParse::kInvalid;
    }
    return TProxyParse::kNeedMore;
  }
  // A bare LF inside the line is no header; refused as it was while the
  // line was incomplete.
  if (end + 2 > kV1MaxLength || bytes.substr(0, end).find('\n') != std::string_view::npos) {
    return TProxyParse::kInvalid;
  }
  header = TProxyHeader{};
  header.length = end + 2;
  const std::vector<std::string_view> words = SplitBlanks(bytes.substr(0, end));
  if (words.size() >= 2 && words[1] == "UNKNOWN") return TProxyParse::kComplete;
  if (words.size() != 6 || (words[1] != "TCP4" && words[1] != "TCP6")) {
    return TProxyParse::kInvalid;
  }
  const bool v4 = words[1] == "TCP4";
  std::optional<TIpAddress> source = ParseIpAddress(words[2]);
  std::optional<TIpAddress> destination = ParseIpAddress(words[3]);
  // ParseIpAddress also takes brackets and mapped forms; the header allows
  // only the plain form of its family.
  auto plain = [v4](std::string_view text, const std::optional<TIpAddress>& address) {
    return address && address->IsV4() == v4 && text.front() != '[' &&
           (v4 || text.find('.') == std::string_view::npos);
  };
  uint16_t destination_port = 0;
  if (!plain(words[2], source) || !plain(words[3], destination) ||
      !ParsePort(words[4], header.source_port) || !ParsePort(words[5], destination_port)) {
    return TProxyParse::kInvalid;
  }
  header.source = source;
  return TProxyParse::kComplete;
}

TProxyParse ParseV2(std::string_view bytes, TProxyHeader& header) {
  if (bytes.size() < kV2FixedLength) return TProxyParse::kNeedMore;
  const auto byte = [&bytes](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  const uint8_t version_command = byte(12);
  const uint8_t family = byte(13);
  const size_t address_length = static_cast<size_t>(byte(14)) << 8 | byte(15);
  if (version_command >> 4 != 2 || (version_command & 0x0F) > 1) return TProxyParse::kInvalid;
  if (kV2FixedLength + address_length > kMaxProxyHeaderLength) return TProxyParse::kInvalid;
  if (bytes.size() < kV2FixedLength + address_length) return TProxyParse::kNeedMore;
  header = TProxyHeader{};
  header.length = kV2FixedLength + address_length;
  const bool local = (version_command & 0x0F) == 0;
  // LOCAL, or an address family other than TCP/UDP over IPv4/IPv6 (a UNIX
  // socket, UNSPEC): no client address to take.
  const uint8_t address_family = family >> 4;
  if (local || (address_family != 1 && address_family != 2)) return TProxyParse::kComplete;
  const size_t needed = address_family == 1 ? 12 : 36;
  if (address_length < needed) return TProxyParse::kInvalid;
  const char* block = bytes.data() + kV2FixedLength;
  TIpAddress source;
  size_t port_offset;
  if (address_family == 1) {
    source.bytes[10] = 0xFF;
    source.bytes[11] = 0xFF;
    std::memcpy(&source.bytes[12], block, 4);
    port_offset = 8;
  } else {
    std::memcpy(source.bytes.data(), block, 16);
    port_offset = 32;
  }
  header.source = source;
  header.source_port = static_cast<uint16_t>(static_cast<uint8_t>(block[port_offset]) << 8 |
                                             static_cast<uint8_t>(block[port_offset + 1]));
  return TProxyParse::kComplete;
}

}  // namespace

TProxyParse ParseProxyHeader(std::string_view bytes, TProxyHeader& header) {
  if (bytes.empty()) return TProxyParse::kNeedMore;
  if (AgreesWith(bytes, kV2Signature)) {
    return bytes.size() < kV2Signature.size() ? TProxyParse::kNeedMore : ParseV2(bytes, header);
  }
  if (AgreesWith(bytes, kV1Prefix)) {
    return bytes.size() < kV1Prefix.size() ? TProxyParse::kNeedMore : ParseV1(bytes, header);
  }
  return TProxyParse::kInvalid;
}

}  // namespace velquarn
