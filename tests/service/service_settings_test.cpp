#include "service/service_settings.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "common/ini_file.h"

namespace velquarn {
namespace {

TIniFile Config(const std::string& settings) {
  TIniFile config;
  config.LoadFromText("[Settings]\n" + settings);
  return config;
}

std::string ReadError(const std::string& settings) {
  try {
    ReadServiceSettings(Config(settings));
  } catch (const Exception& error) {
    return error.what();
  }
  return "";
}

TEST(ServiceSettings, AnEmptySectionGivesTodaysDefaults) {
  const TServiceSettings settings = ReadServiceSettings(Config(""));
  EXPECT_EQ(settings.MaxConnections, 2000);
  EXPECT_EQ(settings.ReadTimeoutSec, 60);
  EXPECT_EQ(settings.StopTimeoutSec, 10);
  EXPECT_EQ(settings.ShutdownGraceSec, 0);
  EXPECT_EQ(settings.SlowQueryMs, 0);
  EXPECT_TRUE(settings.AllowFrom.Empty());
  EXPECT_TRUE(settings.ConfigCommands);
  EXPECT_TRUE(settings.ReadAhead);
  EXPECT_FALSE(ReadServiceSettings(Config("ReadAhead=0")).ReadAhead);
}

TEST(ServiceSettings, ValuesThatWouldOpenADoorOrHideAProblemAreRefused) {
  EXPECT_EQ(ReadError("SlowQueryMs=fast"),
            "Settings/SlowQueryMs: 'fast' is not a valid value (a whole number from 0 on)");
  EXPECT_EQ(ReadError("ShutdownGraceSec=-1"),
            "Settings/ShutdownGraceSec: '-1' is not a valid value (a whole number from 0 on)");
  EXPECT_EQ(ReadError("MaxConnections=0"),
            "Settings/MaxConnections: '0' is not a valid value (a whole number from 1 on)");
  EXPECT_EQ(ReadError("ConfigCommands=maybe"), "Settings/ConfigCommands: 'maybe' is not 0 or 1");
  EXPECT_EQ(ReadError("ReadAhead=2"), "Settings/ReadAhead: '2' is not 0 or 1");
  EXPECT_NE(ReadError("AllowFrom=10.0.0.0/99").find("AllowFrom"), std::string::npos);
  // Read as the service always read them: unreadable means the default.
  EXPECT_EQ(ReadServiceSettings(Config("MaxLineLength=abc")).MaxLineLength,
            TCommandServer::kDefaultMaxLineLength);
}

TEST(ServiceSettings, ChangesListOnlyWhatDiffersInAFixedOrder) {
  const TServiceSettings before = ReadServiceSettings(Config("SlowQueryMs=5\nAllowFrom=10.0.0.1"));
  const TServiceSettings after =
      ReadServiceSettings(Config("ConfigCommands=off\nSlowQueryMs=250\nAllowFrom=10.0.0.1"));
  EXPECT_EQ(SettingChanges(before, after),
            (std::vector<std::string>{"SlowQueryMs: 5 -> 250", "ConfigCommands: 1 -> 0"}));
  EXPECT_TRUE(SettingChanges(after, after).empty());
  EXPECT_EQ(SettingChanges(after, ReadServiceSettings(Config(""))),
            (std::vector<std::string>{"SlowQueryMs: 250 -> 0", "AllowFrom: 10.0.0.1 -> (none)",
                                      "ConfigCommands: 0 -> 1"}));
}

TEST(ServiceSettings, RestartOnlyKeysAreNamedWhenTheirTextChanges) {
  EXPECT_TRUE(RestartOnlyChanges(Config("Port=1"), Config("port = 1\nSlowQueryMs=3")).empty());
  EXPECT_EQ(RestartOnlyChanges(Config("Port=1"), Config("Port=2\nIPV6=1\nListenAddress=::1")),
            (std::vector<std::string>{"Port", "IPV6", "ListenAddress"}));
}

}  // namespace
}  // namespace velquarn

namespace velquarn {
namespace {

TEST(ServiceSettings, IsolationIsThreadUnlessProcessIsSpelledOut) {
  const TServiceSettings defaults = ReadServiceSettings(Config(""));
  EXPECT_FALSE(defaults.ProcessIsolation);
  EXPECT_EQ(defaults.HardTimeoutSec, 60);
  EXPECT_FALSE(ReadServiceSettings(Config("Isolation=Thread\n")).ProcessIsolation);
  const TServiceSettings isolated =
      ReadServiceSettings(Config("Isolation= PROCESS \nHardTimeoutSec=0\n"));
  EXPECT_TRUE(isolated.ProcessIsolation);
  EXPECT_EQ(isolated.HardTimeoutSec, 0);
  EXPECT_EQ(ReadError("Isolation=processes"),
            "Settings/Isolation: 'processes' is not a valid value (thread or process)");
  EXPECT_EQ(ReadError("Isolation=1"),
            "Settings/Isolation: '1' is not a valid value (thread or process)");
  EXPECT_EQ(ReadError("HardTimeoutSec=soon"),
            "Settings/HardTimeoutSec: 'soon' is not a valid value (a whole number from 0 on)");
  // The hard timeout is live; the isolation takes a restart.
  EXPECT_EQ(SettingChanges(defaults, ReadServiceSettings(Config("HardTimeoutSec=5\n"))),
            std::vector<std::string>{"HardTimeoutSec: 60 -> 5"});
  EXPECT_EQ(RestartOnlyChanges(Config(""), Config("Isolation=process\n")),
            std::vector<std::string>{"Isolation"});
}

}  // namespace
}  // namespace velquarn
