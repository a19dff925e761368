#include "service/command_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/exceptions.h"

namespace velquarn {
namespace {

TCommandLine Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "velquarn");
  return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLine, NoSwitchRunsTheService) {
  TCommandLine line = Parse({});
  EXPECT_FALSE(line.Install);
  EXPECT_FALSE(line.Uninstall);
  EXPECT_FALSE(line.Silent);
  EXPECT_EQ(line.ConfigPath, "");
}

TEST(CommandLine, SwitchesTakeSlashOrDashInAnyCase) {
  TCommandLine install = Parse({"/install", "/silent"});
  EXPECT_TRUE(install.Install);
  EXPECT_TRUE(install.Silent);
  EXPECT_TRUE(Parse({"-UNINSTALL"}).Uninstall);
  EXPECT_TRUE(Parse({"-Install", "-SiLeNt"}).Silent);
}

TEST(CommandLine, FileOptionsInBothForms) {
  TCommandLine line = Parse({"--config", "a.ini", "--event-log=/tmp/e.log"});
  EXPECT_EQ(line.ConfigPath, "a.ini");
  EXPECT_EQ(line.EventLogPath, "/tmp/e.log");
  EXPECT_EQ(Parse({"--config=b.ini", "/install"}).ConfigPath, "b.ini");
}

TEST(CommandLine, BadArgumentsAreRejected) {
  EXPECT_THROW(Parse({"/frobnicate"}), Exception);
  EXPECT_THROW(Parse({"install"}), Exception);
  EXPECT_THROW(Parse({"--config"}), Exception);
  EXPECT_THROW(Parse({"--config="}), Exception);
  EXPECT_THROW(Parse({"/install", "/uninstall"}), Exception);
  EXPECT_THROW(Parse({"--configuration", "x"}), Exception);
}

}  // namespace
}  // namespace velquarn
