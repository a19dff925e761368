#include "service/version_list.h"

#include <cmath>

#include "common/exceptions.h"
#include "common/string_list.h"
#include "common/text.h"

namespace velquarn {

namespace {

bool IsSeparatorBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameAsciiText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace

TDateTime DosDateTimeToDateTime(int32_t packed) {
  const auto bits = static_cast<uint32_t>(packed);
  const int year = static_cast<int>(bits >> 25) + 1980;
  const int month = static_cast<int>((bits >> 21) & 0x0F);
  const int day = static_cast<int>((bits >> 16) & 0x1F);
  const int hour = static_cast<int>((bits >> 11) & 0x1F);
  const int minute = static_cast<int>((bits >> 5) & 0x3F);
  const int second = static_cast<int>(bits & 0x1F) * 2;
  // The date is encoded first, so a value that is wrong in both parts reports
  // the date error.
  const TDateTime date = EncodeDate(year, month, day);
  return date + EncodeTime(hour, minute, second, 0);
}

int32_t DateTimeToDosDateTime(TDateTime value) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, millisecond);
  if (year < 1980 || year > 1980 + 127) {
    throw Exception(Format("The year %d cannot be held in a packed DOS date", year));
  }
  const uint32_t bits = static_cast<uint32_t>(year - 1980) << 25 |
                        static_cast<uint32_t>(month) << 21 | static_cast<uint32_t>(day) << 16 |
                        static_cast<uint32_t>(hour) << 11 | static_cast<uint32_t>(minute) << 5 |
                        static_cast<uint32_t>(second / 2);
  return static_cast<int32_t>(bits);
}

std::vector<std::string> SplitVersionItems(std::string_view line) {
  std::vector<std::string> items;
  size_t pos = 0;
  const size_t end = line.size();
  auto skip_blanks = [&] {
    while (pos < end && IsSeparatorBlank(line[pos])) ++pos;
  };
  skip_blanks();
  while (pos < end) {
    std::string item;
    if (line[pos] == '"') {
      ++pos;
      while (pos < end) {
        if (line[pos] == '"') {
          if (pos + 1 < end && line[pos + 1] == '"') {
            item += '"';
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        item += line[pos++];
      }
    } else {
      const size_t start = pos;
      while (pos < end && !IsSeparatorBlank(line[pos]) && line[pos] != ';') ++pos;
      item.assign(line.substr(start, pos - start));
    }
    items.push_back(std::move(item));
    skip_blanks();
    if (pos < end && line[pos] == ';') {
      if (pos + 1 == end) items.emplace_back();
      ++pos;
      skip_blanks();
    }
  }
  return items;
}

int64_t WholeDaysBetween(TDateTime a, TDateTime b) {
  // Whole milliseconds first: a difference of exactly four days can come out
  // of the double subtraction as 3.9999999, which would cut to 3.
  const auto milliseconds = std::llround(std::fabs(a - b) * kMSecsPerDay);
  return milliseconds / static_cast<int64_t>(kMSecsPerDay);
}

TClientVersionList::TClientVersionList() : lines_(std::make_shared<const TLines>()) {}

void TClientVersionList::Assign(TLines lines) {
  auto fresh = std::make_shared<const TLines>(std::move(lines));
  std::scoped_lock lock(mutex_);
  lines_ = std::move(fresh);
}

void TClientVersionList::SetText(std::string_view text) {
  TStringList lines;
  lines.SetText(text);
  Assign(lines.Items());
}

void TClientVersionList::Clear() { Assign({}); }

std::shared_ptr<const TClientVersionList::TLines> TClientVersionList::Snapshot() const {
  std::scoped_lock lock(mutex_);
  return lines_;
}

int TClientVersionList::Count() const { return static_cast<int>(Snapshot()->size()); }

bool TClientVersionList::Check(std::string_view module, int32_t date, int64_t max_date_diff) const {
  const auto lines = Snapshot();
  if (lines->empty()) return true;
  for (const std::string& line : *lines) {
    const std::vector<std::string> items = SplitVersionItems(line);
    // A blank line names no module, so it cannot match; skipping it keeps a
    // stray empty line in the list file from failing every check.
    if (items.empty() || !SameAsciiText(items[0], module)) continue;
    const TDateTime client_date = DosDateTimeToDateTime(date);
    if (items.size() < 2) throw EListError(1);
    const TDateTime listed_date = DosDateTimeToDateTime(StrToInt32(items[1]));
    if (WholeDaysBetween(client_date, listed_date) < max_date_diff) return true;
  }
  return false;
}

}  // namespace velquarn
