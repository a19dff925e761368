#include "cli/display_text.h"

#include "common/cp1252.h"

namespace velquarn {

std::string WireFromUtf8(std::string_view utf8) {
  // Utf8ToCp1252 would turn the euro sign into 0x80, which the server reads
  // back as U+0080; the wire wants Latin-1.
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    char32_t cp = length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
    bool valid = length > 1 && i + length <= utf8.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      valid = (next & 0xC0) == 0x80;
      cp = cp << 6 | (next & 0x3F);
    }
    out += valid && cp <= 0xFF ? static_cast<char>(cp) : '?';
    i += valid ? length : 1;
  }
  return out;
}

std::string Utf8FromWire(std::string_view wire) {
  std::string out;
  out.reserve(wire.size());
  for (char c : wire) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

size_t DisplayWidth(std::string_view utf8) {
  size_t width = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  }
  return width;
}

}  // namespace velquarn
