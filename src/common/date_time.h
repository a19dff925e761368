// TDateTime: a double of days since 1899-12-30; the fraction is the time of
// day. Helpers encode and decode it and render it in the regional short date
// and long time formats (ISO "yyyy-mm-dd" and "hh:nn:ss" under the C locale).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velquarn {

using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;
// Days between 0001-01-01 (day 1) and 1899-12-30: the offset between the
// record buffers' day numbers and TDateTime.
constexpr int32_t kDateDelta = 693594;

// Dates from 0001-01-01 to 9999-12-31, times from 00:00:00.000 to
// 23:59:59.999. Raise EConvertError "Invalid argument to date encode" /
// "Invalid argument to time encode"; the Try forms return false instead.
// Decoding rounds to the nearest millisecond; a negative value is its day
// plus the fraction's magnitude as the time (-1.25 is 1899-12-29 06:00).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
// The record buffers' day number of a valid date (0001-01-01 is day 1),
// computed in integers; false for an impossible date.
bool TryEncodeDayNumber(int year, int month, int day, int32_t& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
bool IsLeapYear(int year);

// The record buffer forms: day number (days since 0001-01-01 plus one) and
// milliseconds since midnight, and their combination.
struct TTimeStamp {
  int32_t time = 0;  // milliseconds since midnight
  int32_t date = 0;  // day number
};
TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);

TDateTime Now();  // local time

// Regional formats of the running process (LC_TIME), ISO under C/POSIX.
// The formats are read once, at the first call; the functions are then safe
// to call from any thread.
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
// Date, a blank, time; the time is left out when hour, minute and second are
// all 0 (milliseconds are not looked at).
std::string DateTimeToStr(TDateTime value);
// The strftime formats of the regional short date and long time under the
// process's LC_TIME as it is now: "%Y-%m-%d" and "%H:%M:%S" under C, C.UTF-8
// or POSIX, else the locale's D_FMT and T_FMT. DateToStr and the others keep
// what the first of their calls found.
void CurrentRegionalFormats(std::string& date_format, std::string& time_format);
// A value in a strftime-style format, as the regional formats are rendered:
// %d %e %m %Y %y %H %M %S %D %T %R %F are filled from the value; other codes
// are handed to strftime. Dates before 0001-01-01 show zeros.
std::string FormatDateTime(std::string_view strftime_format, TDateTime value);

}  // namespace velquarn
