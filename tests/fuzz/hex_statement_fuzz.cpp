// The execsql3 hex decoder on any parameter text: one byte per pair of
// characters, an odd last character ignored, and for text of hex digits
// the exact inverse of hex encoding in either case.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "commands/sql_commands.h"
#include "fuzz_check.h"

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view hex(reinterpret_cast<const char*>(data), size);
  const std::string statement = velquarn::DecodeHexStatement(hex);
  Check(statement.size() == hex.size() / 2);
  bool all_hex = true;
  for (char c : hex.substr(0, statement.size() * 2)) all_hex = all_hex && IsHexDigit(c);
  if (all_hex) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string encoded;
    for (char c : statement) {
      encoded += kDigits[static_cast<unsigned char>(c) >> 4];
      encoded += kDigits[static_cast<unsigned char>(c) & 15];
    }
    std::string lower(hex.substr(0, encoded.size()));
    for (char& c : lower) {
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
    Check(encoded == lower);
  }
  return 0;
}
