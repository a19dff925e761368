#include "client/row_decoder.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <unordered_set>

#include "client/decode_error.h"
#include "common/date_time.h"

namespace velquarn {

namespace {

constexpr char kNullByte = '\xFF';

// One way to read a value: the value and the offset of the separator after it.
struct TReading {
  TClientValue value;
  size_t end = 0;
};

// Tokens are read only in the server's own spelling (upper-case hex; an
// integer's shortest form, so no "09" or "-0"): the fewer spellings a
// value has, the fewer wrong readings a row of raw bytes has, and the
// search finds the one the server wrote.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseInt64(std::string_view text, int64_t& value) {
  const size_t first_digit = !text.empty() && text[0] == '-' ? 1 : 0;
  if (first_digit >= text.size()) return false;
  if (text[first_digit] == '0' && text.size() != 1) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseFloat(std::string_view text, double& value) {
  if (text == "NAN") {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (text == "INF" || text == "-INF") {
    value = text[0] == '-' ? -std::numeric_limits<double>::infinity()
                           : std::numeric_limits<double>::infinity();
    return true;
  }
  if (text.empty() || text[0] == '+') return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ptr != text.data() + text.size()) return false;
  if (result.ec == std::errc()) return true;
  // The largest doubles round up past the double range at the server's 15
  // digits ("1.79769313486232E308"): such a text stands for the largest
  // double, not for an error. Anything further out is not a server's float.
  if (result.ec != std::errc::result_out_of_range) return false;
  const long double wide = std::strtold(std::string(text).c_str(), nullptr);
  constexpr long double kLargest = std::numeric_limits<double>::max();
  if (std::fabs(wide) > kLargest * (1 + 1e-14L)) return false;
  if (std::fabs(wide) >= kLargest) {
    value = wide < 0 ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
  } else {
    value = static_cast<double>(wide);  // an underflow: the nearest subnormal or zero
  }
  return true;
}

bool IsDecimalText(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  bool digits = false;
  bool point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

bool ParseFixedDigits(std::string_view text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

bool ParseIsoDate(std::string_view text, TCivilTime& time) {
  int32_t day_number = 0;
  return text.size() == 10 && text[4] == '-' && text[7] == '-' &&
         ParseFixedDigits(text, 0, 4, time.Year) && ParseFixedDigits(text, 5, 2, time.Month) &&
         ParseFixedDigits(text, 8, 2, time.Day) &&
         TryEncodeDayNumber(time.Year, time.Month, time.Day, day_number);
}

bool ParseIsoClock(std::string_view text, TCivilTime& time) {
  if (text.size() != 8 && !(text.size() == 12 && text[8] == '.')) return false;
  time.Millisecond = 0;
  return text[2] == ':' && text[5] == ':' && ParseFixedDigits(text, 0, 2, time.Hour) &&
         ParseFixedDigits(text, 3, 2, time.Minute) && ParseFixedDigits(text, 6, 2, time.Second) &&
         (text.size() == 8 || ParseFixedDigits(text, 9, 3, time.Millisecond)) && time.Hour < 24 &&
         time.Minute < 60 && time.Second < 60;
}

// Reads the rows of one payload; see the header for the search.
class TRowReader {
 public:
  TRowReader(const std::vector<TColumnDef>& columns, std::string_view payload)
      : columns_(columns), payload_(payload) {}

  // Depth-first over the readings of the whole payload, without recursion:
  // a reading that ends a row at a zero byte inside raw bytes is dropped
  // again when the rows after it do not fit. A column and offset that led
  // nowhere once is not tried again, so the search stays linear in the
  // payload's length times its columns.
  std::vector<TClientRow> ReadAll() {
    if (payload_.empty()) return {};
    if (columns_.empty()) throw EDecodeError("Rows: a payload for a result without columns");
    const size_t width = columns_.size();
    const auto key = [width](size_t offset, size_t column) {
      return static_cast<uint64_t>(offset) * width + column;
    };
    struct TFrame {
      size_t offset;
      std::vector<TReading> readings;
      size_t next = 0;
    };
    std::vector<TFrame> stack;
    std::unordered_set<uint64_t> dead;
    size_t deepest = 0;
    size_t deepest_offset = 0;
    stack.push_back({0, Readings(0, 0)});
    while (!stack.empty()) {
      TFrame& frame = stack.back();
      const size_t column = (stack.size() - 1) % width;
      if (frame.next == frame.readings.size()) {
        dead.insert(key(frame.offset, column));
        stack.pop_back();
        continue;
      }
      const size_t next_offset = frame.readings[frame.next++].end + 1;
      if (IsLast(column) && next_offset == payload_.size()) return Collected(stack);
      const size_t next_column = (column + 1) % width;
      if (next_offset >= payload_.size() || dead.count(key(next_offset, next_column))) continue;
      if (stack.size() > deepest) {
        deepest = stack.size();
        deepest_offset = next_offset;
      }
      stack.push_back({next_offset, Readings(next_column, next_offset)});
    }
    const size_t failed_column = deepest % width;
    const TColumnDef& failed = columns_[failed_column];
    throw EDecodeError("Rows: row " + std::to_string(deepest / width + 1) + ", column " +
                       std::to_string(failed_column + 1) + " (" + failed.Name + ", " +
                       failed.DataType + ") at byte " + std::to_string(deepest_offset) +
                       ": expected a value followed by " +
                       (IsLast(failed_column) ? "the row's zero byte" : "','") +
                       (deepest_offset >= payload_.size() ? ", found the end of the block" : ""));
  }

 private:
  template <typename TFrames>
  std::vector<TClientRow> Collected(TFrames& stack) const {
    std::vector<TClientRow> rows;
    rows.reserve(stack.size() / columns_.size());
    for (size_t i = 0; i < stack.size(); ++i) {
      if (i % columns_.size() == 0) rows.emplace_back().reserve(columns_.size());
      rows.back().push_back(std::move(stack[i].readings[stack[i].next - 1].value));
    }
    return rows;
  }

  bool IsLast(size_t column) const { return column + 1 == columns_.size(); }

  // True when the byte at offset is the separator that must follow column.
  bool SeparatorAt(size_t column, size_t offset) const {
    return offset < payload_.size() && payload_[offset] == (IsLast(column) ? '\0' : ',');
  }

  // The offset of the first separator of column from offset on, or npos.
  size_t TokenEnd(size_t column, size_t offset) const {
    const char separator = IsLast(column) ? '\0' : ',';
    for (size_t i = offset; i < payload_.size(); ++i) {
      if (payload_[i] == separator) return i;
      if (payload_[i] == '\0' || payload_[i] == ',') return std::string_view::npos;
    }
    return std::string_view::npos;
  }

  void AddNull(size_t column, size_t offset, std::vector<TReading>& out) const {
    if (offset < payload_.size() && payload_[offset] == kNullByte &&
        SeparatorAt(column, offset + 1)) {
      out.push_back({TClientValue::Null(), offset + 1});
    }
  }

  void AddQuoted(size_t column, size_t offset, TValueKind kind, std::vector<TReading>& out) const {
    if (offset >= payload_.size() || payload_[offset] != '"') return;
    std::string text;
    size_t i = offset + 1;
    for (;;) {
      const size_t quote = payload_.find('"', i);
      if (quote == std::string_view::npos) return;
      text.append(payload_.substr(i, quote - i));
      if (quote + 1 < payload_.size() && payload_[quote + 1] == '"') {
        text += '"';
        i = quote + 2;
        continue;
      }
      if (!SeparatorAt(column, quote + 1)) return;
      TClientValue value = TClientValue::OfText(text);
      if (kind != TValueKind::kText) {
        TCivilTime time;
        if (ParseIsoTime(text, kind, time)) value = TClientValue::OfTime(kind, time);
      }
      out.push_back({std::move(value), quote + 1});
      return;
    }
  }

  void AddRaw(size_t column, size_t offset, std::vector<TReading>& out) const {
    // A binary column of size 0 (a driver that gives no length) travels as
    // nothing at all between its separators.
    const size_t size = static_cast<size_t>(columns_[column].Size);
    if (offset + size <= payload_.size() && SeparatorAt(column, offset + size)) {
      out.push_back(
          {TClientValue::OfBytes(std::string(payload_.substr(offset, size))), offset + size});
    }
  }

  void AddToken(size_t column, size_t offset, std::vector<TReading>& out) const {
    const size_t end = TokenEnd(column, offset);
    if (end == std::string_view::npos) return;
    const std::string_view token = payload_.substr(offset, end - offset);
    switch (columns_[column].Kind) {
      case TColumnKind::kInteger:
      case TColumnKind::kText: {
        int64_t value = 0;
        if (ParseInt64(token, value)) out.push_back({TClientValue::OfInteger(value), end});
        break;
      }
      case TColumnKind::kFloat: {
        double value = 0;
        if (ParseFloat(token, value)) out.push_back({TClientValue::OfFloat(value), end});
        break;
      }
      case TColumnKind::kDecimal:
        if (IsDecimalText(token)) {
          out.push_back({TClientValue::OfDecimal(std::string(token)), end});
        }
        break;
      case TColumnKind::kBoolean:
        if (token == "True" || token == "False") {
          out.push_back({TClientValue::OfBoolean(token == "True"), end});
        }
        break;
      case TColumnKind::kBlob:
      case TColumnKind::kMemo: {
        if (token.size() % 2 != 0) break;
        std::string bytes;
        bytes.reserve(token.size() / 2);
        for (size_t i = 0; i < token.size(); i += 2) {
          const int high = HexDigit(token[i]);
          const int low = HexDigit(token[i + 1]);
          if (high < 0 || low < 0) return;
          bytes += static_cast<char>(high << 4 | low);
        }
        out.push_back({columns_[column].Kind == TColumnKind::kBlob
                           ? TClientValue::OfBytes(std::move(bytes))
                           : TClientValue::OfText(std::move(bytes)),
                       end});
        break;
      }
      default:
        break;
    }
  }

  // The readings of column at offset, the likelier first.
  std::vector<TReading> Readings(size_t column, size_t offset) const {
    std::vector<TReading> out;
    switch (columns_[column].Kind) {
      case TColumnKind::kText:
        AddQuoted(column, offset, TValueKind::kText, out);
        AddNull(column, offset, out);
        AddRaw(column, offset, out);
        AddToken(column, offset, out);
        break;
      case TColumnKind::kDate:
        AddQuoted(column, offset, TValueKind::kDate, out);
        AddNull(column, offset, out);
        break;
      case TColumnKind::kTime:
        AddQuoted(column, offset, TValueKind::kTime, out);
        AddNull(column, offset, out);
        break;
      case TColumnKind::kDateTime:
        AddQuoted(column, offset, TValueKind::kDateTime, out);
        AddNull(column, offset, out);
        break;
      case TColumnKind::kBytes:
        AddRaw(column, offset, out);
        AddNull(column, offset, out);
        break;
      case TColumnKind::kBoolean:
      case TColumnKind::kBlob:
      case TColumnKind::kMemo:
        AddNull(column, offset, out);
        AddToken(column, offset, out);
        break;
      default:
        AddToken(column, offset, out);
    }
    return out;
  }

  const std::vector<TColumnDef>& columns_;
  std::string_view payload_;
};

}  // namespace

bool ParseIsoTime(std::string_view text, TValueKind kind, TCivilTime& time) {
  time = TCivilTime{};
  switch (kind) {
    case TValueKind::kDate:
      return ParseIsoDate(text, time);
    case TValueKind::kTime:
      return ParseIsoClock(text, time);
    case TValueKind::kDateTime:
      if (text.size() == 10) return ParseIsoDate(text, time);
      return text.size() > 11 && text[10] == ' ' && ParseIsoDate(text.substr(0, 10), time) &&
             ParseIsoClock(text.substr(11), time);
    default:
      return false;
  }
}

std::vector<TClientRow> DecodeRows(const std::vector<TColumnDef>& columns,
                                   std::string_view payload) {
  return TRowReader(columns, payload).ReadAll();
}

}  // namespace velquarn
