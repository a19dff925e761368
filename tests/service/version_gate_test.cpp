#include "service/version_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/exceptions.h"
#include "support/local_http_server.h"

namespace velquarn {
namespace {

using testing::TLocalHttpServer;
using testing::UnusedLocalPort;
using TItems = std::vector<std::string>;

// Packed by hand, so the decoder is checked against an independent packing.
int32_t Dos(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  const uint32_t bits = static_cast<uint32_t>(year - 1980) << 25 |
                        static_cast<uint32_t>(month) << 21 | static_cast<uint32_t>(day) << 16 |
                        static_cast<uint32_t>(hour) << 11 | static_cast<uint32_t>(minute) << 5 |
                        static_cast<uint32_t>(second / 2);
  return static_cast<int32_t>(bits);
}

std::string Line(std::string_view module, int32_t date) {
  return std::string(module) + ";" + std::to_string(date);
}

TDateTime At(int year, int month, int day, int hour, int minute, int second = 0) {
  return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, 0);
}

TEST(VersionItems, SplitAtSemicolonsAndRunsOfBlanksWithEmptyItemsBetweenSemicolons) {
  EXPECT_EQ(SplitVersionItems("ordermod;123 rest\tmore"),
            (TItems{"ordermod", "123", "rest", "more"}));
  EXPECT_EQ(SplitVersionItems("  a \x01\x1f b  "), (TItems{"a", "b"}));
  EXPECT_EQ(SplitVersionItems("Order Entry;5"), (TItems{"Order", "Entry", "5"}));
  EXPECT_EQ(SplitVersionItems("a ;b"), (TItems{"a", "b"}));
  EXPECT_EQ(SplitVersionItems("a;;b"), (TItems{"a", "", "b"}));
  EXPECT_EQ(SplitVersionItems("a; ;b"), (TItems{"a", "", "b"}));
  EXPECT_EQ(SplitVersionItems(";a"), (TItems{"", "a"}));
  EXPECT_EQ(SplitVersionItems("a;"), (TItems{"a", ""}));
  EXPECT_EQ(SplitVersionItems(""), TItems{});
  EXPECT_EQ(SplitVersionItems(" \t "), TItems{});
}

TEST(VersionItems, QuotedItemsAreTakenWhole) {
  EXPECT_EQ(SplitVersionItems("\"Order Entry\";12"), (TItems{"Order Entry", "12"}));
  EXPECT_EQ(SplitVersionItems("\"a;b c\" d"), (TItems{"a;b c", "d"}));
  EXPECT_EQ(SplitVersionItems("\"say \"\"hi\"\"\";1"), (TItems{"say \"hi\"", "1"}));
  EXPECT_EQ(SplitVersionItems("\"\";1"), (TItems{"", "1"}));
  EXPECT_EQ(SplitVersionItems("\"open end; x"), (TItems{"open end; x"}));
}

TEST(VersionList, BodyIsSplitAtCrLfCrOrLf) {
  TClientVersionList list;
  auto lines = [&list](std::string_view body) {
    list.SetText(body);
    return *list.Snapshot();
  };
  EXPECT_EQ(lines("a\r\nb\nc\rd"), (TItems{"a", "b", "c", "d"}));
  EXPECT_EQ(lines("a\r\n\r\nb\r\n"), (TItems{"a", "", "b"}));
  EXPECT_EQ(lines(""), TItems{});
}

TEST(DosDateTime, DecodesEveryField) {
  EXPECT_EQ(DosDateTimeToDateTime(Dos(2024, 2, 29, 13, 45, 58)), At(2024, 2, 29, 13, 45, 58));
  EXPECT_EQ(DosDateTimeToDateTime(Dos(1980, 1, 1)), At(1980, 1, 1, 0, 0));
  // The top bit set: the 32 bits are unsigned, so this is 2100, not an error.
  EXPECT_LT(Dos(2100, 12, 31, 23, 59, 58), 0);
  EXPECT_EQ(DosDateTimeToDateTime(Dos(2100, 12, 31, 23, 59, 58)), At(2100, 12, 31, 23, 59, 58));
  EXPECT_EQ(DateTimeToDosDateTime(At(2024, 2, 29, 13, 45, 59)), Dos(2024, 2, 29, 13, 45, 58));
}

TEST(DosDateTime, InvalidPartsRaiseTheEncodeErrors) {
  auto message = [](int32_t packed) {
    try {
      DosDateTimeToDateTime(packed);
    } catch (const EConvertError& error) {
      return error.Message();
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(0), "Invalid argument to date encode");
  EXPECT_EQ(message(Dos(2023, 2, 29)), "Invalid argument to date encode");
  EXPECT_EQ(message(Dos(2023, 5, 1, 24, 0)), "Invalid argument to time encode");
  EXPECT_EQ(message(Dos(2023, 5, 1) | 30), "Invalid argument to time encode");  // 60 seconds
  EXPECT_EQ(message(Dos(2023, 5, 1, 24, 0) & ~(0x0F << 21)), "Invalid argument to date encode");
}

class VersionCheck : public ::testing::Test {
 protected:
  const int32_t listed_ = Dos(2024, 3, 10, 12, 0);
  const int64_t default_max_ = kDefaultMaxDateDiff + 1;
  TClientVersionList list_;

  bool Check(std::string_view module, int32_t date) {
    return list_.Check(module, date, default_max_);
  }
};

TEST_F(VersionCheck, EmptyListAcceptsAnything) {
  EXPECT_TRUE(Check("ordermod", listed_));
  EXPECT_TRUE(Check("anything", 0));
}

TEST_F(VersionCheck, DefaultToleranceIsThreeWholeDays) {
  list_.Assign({Line("ordermod", listed_)});
  EXPECT_TRUE(Check("ordermod", listed_));
  EXPECT_TRUE(Check("OrderMod", listed_));
  EXPECT_TRUE(Check("ordermod", Dos(2024, 3, 13, 12, 0)));
  EXPECT_TRUE(Check("ordermod", Dos(2024, 3, 7, 12, 0)));
  EXPECT_TRUE(Check("ordermod", Dos(2024, 3, 14, 11, 59, 58)));
  EXPECT_TRUE(Check("ordermod", Dos(2024, 3, 6, 12, 0, 2)));
  EXPECT_FALSE(Check("ordermod", Dos(2024, 3, 14, 12, 0)));
  EXPECT_FALSE(Check("ordermod", Dos(2024, 3, 6, 12, 0)));
  EXPECT_TRUE(list_.Check("ordermod", Dos(2024, 3, 10, 23, 0), 1));
  EXPECT_FALSE(list_.Check("ordermod", Dos(2024, 3, 11, 12, 0), 1));
}

TEST_F(VersionCheck, AnyLineOfTheModuleMayAccept) {
  list_.Assign({Line("ordermod", listed_), Line("other", Dos(2024, 6, 1)),
                Line("ORDERMOD", Dos(2024, 5, 1))});
  EXPECT_TRUE(Check("ordermod", Dos(2024, 3, 11)));
  EXPECT_TRUE(Check("ordermod", Dos(2024, 5, 2)));
  EXPECT_FALSE(Check("ordermod", Dos(2024, 4, 1)));
  EXPECT_FALSE(Check("unknown", listed_));
  EXPECT_FALSE(Check("ordermo", listed_));
}

TEST_F(VersionCheck, ModuleNamesCompareWithoutAsciiCaseOnly) {
  list_.Assign({"\xC5tg;" + std::to_string(listed_)});
  EXPECT_TRUE(Check("\xC5TG", listed_));
  EXPECT_FALSE(Check("\xE5tg", listed_));
}

TEST_F(VersionCheck, ANameWithABlankMakesTheDateItemText) {
  list_.Assign({"Order Entry;" + std::to_string(listed_)});
  try {
    Check("Order", listed_);
    FAIL() << "no error";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(), "'Entry' is not a valid integer value");
  }
  list_.Assign({"\"Order Entry\";" + std::to_string(listed_)});
  EXPECT_TRUE(Check("order entry", listed_));
}

TEST_F(VersionCheck, MissingDateItemRaisesTheListError) {
  list_.Assign({"ordermod"});
  try {
    Check("ordermod", listed_);
    FAIL() << "no error";
  } catch (const EListError& error) {
    EXPECT_EQ(error.Message(), "List index out of bounds (1)");
  }
}

TEST_F(VersionCheck, InvalidDatesRaiseTheDateError) {
  list_.Assign({Line("ordermod", listed_), Line("zero", 0)});
  EXPECT_THROW(Check("ordermod", 0), EConvertError);
  EXPECT_THROW(Check("zero", listed_), EConvertError);
  // The client's date is converted before the listed item is read.
  list_.Assign({"ordermod"});
  EXPECT_THROW(Check("ordermod", 0), EConvertError);
}

TEST_F(VersionCheck, LinesOfOtherModulesAreNotExamined) {
  list_.Assign({"", "broken", "Order Entry;1", Line("zero", 0), "   ", Line("ordermod", listed_)});
  EXPECT_TRUE(Check("ordermod", listed_));
  EXPECT_FALSE(Check("absent", 0));
}

TEST(VersionList, ChecksNeverSeeAPartlyWrittenList) {
  TClientVersionList list;
  const int32_t date = Dos(2024, 3, 10);
  const TItems small = {Line("m", date)};
  TItems big;
  for (int i = 0; i < 200; ++i) big.push_back(Line("other" + std::to_string(i), date));
  big.push_back(Line("m", date));
  list.Assign(small);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        if (!list.Check("m", date, 4) || list.Check("gone", date, 4)) ++wrong;
      }
    });
  }
  for (int round = 0; round < 2000; ++round) list.Assign(round % 2 ? small : big);
  stop = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

class VersionGateFetch : public ::testing::Test {
 protected:
  TIniFile ConfigFor(const std::string& url) {
    TIniFile config;
    config.LoadFromText("[Settings]\r\nUpdateURL=" + url + "\r\n");
    return config;
  }

  TLocalHttpServer server_;
  std::vector<std::string> log_file_;
  std::vector<std::string> event_log_;
  TVersionGate gate_{[this](const std::string& line) { log_file_.push_back(line); },
                     [this](const std::string& line) { event_log_.push_back(line); }};
  const int32_t listed_ = Dos(2024, 3, 10, 12, 0);
};

TEST_F(VersionGateFetch, ReadsMaxDateDiffPlusOne) {
  TIniFile config;
  gate_.ReadSettings(config);
  EXPECT_EQ(gate_.MaxDateDiff(), 4);
  config.LoadFromText("[Settings]\nMaxDateDiff=0\n");
  gate_.ReadSettings(config);
  EXPECT_EQ(gate_.MaxDateDiff(), 1);
  config.LoadFromText("[settings]\nmaxdatediff=0x0A\n");
  gate_.ReadSettings(config);
  EXPECT_EQ(gate_.MaxDateDiff(), 11);
}

TEST_F(VersionGateFetch, EmptyUpdateUrlFetchesNothing) {
  gate_.List().Assign({Line("ordermod", listed_)});
  EXPECT_EQ(gate_.Refresh(TIniFile()), TRefreshResult::kNotConfigured);
  EXPECT_EQ(gate_.List().Count(), 1);
  EXPECT_EQ(server_.RequestCount(), 0);
}

TEST_F(VersionGateFetch, SuccessFillsTheListFromTheBodyLines) {
  server_.SetReply(200, "OK", Line("ordermod", listed_) + "\r\n" + Line("other", listed_) + "\r\n");
  EXPECT_EQ(gate_.Refresh(ConfigFor(server_.Url("/versions.txt"))), TRefreshResult::kFetched);
  EXPECT_EQ(gate_.List().Count(), 2);
  EXPECT_TRUE(gate_.Check("ordermod", Dos(2024, 3, 13, 12, 0)));
  EXPECT_FALSE(gate_.Check("ordermod", Dos(2024, 3, 14, 12, 0)));
  EXPECT_FALSE(gate_.Check("unlisted", listed_));
  EXPECT_TRUE(log_file_.empty());
  EXPECT_TRUE(event_log_.empty());
}

TEST_F(VersionGateFetch, HttpErrorWritesTheLogFileAndKeepsTheList) {
  server_.SetReply(404, "Not Found", "<html>missing</html>");
  EXPECT_EQ(gate_.Refresh(ConfigFor(server_.Url())), TRefreshResult::kHttpError);
  EXPECT_EQ(log_file_, (TItems{"HTTP error 404: Not Found"}));
  EXPECT_TRUE(event_log_.empty());
  EXPECT_TRUE(gate_.Check("anyone", 0)) << "the list stays empty: every client is accepted";

  gate_.List().Assign({Line("ordermod", listed_)});
  server_.SetReply(500, "", "");
  EXPECT_EQ(gate_.Refresh(ConfigFor(server_.Url())), TRefreshResult::kHttpError);
  EXPECT_EQ(log_file_.back(), "HTTP error 500");
  EXPECT_EQ(*gate_.List().Snapshot(), (TItems{Line("ordermod", listed_)}));
}

TEST_F(VersionGateFetch, PeerTextCannotBreakTheLogLine) {
  EXPECT_EQ(TVersionGate::HttpErrorMessage(403, "No\r\nInjected | line\x7f"),
            "HTTP error 403: No??Injected | line?");
}

TEST_F(VersionGateFetch, UnreachableAddressIsReportedNotThrown) {
  gate_.List().Assign({Line("ordermod", listed_)});
  const std::string url = "http://127.0.0.1:" + std::to_string(UnusedLocalPort()) + "/list";
  TRefreshResult result = TRefreshResult::kFetched;
  EXPECT_NO_THROW(result = gate_.Refresh(ConfigFor(url)));
  EXPECT_EQ(result, TRefreshResult::kFailed);
  ASSERT_EQ(event_log_.size(), 1u);
  EXPECT_EQ(event_log_[0].rfind("The client version list could not be fetched: ", 0), 0u)
      << event_log_[0];
  EXPECT_TRUE(log_file_.empty());
  EXPECT_EQ(gate_.List().Count(), 1);
}

TEST_F(VersionGateFetch, TimerFetchesOnceInTheFourOClockHour) {
  server_.SetReply(200, "OK", Line("ordermod", listed_));
  const TIniFile config = ConfigFor(server_.Url());
  gate_.Tick(config, At(2026, 12, 8, 3, 59, 59));
  EXPECT_EQ(server_.RequestCount(), 0);
  gate_.Tick(config, At(2026, 12, 8, 4, 0, 0));
  EXPECT_EQ(server_.RequestCount(), 1);
  EXPECT_EQ(gate_.List().Count(), 1);
  gate_.Tick(config, At(2026, 12, 8, 4, 0, 0) + kVersionTimerIntervalMs / kMSecsPerDay);
  gate_.Tick(config, At(2026, 12, 8, 4, 30, 0));
  gate_.Tick(config, At(2026, 12, 8, 4, 59, 59));
  gate_.Tick(config, At(2026, 12, 8, 5, 0, 0));
  EXPECT_EQ(server_.RequestCount(), 1);
  gate_.Tick(config, At(2026, 12, 9, 4, 17, 0));
  EXPECT_EQ(server_.RequestCount(), 2);
}

TEST_F(VersionGateFetch, FailedTimerFetchKeepsTheListAndRetriesAMinuteLater) {
  gate_.List().Assign({Line("ordermod", listed_)});
  server_.SetReply(503, "Service Unavailable", "");
  const TIniFile config = ConfigFor(server_.Url());
  gate_.Tick(config, At(2026, 12, 8, 4, 0, 0));
  EXPECT_EQ(server_.RequestCount(), 1);
  EXPECT_EQ(log_file_, (TItems{"HTTP error 503: Service Unavailable"}));
  EXPECT_FALSE(gate_.Check("unlisted", listed_)) << "the old list still rules";

  gate_.Tick(config, At(2026, 12, 8, 4, 0, 30));
  EXPECT_EQ(server_.RequestCount(), 1);
  server_.SetReply(200, "OK", Line("newmod", listed_));
  gate_.Tick(config, At(2026, 12, 8, 4, 1, 0));
  EXPECT_EQ(server_.RequestCount(), 2);
  EXPECT_EQ(*gate_.List().Snapshot(), (TItems{Line("newmod", listed_)}));
  gate_.Tick(config, At(2026, 12, 8, 4, 5, 0));
  EXPECT_EQ(server_.RequestCount(), 2);
}

TEST_F(VersionGateFetch, UnreachableTimerFetchIsRetried) {
  gate_.List().Assign({Line("ordermod", listed_)});
  const TIniFile unreachable =
      ConfigFor("http://127.0.0.1:" + std::to_string(UnusedLocalPort()) + "/");
  gate_.Tick(unreachable, At(2026, 12, 8, 4, 58, 0));
  EXPECT_EQ(event_log_.size(), 1u);
  EXPECT_EQ(gate_.List().Count(), 1);
  server_.SetReply(200, "OK", "");
  gate_.Tick(ConfigFor(server_.Url()), At(2026, 12, 8, 4, 59, 0));
  EXPECT_EQ(server_.RequestCount(), 1);
  EXPECT_EQ(gate_.List().Count(), 0);
}

}  // namespace
}  // namespace velquarn
