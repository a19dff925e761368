#include "commands/session_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/command_table.h"
#include "common/exceptions.h"
#include "dataset/sql_errors.h"
#include "metrics/gateway_metrics.h"

namespace velquarn {
namespace {

TEST(SessionLog, ConnectFailureNamesSectionPeerSqlstateAndFirstLine) {
  EcsSQLError error(DriverRecord(0, "08001",
                                 "could not connect to server: Connection refused\n\tIs the "
                                 "server running?"));
  error.AddError(DriverRecord(0, "01S00", "second record"));
  EXPECT_EQ(ConnectFailureText("pg", "127.0.0.1:4000", error),
            "Connect to database section pg for 127.0.0.1:4000 failed: SQLSTATE 08001: could not "
            "connect to server: Connection refused");
  EXPECT_EQ(ConnectFailurePriority(error), TLogPriority::kErr);
}

TEST(SessionLog, ErrorsWithoutSqlstateSayNone) {
  EXPECT_EQ(ConnectFailureText("lite", "p", EODBCDriverError(kUnableToConnect)),
            "Connect to database section lite for p failed: SQLSTATE none: Unable to connect to "
            "database");
  EXPECT_EQ(ConnectFailureText("lite", "p", EcsSQLError(-1, "General SQL Error")),
            "Connect to database section lite for p failed: SQLSTATE none: General SQL Error");
}

TEST(SessionLog, OpenFailureKeepsTheFirstLine) {
  EXPECT_EQ(OpenFailureText("sales", "10.0.0.1:3", Exception("Cannot open file x.pw\r\nmore")),
            "Open of database section sales for 10.0.0.1:3 failed: Cannot open file x.pw");
}

TEST(SessionLog, RefusedLoginsAreWarnings) {
  EXPECT_EQ(ConnectFailurePriority(
                EcsSQLError(DriverRecord(0, "28P01", "password authentication failed"))),
            TLogPriority::kWarning);
  EXPECT_EQ(ConnectFailurePriority(EcsSQLError(DriverRecord(0, "28000", "invalid authorization"))),
            TLogPriority::kWarning);
}

TEST(SessionLog, SlowStatementQuotesTheFirst200Characters) {
  const std::string sql = "\r\n " + std::string(199, 'a') + "bc";
  EXPECT_EQ(SlowStatementText("lite", "127.0.0.1:5", 1234, 1000, "select 1 "),
            "Slow statement on database section lite for 127.0.0.1:5: 1234 ms (SlowQueryMs "
            "1000): select 1");
  EXPECT_EQ(SlowStatementText("lite", "127.0.0.1:5", 1234, 1000, sql),
            "Slow statement on database section lite for 127.0.0.1:5: 1234 ms (SlowQueryMs "
            "1000): " +
                std::string(199, 'a') + "b");
}

TEST(SessionLog, DriverEventsLogAboveTheLiveThresholdOnly) {
  TCommandEnvironment environment;
  std::vector<std::string> entries;
  environment.LogAt = [&entries](TLogPriority priority, const std::string& source,
                                 const std::string& text) {
    entries.push_back(std::string(PriorityName(priority)) + " " + source + " " + text);
  };
  const TcsODBCDriver::TEvents events = SessionDriverEvents(environment, "s", "p", "s");
  events.StatementRan("select 1", 5000);  // off by default
  auto live = std::make_shared<TLiveSettings>();
  live->SlowQueryMs = 100;
  environment.SetLive(live);
  events.StatementRan("select 2", 100);
  events.StatementRan("select 3", 101);
  events.ConnectFailed(EcsSQLError(DriverRecord(0, "28P01", "no")));
  EXPECT_EQ(
      entries,
      (std::vector<std::string>{
          "warning Velquarn Slow statement on database section s for p: 101 ms (SlowQueryMs "
          "100): select 3",
          "warning Velquarn Connect to database section s for p failed: SQLSTATE 28P01: no"}));
}

TEST(SessionLog, DriverEventsCountConnectionsUnderTheGivenLabelOnly) {
  TCommandEnvironment environment;
  TGatewayMetrics metrics("1", 0);
  environment.Metrics = &metrics;
  const TcsODBCDriver::TEvents events =
      SessionDriverEvents(environment, "Typed-By-Client", "p", "lite");
  events.Connected();
  events.Connected();
  events.Disconnected();
  events.ConnectFailed(EcsSQLError(DriverRecord(0, "08001", "down")));
  const TSectionMetrics& lite = metrics.Section("lite");
  EXPECT_EQ(lite.connects.Value(), 2u);
  EXPECT_EQ(lite.databases_open.Value(), 1);
  EXPECT_EQ(lite.connect_failures.Value(), 1u);
  EXPECT_EQ(metrics.RenderText(0).find("Typed-By-Client"), std::string::npos);

  TCommandEnvironment uncounted;
  const TcsODBCDriver::TEvents quiet = SessionDriverEvents(uncounted, "s", "p", "s");
  EXPECT_FALSE(quiet.Connected);
  quiet.ConnectFailed(EcsSQLError(DriverRecord(0, "08001", "down")));
}

}  // namespace
}  // namespace velquarn
