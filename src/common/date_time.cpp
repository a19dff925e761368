#include "common/date_time.h"

#include <langinfo.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/exceptions.h"

namespace velquarn {

namespace {

constexpr int kMSecsPerDayInt = 86400000;
constexpr int kDaysPer400Years = 146097;
constexpr int kDaysPer100Years = 36524;
constexpr int kDaysPer4Years = 1461;

constexpr int kMonthDays[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

// Day number (0001-01-01 is day 1) to calendar date; day numbers below 1
// give zeros.
void DecodeDayNumber(int32_t day_number, int& year, int& month, int& day) {
  if (day_number <= 0) {
    year = month = day = 0;
    return;
  }
  int t = day_number - 1;
  int y = 1 + 400 * (t / kDaysPer400Years);
  t %= kDaysPer400Years;
  int centuries = t / kDaysPer100Years;
  int rest = t % kDaysPer100Years;
  if (centuries == 4) {
    centuries = 3;
    rest += kDaysPer100Years;
  }
  y += 100 * centuries;
  y += 4 * (rest / kDaysPer4Years);
  rest %= kDaysPer4Years;
  int years = rest / 365;
  rest %= 365;
  if (years == 4) {
    years = 3;
    rest += 365;
  }
  y += years;
  const auto& days = kMonthDays[IsLeapYear(y) ? 1 : 0];
  int m = 0;
  while (rest >= days[m]) {
    rest -= days[m];
    ++m;
  }
  year = y;
  month = m + 1;
  day = rest + 1;
}

// A regional format, compiled once: literal text and the fields that it
// shows. Codes without a field of their own are left to strftime.
struct TFormatPart {
  enum Kind { kLiteral, kDay, kDaySpace, kMonth, kYear4, kYear2, kHour, kMinute, kSecond, kOther };
  Kind kind;
  std::string text;  // the literal, or the strftime code for kOther
};

void CompileFormat(std::string_view format, std::vector<TFormatPart>& parts) {
  auto literal = [&parts](std::string_view text) {
    if (!parts.empty() && parts.back().kind == TFormatPart::kLiteral) {
      parts.back().text.append(text);
    } else {
      parts.push_back({TFormatPart::kLiteral, std::string(text)});
    }
  };
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      literal(format.substr(i, 1));
      continue;
    }
    size_t code_at = i + 1;
    // Flags and the E/O modifiers of glibc formats ("%Ey", "%-d") are skipped.
    while (code_at < format.size() && format[code_at] != '\0' &&
           std::strchr("_-0^#EO", format[code_at]) != nullptr && code_at + 1 < format.size()) {
      ++code_at;
    }
    const char code = format[code_at];
    switch (code) {
      case 'd':
        parts.push_back({TFormatPart::kDay, {}});
        break;
      case 'e':
        parts.push_back({TFormatPart::kDaySpace, {}});
        break;
      case 'm':
        parts.push_back({TFormatPart::kMonth, {}});
        break;
      case 'Y':
        parts.push_back({TFormatPart::kYear4, {}});
        break;
      case 'y':
        parts.push_back({TFormatPart::kYear2, {}});
        break;
      case 'H':
        parts.push_back({TFormatPart::kHour, {}});
        break;
      case 'M':
        parts.push_back({TFormatPart::kMinute, {}});
        break;
      case 'S':
        parts.push_back({TFormatPart::kSecond, {}});
        break;
      case 'D':
        CompileFormat("%m/%d/%y", parts);
        break;
      case 'T':
        CompileFormat("%H:%M:%S", parts);
        break;
      case 'R':
        CompileFormat("%H:%M", parts);
        break;
      case 'F':
        CompileFormat("%Y-%m-%d", parts);
        break;
      case '%':
        literal("%");
        break;
      case 'n':
        literal("\n");
        break;
      case 't':
        literal("\t");
        break;
      default:
        parts.push_back({TFormatPart::kOther, std::string(format.substr(i, code_at - i + 1))});
        break;
    }
    i = code_at;
  }
}

void AppendTwo(std::string& out, int value, char pad) {
  value = value < 0 ? 0 : value % 100;
  out += value < 10 ? pad : static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

void AppendYear(std::string& out, int year) {
  char buffer[8];
  const int length = snprintf(buffer, sizeof buffer, "%04d", year < 0 ? 0 : year % 10000);
  out.append(buffer, static_cast<size_t>(length));
}

struct TFields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  double day_value = 0;  // the value's whole days, for the day of the week
};

TFields Decode(TDateTime value) {
  TFields f;
  const TTimeStamp stamp = DateTimeToTimeStamp(value);
  DecodeDayNumber(stamp.date, f.year, f.month, f.day);
  int32_t time = stamp.time;
  f.hour = time / 3600000;
  time %= 3600000;
  f.minute = time / 60000;
  time %= 60000;
  f.second = time / 1000;
  f.millisecond = time % 1000;
  f.day_value = static_cast<double>(stamp.date) - kDateDelta;
  return f;
}

void Render(const std::vector<TFormatPart>& parts, const TFields& f, std::string& out) {
  const int year = f.year, month = f.month, day = f.day, hour = f.hour, minute = f.minute,
            second = f.second;
  for (const auto& part : parts) {
    switch (part.kind) {
      case TFormatPart::kLiteral:
        out += part.text;
        break;
      case TFormatPart::kDay:
        AppendTwo(out, day, '0');
        break;
      case TFormatPart::kDaySpace:
        AppendTwo(out, day, ' ');
        break;
      case TFormatPart::kMonth:
        AppendTwo(out, month, '0');
        break;
      case TFormatPart::kYear4:
        AppendYear(out, year);
        break;
      case TFormatPart::kYear2:
        AppendTwo(out, year, '0');
        break;
      case TFormatPart::kHour:
        AppendTwo(out, hour, '0');
        break;
      case TFormatPart::kMinute:
        AppendTwo(out, minute, '0');
        break;
      case TFormatPart::kSecond:
        AppendTwo(out, second, '0');
        break;
      case TFormatPart::kOther: {
        tm fields{};
        fields.tm_year = year - 1900;
        fields.tm_mon = month > 0 ? month - 1 : 0;
        fields.tm_mday = day;
        fields.tm_hour = hour;
        fields.tm_min = minute;
        fields.tm_sec = second;
        // Day of the week: 1899-12-30 was a Saturday.
        fields.tm_wday = static_cast<int>(std::fmod(std::fmod(f.day_value + 6, 7) + 7, 7));
        char buffer[128];
        const size_t length = strftime(buffer, sizeof buffer, part.text.c_str(), &fields);
        out.append(buffer, length);
        break;
      }
    }
  }
}

struct TRegionalFormats {
  std::vector<TFormatPart> date;
  std::vector<TFormatPart> time;
};

bool IsPlainLocale(const char* name) {
  return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
         std::strncmp(name, "C.", 2) == 0;
}

// The service never changes its locale while it runs, so the formats are
// read once; the initialisation of a function-local static is thread-safe.
const TRegionalFormats& RegionalFormats() {
  static const TRegionalFormats formats = [] {
    TRegionalFormats result;
    std::string date_format;
    std::string time_format;
    CurrentRegionalFormats(date_format, time_format);
    CompileFormat(date_format, result.date);
    CompileFormat(time_format, result.time);
    return result;
  }();
  return formats;
}

}  // namespace

void CurrentRegionalFormats(std::string& date_format, std::string& time_format) {
  if (IsPlainLocale(setlocale(LC_TIME, nullptr))) {
    date_format = "%Y-%m-%d";
    time_format = "%H:%M:%S";
    return;
  }
  date_format = nl_langinfo(D_FMT);
  time_format = nl_langinfo(T_FMT);
  // A locale without formats of its own falls back to ISO.
  if (date_format.empty()) date_format = "%Y-%m-%d";
  if (time_format.empty()) time_format = "%H:%M:%S";
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeDayNumber(int year, int month, int day, int32_t& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  const auto& days = kMonthDays[IsLeapYear(year) ? 1 : 0];
  if (day < 1 || day > days[month - 1]) return false;
  int32_t day_number = day;
  for (int m = 0; m < month - 1; ++m) day_number += days[m];
  const int32_t y = year - 1;
  result = day_number + y * 365 + y / 4 - y / 100 + y / 400;
  return true;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  int32_t day_number = 0;
  if (!TryEncodeDayNumber(year, month, day, day_number)) return false;
  result = static_cast<double>(day_number - kDateDelta);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return false;
  }
  result = (hour * 3600000 + minute * 60000 + second * 1000 + millisecond) / kMSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result = 0;
  if (!TryEncodeDate(year, month, day, result)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return result;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime result = 0;
  if (!TryEncodeTime(hour, minute, second, millisecond, result)) {
    throw EConvertError("Invalid argument to time encode");
  }
  return result;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  // Milliseconds rounded to the nearest; a negative value counts its
  // fraction forward from its day, so -1.25 is 1899-12-29 06:00.
  TTimeStamp stamp;
  if (!std::isfinite(value)) return stamp;
  const double millis = std::nearbyint(value * kMSecsPerDay);
  // Beyond the day numbers that fit the record buffer the stamp is empty.
  if (std::fabs(millis) >= (2147483647.0 - kDateDelta) * kMSecsPerDay) return stamp;
  const auto total = static_cast<int64_t>(millis);
  const int64_t magnitude = total < 0 ? -total : total;
  const int64_t days = magnitude / kMSecsPerDayInt;
  stamp.time = static_cast<int32_t>(magnitude % kMSecsPerDayInt);
  stamp.date = static_cast<int32_t>((total < 0 ? -days : days) + kDateDelta);
  return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  const int64_t days = static_cast<int64_t>(stamp.date) - kDateDelta;
  int64_t millis = days * kMSecsPerDayInt;
  millis += days >= 0 ? stamp.time : -static_cast<int64_t>(stamp.time);
  return static_cast<double>(millis) / kMSecsPerDay;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  DecodeDayNumber(DateTimeToTimeStamp(value).date, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  int32_t time = DateTimeToTimeStamp(value).time;
  hour = time / 3600000;
  time %= 3600000;
  minute = time / 60000;
  time %= 60000;
  second = time / 1000;
  millisecond = time % 1000;
}

TDateTime Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  TDateTime date = 0;
  TDateTime time = 0;
  TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
  // A leap second (tm_sec 60) is shown as the last second of the minute.
  TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                static_cast<int>(now.tv_nsec / 1000000), time);
  return date + time;
}

std::string FormatDateTime(std::string_view strftime_format, TDateTime value) {
  std::vector<TFormatPart> parts;
  CompileFormat(strftime_format, parts);
  std::string out;
  Render(parts, Decode(value), out);
  return out;
}

std::string DateToStr(TDateTime value) {
  std::string out;
  Render(RegionalFormats().date, Decode(value), out);
  return out;
}

std::string TimeToStr(TDateTime value) {
  std::string out;
  Render(RegionalFormats().time, Decode(value), out);
  return out;
}

std::string DateTimeToStr(TDateTime value) {
  const TFields fields = Decode(value);
  const TRegionalFormats& formats = RegionalFormats();
  std::string out;
  out.reserve(24);
  Render(formats.date, fields, out);
  if (fields.hour != 0 || fields.minute != 0 || fields.second != 0) {
    out += ' ';
    Render(formats.time, fields, out);
  }
  return out;
}

}  // namespace velquarn
