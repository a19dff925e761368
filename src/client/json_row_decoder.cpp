#include "client/json_row_decoder.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "client/decode_error.h"
#include "common/cp1252.h"
#include "common/date_time.h"

namespace velquarn {

namespace {

constexpr int kMaxDepth = 64;
constexpr int64_t kMilliSecondsPerDay = 86400000;
constexpr int kYearShift = 1969;

struct TJson {
  enum class TKind { kNull, kBoolean, kNumber, kString, kArray, kObject } kind = TKind::kNull;
  bool boolean = false;
  std::string text;  // the number's token or the string's UTF-8 bytes
  std::vector<TJson> items;
  // An object's member names and, at the same index, their values: a
  // vector of pairs would need TJson complete, which clang's libstdc++
  // checks.
  std::vector<std::string> names;
  std::vector<TJson> members;
};

// A strict reader of RFC 8259 text, which also takes the server's bare
// NAN, INF and -INF float tokens as numbers.
class TJsonReader {
 public:
  explicit TJsonReader(std::string_view text) : text_(text) {}

  TJson ReadDocument() {
    TJson value = ReadValue(0);
    SkipBlanks();
    if (at_ != text_.size()) Fail("the end of the document");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& expected) const {
    throw EDecodeError("JSON rows: expected " + expected + " at byte " + std::to_string(at_) +
                       (at_ >= text_.size() ? " (the end of the document)" : ""));
  }

  void SkipBlanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool Take(char c) {
    SkipBlanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  bool TakeWord(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  TJson ReadValue(int depth) {
    if (depth > kMaxDepth) Fail("a document nested less deeply");
    SkipBlanks();
    if (at_ >= text_.size()) Fail("a value");
    TJson value;
    const char c = text_[at_];
    if (c == '{') {
      ++at_;
      value.kind = TJson::TKind::kObject;
      if (Take('}')) return value;
      do {
        SkipBlanks();
        if (at_ >= text_.size() || text_[at_] != '"') Fail("a member name");
        std::string name = ReadString();
        if (!Take(':')) Fail("':'");
        value.members.push_back(ReadValue(depth + 1));
        value.names.push_back(std::move(name));
      } while (Take(','));
      if (!Take('}')) Fail("',' or '}'");
    } else if (c == '[') {
      ++at_;
      value.kind = TJson::TKind::kArray;
      if (Take(']')) return value;
      do {
        value.items.push_back(ReadValue(depth + 1));
      } while (Take(','));
      if (!Take(']')) Fail("',' or ']'");
    } else if (c == '"') {
      value.kind = TJson::TKind::kString;
      value.text = ReadString();
    } else if (TakeWord("true") || TakeWord("false")) {
      value.kind = TJson::TKind::kBoolean;
      value.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
    } else if (TakeWord("null")) {
      value.kind = TJson::TKind::kNull;
    } else {
      value.kind = TJson::TKind::kNumber;
      value.text = ReadNumberToken();
    }
    return value;
  }

  std::string ReadNumberToken() {
    const size_t start = at_;
    if (TakeWord("NAN") || TakeWord("INF") || TakeWord("-INF")) {
      return std::string(text_.substr(start, at_ - start));
    }
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const size_t digits = at_;
    while (at_ < text_.size() &&
           ((text_[at_] >= '0' && text_[at_] <= '9') || text_[at_] == '.' || text_[at_] == 'e' ||
            text_[at_] == 'E' || text_[at_] == '+' || text_[at_] == '-')) {
      ++at_;
    }
    if (at_ == digits) Fail("a value");
    return std::string(text_.substr(start, at_ - start));
  }

  unsigned ReadHex4() {
    if (at_ + 4 > text_.size()) Fail("four hexadecimal digits");
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        Fail("four hexadecimal digits");
      }
    }
    return value;
  }

  static void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  // The string at the opening quote, as UTF-8.
  std::string ReadString() {
    ++at_;
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Fail("'\"' closing a string");
      const char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("an escaped control character");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) Fail("an escape");
      const char escape = text_[at_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out += escape;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          char32_t cp = ReadHex4();
          if (cp >= 0xD800 && cp < 0xDC00 && TakeWord("\\u")) {
            const unsigned low = ReadHex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("a low surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          Fail("a valid escape");
      }
    }
  }

  std::string_view text_;
  size_t at_ = 0;
};

[[noreturn]] void FailValue(size_t row, const TColumnDef& column, const std::string& expected) {
  throw EDecodeError("JSON rows: row " + std::to_string(row) + ", column " + column.Name + " (" +
                     column.DataType + "): expected " + expected);
}

double NumberOf(const TJson& json, size_t row, const TColumnDef& column) {
  // The server writes a non-finite float as a JSON string of its text, as
  // JSON has no number for it; older servers wrote the bare token.
  const bool non_finite = json.text == "NAN" || json.text == "INF" || json.text == "-INF";
  if (json.kind != TJson::TKind::kNumber && !(json.kind == TJson::TKind::kString && non_finite)) {
    FailValue(row, column, "a number");
  }
  double value = 0;
  if (json.text == "NAN") return std::numeric_limits<double>::quiet_NaN();
  if (json.text == "INF") return std::numeric_limits<double>::infinity();
  if (json.text == "-INF") return -std::numeric_limits<double>::infinity();
  const auto result = std::from_chars(json.text.data(), json.text.data() + json.text.size(), value);
  if (result.ec != std::errc() || result.ptr != json.text.data() + json.text.size()) {
    FailValue(row, column, "a number, got " + json.text);
  }
  return value;
}

// Undoes the server's year shift and time zone: the count is days from
// 0001-01-01 (day 1) of the date moved back by 1969 years.
TCivilTime DateOfMilliseconds(double count, int32_t zone_hours, size_t row,
                              const TColumnDef& column) {
  if (!std::isfinite(count) || count < kMilliSecondsPerDay || count > 4e14) {
    FailValue(row, column, "a millisecond count of a date");
  }
  const auto total = static_cast<int64_t>(std::llround(count));
  const int64_t day_number = total / kMilliSecondsPerDay;
  const int64_t milliseconds = total % kMilliSecondsPerDay;
  int year = 0, month = 0, day = 0;
  DecodeDate(static_cast<TDateTime>(day_number - kDateDelta), year, month, day);
  TDateTime moved = 0;
  if (!TryEncodeDate(year + kYearShift, month, day, moved)) {
    FailValue(row, column, "a date before the year 8031");
  }
  const double value = moved + (static_cast<double>(milliseconds) - zone_hours * 3600000.0) /
                                   static_cast<double>(kMilliSecondsPerDay);
  TCivilTime time;
  DecodeDate(value, time.Year, time.Month, time.Day);
  DecodeTime(value, time.Hour, time.Minute, time.Second, time.Millisecond);
  return time;
}

TCivilTime TimeOfMilliseconds(double count, int32_t zone_hours, size_t row,
                              const TColumnDef& column) {
  if (!std::isfinite(count) || std::fabs(count) > 1e12) {
    FailValue(row, column, "a millisecond count of a time");
  }
  int64_t total = std::llround(count) - static_cast<int64_t>(zone_hours) * 3600000;
  total %= kMilliSecondsPerDay;
  if (total < 0) total += kMilliSecondsPerDay;
  TCivilTime time;
  time.Hour = static_cast<int>(total / 3600000);
  time.Minute = static_cast<int>(total / 60000 % 60);
  time.Second = static_cast<int>(total / 1000 % 60);
  time.Millisecond = static_cast<int>(total % 1000);
  return time;
}

TClientValue ValueOf(const TJson& json, const TColumnDef& column, int32_t zone_hours, size_t row) {
  if (json.kind == TJson::TKind::kString && json.text == "null") return TClientValue::Null();
  switch (column.Kind) {
    case TColumnKind::kInteger: {
      int64_t value = 0;
      const auto result =
          std::from_chars(json.text.data(), json.text.data() + json.text.size(), value);
      if (json.kind != TJson::TKind::kNumber || result.ec != std::errc() ||
          result.ptr != json.text.data() + json.text.size()) {
        FailValue(row, column, "an integer");
      }
      return TClientValue::OfInteger(value);
    }
    case TColumnKind::kFloat:
      return TClientValue::OfFloat(NumberOf(json, row, column));
    case TColumnKind::kDecimal:
      NumberOf(json, row, column);
      return TClientValue::OfDecimal(json.text);
    case TColumnKind::kBoolean:
      if (json.kind != TJson::TKind::kBoolean) FailValue(row, column, "true or false");
      return TClientValue::OfBoolean(json.boolean);
    case TColumnKind::kDate: {
      TCivilTime time = DateOfMilliseconds(NumberOf(json, row, column), zone_hours, row, column);
      time.Hour = time.Minute = time.Second = time.Millisecond = 0;
      return TClientValue::OfTime(TValueKind::kDate, time);
    }
    case TColumnKind::kDateTime:
      return TClientValue::OfTime(
          TValueKind::kDateTime,
          DateOfMilliseconds(NumberOf(json, row, column), zone_hours, row, column));
    case TColumnKind::kTime:
      return TClientValue::OfTime(TValueKind::kTime, TimeOfMilliseconds(NumberOf(json, row, column),
                                                                        zone_hours, row, column));
    case TColumnKind::kBlob: {
      if (json.kind != TJson::TKind::kString || json.text.size() % 2 != 0) {
        FailValue(row, column, "a string of hexadecimal digits");
      }
      std::string bytes;
      for (size_t i = 0; i < json.text.size(); i += 2) {
        unsigned value = 0;
        const auto result =
            std::from_chars(json.text.data() + i, json.text.data() + i + 2, value, 16);
        if (result.ec != std::errc() || result.ptr != json.text.data() + i + 2) {
          FailValue(row, column, "a string of hexadecimal digits");
        }
        bytes += static_cast<char>(value);
      }
      return TClientValue::OfBytes(std::move(bytes));
    }
    case TColumnKind::kBytes:
      if (json.kind != TJson::TKind::kString) FailValue(row, column, "a string");
      return TClientValue::OfBytes(Utf8ToCp1252(json.text));
    case TColumnKind::kText:
    case TColumnKind::kMemo:
      // Auto-increment and unsigned small columns are "string" columns with
      // bare numbers.
      if (json.kind == TJson::TKind::kNumber && column.Kind == TColumnKind::kText) {
        int64_t value = 0;
        const auto result =
            std::from_chars(json.text.data(), json.text.data() + json.text.size(), value);
        if (result.ec == std::errc() && result.ptr == json.text.data() + json.text.size()) {
          return TClientValue::OfInteger(value);
        }
      }
      if (json.kind != TJson::TKind::kString) FailValue(row, column, "a string");
      return TClientValue::OfText(Utf8ToCp1252(json.text));
  }
  FailValue(row, column, "a known column type");
}

}  // namespace

std::vector<TClientRow> DecodeJsonRows(const std::vector<TColumnDef>& columns,
                                       std::string_view document, int32_t zone_hours) {
  const TJson root = TJsonReader(document).ReadDocument();
  const TJson* rows = nullptr;
  if (root.kind == TJson::TKind::kObject) {
    for (size_t i = 0; i < root.members.size(); ++i) {
      if (root.names[i] == "rows" && root.members[i].kind == TJson::TKind::kArray) {
        rows = &root.members[i];
      }
    }
  }
  if (rows == nullptr) throw EDecodeError("JSON rows: expected an object with a \"rows\" array");
  std::vector<TClientRow> result;
  result.reserve(rows->items.size());
  for (const TJson& item : rows->items) {
    const size_t row_number = result.size() + 1;
    if (item.kind != TJson::TKind::kObject || item.members.size() != columns.size()) {
      throw EDecodeError("JSON rows: row " + std::to_string(row_number) +
                         ": expected an object of " + std::to_string(columns.size()) + " members");
    }
    TClientRow row;
    row.reserve(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
      row.push_back(ValueOf(item.members[i], columns[i], zone_hours, row_number));
    }
    result.push_back(std::move(row));
  }
  return result;
}

}  // namespace velquarn
