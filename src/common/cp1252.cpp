#include "common/cp1252.h"

#include <array>
#include <cstring>

#include "common/text.h"

namespace velquarn {

namespace {

// Code points of the bytes 0x80..0x9F; the five bytes that the code page
// leaves undefined map to the C1 control of the same number.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

constexpr std::array<char16_t, 256> MakeToUnicode() {
  std::array<char16_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    table[b] = (b >= 0x80 && b < 0xA0) ? kHighControls[b - 0x80] : static_cast<char16_t>(b);
  }
  return table;
}

constexpr auto kToUnicode = MakeToUnicode();

// The outgoing wire byte of each cp1252 byte (design edge 1).
constexpr std::array<char, 256> MakeToWire() {
  std::array<char, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    table[b] = kToUnicode[b] <= 0xFF ? static_cast<char>(kToUnicode[b]) : '?';
  }
  return table;
}

constexpr auto kToWire = MakeToWire();

// The incoming wire byte is a code point 0..255; only the C1 controls that
// cp1252 keeps (its undefined bytes) survive, the others become '?'.
constexpr std::array<char, 256> MakeFromWire() {
  std::array<char, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    table[b] = kToUnicode[b] == b ? static_cast<char>(b) : '?';
  }
  return table;
}

constexpr auto kFromWire = MakeFromWire();

inline void AppendUtf8(std::string& out, char32_t cp) {
  char bytes[kMaxUtf8Bytes];
  out.append(bytes, EncodeUtf8(cp, bytes));
}

inline bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the run of ASCII bytes at the start, eight bytes at a time:
// most text is ASCII and is copied in bulk.
size_t AsciiRun(const char* data, size_t size) {
  size_t pos = 0;
  while (pos + 8 <= size) {
    uint64_t block;
    std::memcpy(&block, data + pos, 8);
    if ((block & 0x8080808080808080ull) != 0) break;
    pos += 8;
  }
  while (pos < size && static_cast<unsigned char>(data[pos]) < 0x80) ++pos;
  return pos;
}

}  // namespace

char32_t Cp1252ToCodePoint(unsigned char byte) { return kToUnicode[byte]; }

char CodePointToCp1252(char32_t code_point) {
  if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) {
    return static_cast<char>(code_point);
  }
  switch (code_point) {
    case 0x0081:
      return '\x81';
    case 0x008D:
      return '\x8D';
    case 0x008F:
      return '\x8F';
    case 0x0090:
      return '\x90';
    case 0x009D:
      return '\x9D';
    case 0x20AC:
      return '\x80';
    case 0x201A:
      return '\x82';
    case 0x0192:
      return '\x83';
    case 0x201E:
      return '\x84';
    case 0x2026:
      return '\x85';
    case 0x2020:
      return '\x86';
    case 0x2021:
      return '\x87';
    case 0x02C6:
      return '\x88';
    case 0x2030:
      return '\x89';
    case 0x0160:
      return '\x8A';
    case 0x2039:
      return '\x8B';
    case 0x0152:
      return '\x8C';
    case 0x017D:
      return '\x8E';
    case 0x2018:
      return '\x91';
    case 0x2019:
      return '\x92';
    case 0x201C:
      return '\x93';
    case 0x201D:
      return '\x94';
    case 0x2022:
      return '\x95';
    case 0x2013:
      return '\x96';
    case 0x2014:
      return '\x97';
    case 0x02DC:
      return '\x98';
    case 0x2122:
      return '\x99';
    case 0x0161:
      return '\x9A';
    case 0x203A:
      return '\x9B';
    case 0x0153:
      return '\x9C';
    case 0x017E:
      return '\x9E';
    case 0x0178:
      return '\x9F';
    default:
      return '?';
  }
}

size_t EncodeUtf8(char32_t code_point, char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | ((code_point >> 12) & 0x0F));
  out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 3;
}

std::string Cp1252ToUtf8(std::string_view text) {
  size_t pos = AsciiRun(text.data(), text.size());
  if (pos == text.size()) return std::string(text);
  std::string out;
  out.reserve(text.size() + text.size() / 4 + 4);
  out.append(text.data(), pos);
  while (pos < text.size()) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {
      const size_t run = AsciiRun(text.data() + pos, text.size() - pos);
      out.append(text.data() + pos, run);
      pos += run;
    } else {
      AppendUtf8(out, kToUnicode[byte]);
      ++pos;
    }
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  const size_t size = text.size();
  size_t pos = AsciiRun(text.data(), size);
  if (pos == size) return std::string(text);
  std::string out;
  out.reserve(size);
  out.append(text.data(), pos);
  while (pos < size) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
      const size_t run = AsciiRun(text.data() + pos, size - pos);
      out.append(text.data() + pos, run);
      pos += run;
      continue;
    }
    // Sequence length and the range the second byte must fall in, so that
    // overlong forms, surrogates and values above U+10FFFF are refused.
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out += '?';
      ++pos;
      continue;
    }
    // A bad or missing continuation ends the bad sequence before that byte.
    size_t taken = 1;
    bool valid = true;
    for (; taken < length; ++taken) {
      if (pos + taken >= size) {
        valid = false;
        break;
      }
      const auto next = static_cast<unsigned char>(text[pos + taken]);
      const bool in_range = taken == 1 ? (next >= low && next <= high) : IsContinuation(next);
      if (!in_range) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    out += valid ? CodePointToCp1252(cp) : '?';
    pos += taken;
  }
  return out;
}

std::string Utf16ToCp1252(const char16_t* units, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const char16_t unit = units[i];
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // Every character outside the basic plane is missing from cp1252; a
      // pair gives one '?', and so does a lone surrogate.
      if (unit <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        ++i;
      }
      out += '?';
    } else {
      out += CodePointToCp1252(unit);
    }
  }
  return out;
}

std::u16string Cp1252ToUtf16(std::string_view text) {
  std::u16string out(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    out[i] = kToUnicode[static_cast<unsigned char>(text[i])];
  }
  return out;
}

std::string ToWire(std::string_view text) {
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    out[i] = kToWire[static_cast<unsigned char>(text[i])];
  }
  return out;
}

std::string FromWire(std::string_view line) {
  std::string out(line.size(), '\0');
  for (size_t i = 0; i < line.size(); ++i) {
    out[i] = kFromWire[static_cast<unsigned char>(line[i])];
  }
  return out;
}

TCharset TCharset::FromName(std::string_view name) {
  const std::string upper = UpperCase(Trim(name));
  TCharset charset;
  charset.utf8_ = !(upper == "CP1252" || upper == "WINDOWS-1252");
  return charset;
}

std::string TCharset::ToDriver(std::string_view cp1252) const {
  return utf8_ ? Cp1252ToUtf8(cp1252) : std::string(cp1252);
}

std::string TCharset::FromDriver(std::string_view driver_text) const {
  return utf8_ ? Utf8ToCp1252(driver_text) : std::string(driver_text);
}

}  // namespace velquarn
