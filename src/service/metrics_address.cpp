#include "service/metrics_address.h"

#include <charconv>
#include <string>

#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

namespace {

[[noreturn]] void Refuse(const std::string& text) {
  throw Exception(Format(
      "Settings/MetricsAddress: '%s' is not an IP address with a port (127.0.0.1:9188, [::1]:9188)",
      text.c_str()));
}

}  // namespace

std::optional<TMetricsAddress> ParseMetricsAddress(std::string_view value) {
  const std::string text = Trim(value);
  if (text.empty()) return std::nullopt;
  // The port follows the last colon; an IPv6 host must then end in "]",
  // which keeps "::1:9188" from being read as an address without a port.
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) Refuse(text);
  const std::string host = text.substr(0, colon);
  const std::string port_text = text.substr(colon + 1);
  if (host.find(':') != std::string::npos && (host.front() != '[' || host.back() != ']')) {
    Refuse(text);
  }
  unsigned port = 0;
  const auto [end, error] =
      std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
  if (port_text.empty() || error != std::errc() || end != port_text.data() + port_text.size() ||
      port == 0 || port > 65535) {
    Refuse(text);
  }
  const std::optional<TIpAddress> address = ParseIpAddress(host);
  if (!address) Refuse(text);
  return TMetricsAddress{*address, static_cast<uint16_t>(port)};
}

}  // namespace velquarn
