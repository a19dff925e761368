// The code page conversions at the server's edges. Every cp1252 text goes
// to UTF-8 and to UTF-16 and back unchanged; any UTF-8 or UTF-16 text comes
// in as cp1252 that then goes out and in again unchanged; the driver
// charsets do the same; the wire conversions keep the length.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/cp1252.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velquarn;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // The bytes as cp1252.
  const std::string utf8 = Cp1252ToUtf8(bytes);
  Check(Utf8ToCp1252(utf8) == bytes);
  const std::u16string utf16 = Cp1252ToUtf16(bytes);
  Check(utf16.size() == bytes.size());
  Check(Utf16ToCp1252(utf16.data(), utf16.size()) == bytes);

  // The bytes as UTF-8: what comes in is stable.
  const std::string from_utf8 = Utf8ToCp1252(bytes);
  Check(from_utf8.size() <= bytes.size());
  Check(Utf8ToCp1252(Cp1252ToUtf8(from_utf8)) == from_utf8);

  // The bytes as UTF-16 units (an odd last byte left out).
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  }
  const std::string from_utf16 = Utf16ToCp1252(units.data(), units.size());
  Check(from_utf16.size() <= units.size());
  const std::u16string back = Cp1252ToUtf16(from_utf16);
  Check(Utf16ToCp1252(back.data(), back.size()) == from_utf16);

  // The driver's charsets.
  const TCharset utf8_driver;
  Check(utf8_driver.FromDriver(utf8_driver.ToDriver(bytes)) == bytes);
  const TCharset cp1252_driver = TCharset::FromName("CP1252");
  Check(cp1252_driver.ToDriver(bytes) == bytes && cp1252_driver.FromDriver(bytes) == bytes);

  // The wire: one byte per character both ways.
  Check(ToWire(bytes).size() == bytes.size());
  Check(FromWire(bytes).size() == bytes.size());
  return 0;
}
