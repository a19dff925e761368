// TDateTime: a double of days since 1899-12-30; the fraction is the time of
// day. Helpers encode and decode it and render it in the regional short date
// and long time formats (ISO "yyyy-mm-dd" and "hh:nn:ss" under the C locale).
#pragma once

#include <cstdint>
#include <string>

namespace velquarn {

using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;
// Days between 0001-01-01 (day 1) and 1899-12-30: the offset between the
// record buffers' day numbers and TDateTime.
constexpr int32_t kDateDelta = 693594;

// Raise EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
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
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
// Date, a blank, time; the time is left out when it is midnight.
std::string DateTimeToStr(TDateTime value);

}  // namespace velquarn
