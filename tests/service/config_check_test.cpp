#include "service/config_check.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "commands/password_scramble.h"
#include "service/settings_keys.h"
#include "support/odbc_test_env.h"

namespace velquarn {
namespace {

using testing::OdbcTestEnv;
using testing::TempDir;

class ConfigCheck : public ::testing::Test {
 protected:
  // The driver manager reads the test odbc.ini only when it is set up
  // before the first load.
  void SetUp() override { OdbcTestEnv::Get(); }

  std::string Write(const std::string& text) {
    const std::string path = dir_.File("velquarn" + std::to_string(++files_) + ".ini");
    std::ofstream(path) << text;
    return path;
  }

  std::string SqliteSection(const std::string& name, const std::string& database) const {
    return "[" + name + "]\nDriverName=" + OdbcTestEnv::kSqliteDriver +
           "\nDriverParams=Database=" + database + "\n";
  }

  TempDir dir_{"velquarn-check"};
  int files_ = 0;
};

TEST_F(ConfigCheck, CleanFileHasNoFindingsAndConnects) {
  const std::string path = Write(
      "[Settings]\nPort=8888\nIPV6=0\nMaxDateDiff=3\nUpdateURL=\nMaxLineLength=$100000\n"
      "MaxConnections=100\nMaxConnectionsPerAddress=10\nIdleTimeout=0\nStopTimeout=5\n"
      "ListenAddress=127.0.0.1\nAllowFrom=127.0.0.0/8\nAdminFrom=\nConfigCommands=0\n"
      "MetricsAddress=[::1]:9188\n\n"
      "[CustomData]\nAnything=goes\n\n" +
      SqliteSection("lite", dir_.File("lite.db")) + "Charset=utf-8\nLoginTimeout=5\n\n" +
      "[dsn]\nDSN=" + OdbcTestEnv::kSqliteDsn + "\nPassword=" + ScramblePassword("s3cret!") + "\n");
  const TConfigCheckResult checked = CheckConfigFile(path, false);
  EXPECT_TRUE(checked.Findings.empty()) << FormatFinding(path, checked.Findings.front());
  EXPECT_EQ(checked.DatabaseSections, 2);
  EXPECT_EQ(checked.Connected, 0);

  const TConfigCheckResult connected = CheckConfigFile(path, true);
  EXPECT_TRUE(connected.Findings.empty()) << FormatFinding(path, connected.Findings.front());
  EXPECT_EQ(connected.Connected, 2);
}

TEST_F(ConfigCheck, MetricsAddressWithoutAPortStopsTheStart) {
  const std::string path = Write("[Settings]\nMetricsAddress=127.0.0.1\nmetricsaddres=1\n");
  const TConfigCheckResult checked = CheckConfigFile(path, false);
  ASSERT_EQ(checked.Findings.size(), 2u);
  EXPECT_EQ(checked.Findings[0].Text,
            "[Settings] MetricsAddress=127.0.0.1: not an IP address with a port; the service does "
            "not start");
  EXPECT_NE(checked.Findings[1].Text.find("did you mean MetricsAddress?"), std::string::npos)
      << checked.Findings[1].Text;
}

TEST_F(ConfigCheck, ConnectReportsTheDriversErrorAtTheSection) {
  const std::string path = Write(SqliteSection("good", dir_.File("good.db")) + "\n" +
                                 SqliteSection("bad", "/nonexistent/folder/bad.db"));
  const TConfigCheckResult checked = CheckConfigFile(path, true);
  ASSERT_EQ(checked.Findings.size(), 1u);
  EXPECT_EQ(checked.Findings[0].Line, 5);
  EXPECT_EQ(checked.Findings[0].Text.rfind("[bad]: cannot connect: ", 0), 0u)
      << checked.Findings[0].Text;
  EXPECT_EQ(checked.Connected, 1);
}

TEST_F(ConfigCheck, PlainTextPasswordsAreCaughtMostOfTheTime) {
  // A plain password is caught when it unscrambles to a control character,
  // as most of these do, while their scrambled forms never are.
  int caught = 0;
  for (const char* plain : {"secret", "hunter2", "Passw0rd", "velquarn", "letmein!"}) {
    const std::string path =
        Write(SqliteSection("x", dir_.File("x.db")) + "Password=" + plain + "\n");
    const TConfigCheckResult checked = CheckConfigFile(path, false);
    if (!checked.Findings.empty()) {
      ++caught;
      EXPECT_EQ(checked.Findings[0].Line, 4);
      EXPECT_NE(checked.Findings[0].Text.find("--scramble-password"), std::string::npos);
    }
    // The tool refuses a password whose scrambled form holds a line break.
    std::string why;
    if (!IsStorableOnIniLine(ScramblePassword(plain), why)) continue;
    const std::string scrambled = Write(SqliteSection("x", dir_.File("x.db")) +
                                        "Password=" + IniLineValue(ScramblePassword(plain)) + "\n");
    const TConfigCheckResult clean = CheckConfigFile(scrambled, false);
    EXPECT_TRUE(clean.Findings.empty()) << plain << ": " << clean.Findings.front().Text;
  }
  EXPECT_GE(caught, 3);
}

TEST_F(ConfigCheck, FindingsComeInLineOrderAndFormatWithFileAndLine) {
  const std::string path = Write("[Settings]\nPort=0\nPrt=1\n\n[x]\nDSN=NoSuchSource\nX=1\n");
  const TConfigCheckResult checked = CheckConfigFile(path, false);
  ASSERT_EQ(checked.Findings.size(), 4u);
  EXPECT_EQ(FormatFinding(path, checked.Findings[0]),
            path + ":2: [Settings] Port=0: outside 1..65535");
  EXPECT_EQ(FormatFinding(path, checked.Findings[1]),
            path + ":3: [Settings] Prt: unknown key; did you mean Port?");
  EXPECT_EQ(checked.Findings[2].Line, 6);
  EXPECT_EQ(FormatFinding(path, checked.Findings[3]), path + ":7: [x] X: unknown key, ignored");

  std::ostringstream out;
  EXPECT_EQ(RunConfigCheck(path, false, out), 1);
  EXPECT_NE(out.str().find("\n" + path + ": 4 problem(s)\n"), std::string::npos) << out.str();
  EXPECT_EQ(FormatFinding("f.ini", {0, "whole"}), "f.ini: whole");
}

TEST_F(ConfigCheck, LimitsThatStopTheStartSaySo) {
  const std::string path = Write(
      "[Settings]\nMaxConnections=0\nIdleTimeout=-1\nSlowQueryMs=fast\nStopTimeout=\n"
      "ShutdownGraceSec=0\n[db]\nDSN=x\nPasswordFile=db.pw\n");
  const TConfigCheckResult checked = CheckConfigFile(path, false, false);
  ASSERT_EQ(checked.Findings.size(), 3u);
  EXPECT_EQ(checked.Findings[0].Text,
            "[Settings] MaxConnections=0: not a whole number from 1 on; the service does not "
            "start");
  EXPECT_EQ(checked.Findings[1].Text,
            "[Settings] IdleTimeout=-1: not a whole number from 0 on; the service does not start");
  EXPECT_EQ(checked.Findings[2].Line, 4);
}

TEST(NameDistance, CountsEditsAndSwapsWithoutLetterCase) {
  EXPECT_EQ(NameDistance("Port", "port"), 0u);
  EXPECT_EQ(NameDistance("Port", "Prot"), 1u);
  EXPECT_EQ(NameDistance("Settings", "Setings"), 1u);
  EXPECT_EQ(NameDistance("MaxConnections", "MaxConection"), 2u);
  EXPECT_EQ(NameDistance("", "abc"), 3u);
}

TEST(SettingsKeys, EveryKeyIsFoundByNameInAnyCase) {
  for (const TSettingKey& key : SettingsKeys()) {
    EXPECT_EQ(FindSettingKey(SettingsKeys(), key.Name), &key);
    EXPECT_EQ(FindSettingKey(DatabaseSectionKeys(), key.Name), nullptr) << key.Name;
  }
  EXPECT_NE(FindSettingKey(SettingsKeys(), "ipv6"), nullptr);
  EXPECT_NE(FindSettingKey(DatabaseSectionKeys(), "dsn"), nullptr);
}

}  // namespace
}  // namespace velquarn
