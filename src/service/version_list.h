// The client version list: the accepted module dates that `open` checks a
// client's module against. Each line names one module: its items are split
// at ";" and at runs of blanks and control characters (a double-quoted item
// is taken whole), item 1 is the module name and item 2 the module's date as
// a decimal packed DOS date-time; further items are ignored. Several lines may
// name the same module.
//
// Thread-safety: all operations may run on any thread at the same time. A
// check works on an immutable snapshot of the lines; a new content is built
// aside and swapped in whole, so a check sees either the old list or the new
// one, never a partly written list.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/date_time.h"

namespace velquarn {

// A packed DOS date-time, from the most significant end: 7 bits the year
// minus 1980, 4 bits the month, 5 bits the day, 5 bits the hour, 6 bits the
// minute, 5 bits the seconds divided by two. The 32 bits are taken unsigned.
// Raises EConvertError "Invalid argument to date encode" when the date part
// is no calendar date (0 has month 0), then "Invalid argument to time encode"
// when the time part is no time of day (hour 24 and over, 60 seconds and over).
TDateTime DosDateTimeToDateTime(int32_t packed);
// The inverse, seconds rounded down to even. Raises Exception when the year
// lies outside 1980..2107.
int32_t DateTimeToDosDateTime(TDateTime value);

// The items of one list line, split as described above. A quoted item ends at
// the next lone double quote ("" inside stands for one); an unterminated one
// runs to the end of the line. An empty line gives no items; a ";" at the end
// gives a final empty item.
std::vector<std::string> SplitVersionItems(std::string_view line);

// Whole days between two moments: the absolute difference with the fraction
// cut off, computed on milliseconds so that exactly N days is N.
int64_t WholeDaysBetween(TDateTime a, TDateTime b);

class TClientVersionList {
 public:
  using TLines = std::vector<std::string>;

  TClientVersionList();
  TClientVersionList(const TClientVersionList&) = delete;
  TClientVersionList& operator=(const TClientVersionList&) = delete;

  // Replaces the whole content in one step.
  void Assign(TLines lines);
  // Replaces the content with the lines of an HTTP body, split at CR, LF or
  // CR LF; a line end at the very end does not start another line.
  void SetText(std::string_view text);
  void Clear();

  // The current content; it never changes after it was handed out.
  std::shared_ptr<const TLines> Snapshot() const;
  int Count() const;

  // True when the list is empty, or when a line whose item 1 equals `module`
  // (ASCII letters compared without case) lists a date less than
  // `max_date_diff` whole days away from `date` (either direction). Lines
  // for other modules, and lines without items, are skipped unexamined. For a
  // matching line, in this order: `date` is converted (date or time encode
  // error), a missing item 2 raises EListError "List index out of bounds (1)",
  // item 2 is read as a 32-bit integer (EConvertError "'%s' is not a valid
  // integer value") and converted (date or time encode error).
  bool Check(std::string_view module, int32_t date, int64_t max_date_diff) const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const TLines> lines_;  // Guarded by mutex_; never null.
};

}  // namespace velquarn
