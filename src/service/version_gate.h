// The client version gate: the client version list, its refresh from
// `Settings`/`UpdateURL` and the nightly timer, and the check that `open`
// runs.
//
// Refresh never empties the list: a new list is fetched aside and swapped in
// only when the fetch succeeded, so clients are checked against the previous
// list while a fetch runs and after one failed. A failed fetch never stops
// the service: an HTTP error status goes to the log file, any other failure
// (address unreachable, timeout, broken transfer) to the event log.
//
// Thread-safety: Check, MaxDateDiff and List may run on any thread at any
// time. Refresh and Tick may run on any thread; they are serialised by
// fetch_mutex_, so a start-up refresh and a timer tick never interleave.
// ReadSettings belongs to start-up, before the command server is active.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "common/date_time.h"
#include "common/ini_file.h"
#include "service/http_fetch.h"
#include "service/version_list.h"

namespace velquarn {

// The interval of the service's `VersionTimer` in milliseconds (3.6 s).
inline constexpr int kVersionTimerIntervalMs = 3600;
// The local hour in which the timer refetches the list.
inline constexpr int kVersionRefreshHour = 4;
// After a failed fetch in that hour, the next attempt waits this long.
inline constexpr int64_t kVersionRetryIntervalMs = 60 * 1000;
// `Settings`/`MaxDateDiff` when the key is missing or unreadable.
inline constexpr int64_t kDefaultMaxDateDiff = 3;

enum class TRefreshResult {
  kNotConfigured,  // `UpdateURL` empty: nothing fetched, list unchanged
  kFetched,        // list replaced by the body's lines
  kHttpError,      // error status: one log-file line, list unchanged
  kFailed,         // no response: one event-log entry, list unchanged
};

class TVersionGate {
 public:
  using TLogWriter = std::function<void(const std::string&)>;

  // `log_file` receives the HTTP error lines ("HTTP error 404: Not Found"),
  // `event_log` the other fetch failures ("The client version list could not
  // be fetched: <reason>"). Either may be empty (nothing is written).
  TVersionGate(TLogWriter log_file, TLogWriter event_log, THttpTimeouts timeouts = {});
  TVersionGate(const TVersionGate&) = delete;
  TVersionGate& operator=(const TVersionGate&) = delete;

  // Reads `Settings`/`MaxDateDiff` (default 3) and stores it plus one.
  void ReadSettings(const TIniFile& config);
  // The stored value: the configured tolerance in days plus one.
  int64_t MaxDateDiff() const;
  void SetMaxDateDiff(int64_t stored);

  // Fetches the list from `Settings`/`UpdateURL` of `config`. Never throws
  // for a network or HTTP failure; the callbacks are called outside any lock
  // held by Check.
  TRefreshResult Refresh(const TIniFile& config);
  // Told the result of every fetch Refresh made (not kNotConfigured), on
  // the refreshing thread; set before the first refresh. Must not throw.
  std::function<void(TRefreshResult result)> OnFetched;

  // The timer: call every kVersionTimerIntervalMs with the local time. In
  // the hour kVersionRefreshHour it refreshes once per day; after a failure
  // it tries again on a later tick of that hour, at most once a minute.
  // Outside that hour it does nothing.
  void Tick(const TIniFile& config, TDateTime now);

  // The check of `open`; see TClientVersionList::Check for the errors raised.
  bool Check(std::string_view module, int32_t date) const;

  const TClientVersionList& List() const { return list_; }
  TClientVersionList& List() { return list_; }

  // The log-file text of an HTTP error status; control characters of the
  // peer's reason phrase are replaced by '?', so it stays one line.
  static std::string HttpErrorMessage(long status, std::string_view reason);

 private:
  void Write(const TLogWriter& writer, const std::string& message) const;

  TLogWriter log_file_;
  TLogWriter event_log_;
  THttpTimeouts timeouts_;
  TClientVersionList list_;
  std::atomic<int64_t> max_date_diff_{kDefaultMaxDateDiff + 1};

  std::mutex fetch_mutex_;
  int64_t last_success_day_ = INT64_MIN;  // Guarded by fetch_mutex_
  int64_t last_attempt_ms_ = INT64_MIN;   // Guarded by fetch_mutex_
};

}  // namespace velquarn
