#include "service/version_gate.h"

#include <cmath>
#include <utility>

namespace velquarn {

namespace {

constexpr int64_t kMSecsPerHour = 3600 * 1000;
constexpr int64_t kMSecsPerDayInt = 24 * kMSecsPerHour;

int64_t ToMilliseconds(TDateTime value) { return std::llround(value * kMSecsPerDay); }

int64_t DayOf(int64_t milliseconds) {
  int64_t day = milliseconds / kMSecsPerDayInt;
  if (milliseconds % kMSecsPerDayInt < 0) --day;
  return day;
}

int HourOf(int64_t milliseconds) {
  const int64_t of_day = milliseconds - DayOf(milliseconds) * kMSecsPerDayInt;
  return static_cast<int>(of_day / kMSecsPerHour);
}

}  // namespace

TVersionGate::TVersionGate(TLogWriter log_file, TLogWriter event_log, THttpTimeouts timeouts)
    : log_file_(std::move(log_file)), event_log_(std::move(event_log)), timeouts_(timeouts) {}

void TVersionGate::ReadSettings(const TIniFile& config) {
  const long long configured = config.ReadInteger("Settings", "MaxDateDiff", kDefaultMaxDateDiff);
  SetMaxDateDiff(configured == INT64_MAX ? configured : configured + 1);
}

int64_t TVersionGate::MaxDateDiff() const { return max_date_diff_.load(); }

void TVersionGate::SetMaxDateDiff(int64_t stored) { max_date_diff_.store(stored); }

std::string TVersionGate::HttpErrorMessage(long status, std::string_view reason) {
  std::string message = "HTTP error " + std::to_string(status);
  if (!reason.empty()) {
    message += ": ";
    for (char c : reason) message += static_cast<unsigned char>(c) < ' ' || c == '\x7f' ? '?' : c;
  }
  return message;
}

void TVersionGate::Write(const TLogWriter& writer, const std::string& message) const {
  if (!writer) return;
  // A log that cannot be written must not turn a handled fetch failure into
  // an escaped one (the timer runs on the main thread).
  try {
    writer(message);
  } catch (...) {
  }
}

TRefreshResult TVersionGate::Refresh(const TIniFile& config) {
  std::scoped_lock lock(fetch_mutex_);
  const std::string url = config.ReadString("Settings", "UpdateURL", "");
  if (url.empty()) return TRefreshResult::kNotConfigured;

  THttpResult reply = HttpGet(url, timeouts_);
  TRefreshResult result = TRefreshResult::kFetched;
  if (!reply.Responded()) {
    Write(event_log_, "The client version list could not be fetched: " + reply.error);
    result = TRefreshResult::kFailed;
  } else if (!reply.Succeeded()) {
    Write(log_file_, HttpErrorMessage(reply.status, reply.reason));
    result = TRefreshResult::kHttpError;
  } else {
    list_.SetText(reply.body);
  }
  if (OnFetched) OnFetched(result);
  return result;
}

void TVersionGate::Tick(const TIniFile& config, TDateTime now) {
  const int64_t now_ms = ToMilliseconds(now);
  if (HourOf(now_ms) != kVersionRefreshHour) return;
  const int64_t today = DayOf(now_ms);
  {
    std::scoped_lock lock(fetch_mutex_);
    if (last_success_day_ == today) return;
    // A clock set back makes now_ms smaller than the last attempt; that must
    // not hold the retry off for the rest of the hour.
    if (last_attempt_ms_ != INT64_MIN && now_ms >= last_attempt_ms_ &&
        now_ms - last_attempt_ms_ < kVersionRetryIntervalMs) {
      return;
    }
    last_attempt_ms_ = now_ms;
  }
  const TRefreshResult result = Refresh(config);
  if (result == TRefreshResult::kFetched || result == TRefreshResult::kNotConfigured) {
    std::scoped_lock lock(fetch_mutex_);
    last_success_day_ = today;
  }
}

bool TVersionGate::Check(std::string_view module, int32_t date) const {
  return list_.Check(module, date, MaxDateDiff());
}

}  // namespace velquarn
