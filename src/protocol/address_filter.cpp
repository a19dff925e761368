#include "protocol/address_filter.h"

#include <charconv>

#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

namespace {

// The entries of a comma-separated list, trimmed, empty ones left out.
std::vector<std::string> ListEntries(std::string_view value) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= value.size()) {
    size_t comma = value.find(',', start);
    if (comma == std::string_view::npos) comma = value.size();
    std::string entry = Trim(std::string(value.substr(start, comma - start)));
    if (!entry.empty()) entries.push_back(std::move(entry));
    start = comma + 1;
  }
  return entries;
}

bool BitsMatch(const TIpAddress& a, const TIpAddress& b, int prefix) {
  const int whole = prefix / 8;
  for (int i = 0; i < whole; ++i) {
    if (a.bytes[i] != b.bytes[i]) return false;
  }
  const int rest = prefix % 8;
  if (rest == 0) return true;
  const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
  return (a.bytes[whole] & mask) == (b.bytes[whole] & mask);
}

TIpAddress ClearHostBits(TIpAddress address, int prefix) {
  for (int bit = prefix; bit < 128; ++bit) {
    address.bytes[bit / 8] &= static_cast<uint8_t>(~(0x80 >> (bit % 8)));
  }
  return address;
}

}  // namespace

bool TAddressRange::Contains(const TIpAddress& address) const {
  return BitsMatch(base, address, prefix);
}

std::string TAddressRange::ToString() const {
  const bool v4 = base.IsV4() && prefix >= 96;
  return base.ToString() + "/" + std::to_string(v4 ? prefix - 96 : prefix);
}

std::optional<TAddressRange> ParseAddressRange(std::string_view text) {
  const size_t slash = text.find('/');
  const std::optional<TIpAddress> address = ParseIpAddress(text.substr(0, slash));
  if (!address) return std::nullopt;
  // An IPv4 literal counts its prefix over 32 bits, anything else over 128.
  const bool v4_literal = text.substr(0, slash).find(':') == std::string_view::npos;
  const int width = v4_literal ? 32 : 128;
  int length = width;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) {
      return std::nullopt;
    }
    if (length < 0 || length > width) return std::nullopt;
  }
  const int prefix = v4_literal ? 96 + length : length;
  return TAddressRange{ClearHostBits(*address, prefix), prefix};
}

TAddressFilter TAddressFilter::Parse(std::string_view key, std::string_view value) {
  TAddressFilter filter;
  for (const std::string& entry : ListEntries(value)) {
    if (entry.size() > 3 && SameText(entry.substr(0, 3), "CN=")) {
      filter.common_names_.push_back(entry.substr(3));
      continue;
    }
    const std::optional<TAddressRange> range = ParseAddressRange(entry);
    if (!range) {
      throw Exception(Format("Settings/%.*s: '%s' is not an IP address or CIDR range (nor CN=name)",
                             static_cast<int>(key.size()), key.data(), entry.c_str()));
    }
    filter.ranges_.push_back(*range);
  }
  if (filter.Empty() && !Trim(std::string(value)).empty()) {
    throw Exception(Format("Settings/%.*s: '%.*s' holds no IP address or CIDR range",
                           static_cast<int>(key.size()), key.data(), static_cast<int>(value.size()),
                           value.data()));
  }
  return filter;
}

bool TAddressFilter::Allows(const std::optional<TIpAddress>& peer,
                            const std::string& common_name) const {
  if (Empty()) return true;
  if (!common_name.empty()) {
    for (const std::string& name : common_names_) {
      if (name == common_name) return true;
    }
  }
  if (!peer) return false;
  for (const TAddressRange& range : ranges_) {
    if (range.Contains(*peer)) return true;
  }
  return false;
}

std::vector<TBinding> ParseListenAddresses(std::string_view key, std::string_view value,
                                           bool ipv6) {
  std::vector<TBinding> bindings;
  auto add = [&bindings](const TBinding& binding) {
    for (const TBinding& known : bindings) {
      if (known == binding) return;
    }
    bindings.push_back(binding);
  };
  std::vector<std::string> entries = ListEntries(value);
  if (entries.empty()) {
    if (!Trim(std::string(value)).empty()) {
      throw Exception(Format("Settings/%.*s: '%.*s' holds no address", static_cast<int>(key.size()),
                             key.data(), static_cast<int>(value.size()), value.data()));
    }
    entries.emplace_back("*");
  }
  for (const std::string& entry : entries) {
    if (entry == "*") {
      add(TBinding(TAddressFamily::kIPv4));
      if (ipv6) add(TBinding(TAddressFamily::kIPv6));
      continue;
    }
    const std::optional<TIpAddress> address = ParseIpAddress(entry);
    if (!address) {
      throw Exception(Format("Settings/%.*s: '%s' is not an IP address or '*'",
                             static_cast<int>(key.size()), key.data(), entry.c_str()));
    }
    add(TBinding(*address));
  }
  return bindings;
}

}  // namespace velquarn
