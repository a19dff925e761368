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

TEST(CommandLine, HelpAndVersionInShortLongAndServiceForms) {
  EXPECT_TRUE(Parse({"-h"}).Help);
  EXPECT_TRUE(Parse({"--help"}).Help);
  EXPECT_TRUE(Parse({"/HELP"}).Help);
  EXPECT_TRUE(Parse({"/?"}).Help);
  EXPECT_TRUE(Parse({"-V"}).Version);
  EXPECT_TRUE(Parse({"--Version"}).Version);
  EXPECT_FALSE(Parse({"--version"}).Help);
}

TEST(CommandLine, CheckConfigWithConnectAndConfiguration) {
  TCommandLine line = Parse({"--check-config", "--connect", "--CONFIG", "/etc/v.ini"});
  EXPECT_TRUE(line.CheckConfig);
  EXPECT_TRUE(line.Connect);
  EXPECT_EQ(line.ConfigPath, "/etc/v.ini");
  // Options may come in any order and be shortened while unambiguous.
  TCommandLine shortened = Parse({"--conf=x.ini", "--check"});
  EXPECT_TRUE(shortened.CheckConfig);
  EXPECT_FALSE(shortened.Connect);
  EXPECT_EQ(shortened.ConfigPath, "x.ini");
  EXPECT_THROW(Parse({"--connect"}), Exception);
  EXPECT_THROW(Parse({"--check-config", "/install"}), Exception);
  EXPECT_THROW(Parse({"--check-config", "--scramble-password"}), Exception);
  EXPECT_THROW(Parse({"--c"}), Exception);  // config, check-config or connect
}

TEST(CommandLine, AFileValueMayLookLikeASwitch) {
  TCommandLine line = Parse({"--config", "/install", "--event-log", "-silent"});
  EXPECT_EQ(line.ConfigPath, "/install");
  EXPECT_EQ(line.EventLogPath, "-silent");
  EXPECT_FALSE(line.Install);
  EXPECT_FALSE(line.Silent);
}

TEST(CommandLine, ErrorsNameTheArgument) {
  auto message = [](std::vector<const char*> arguments) -> std::string {
    try {
      Parse(arguments);
    } catch (const Exception& error) {
      return error.what();
    }
    return "accepted";
  };
  EXPECT_EQ(message({"/frobnicate"}), "Unknown switch: /frobnicate");
  EXPECT_EQ(message({"-frobnicate"}), "Unknown switch: -frobnicate");
  EXPECT_EQ(message({"-x"}), "Unknown switch: -x");
  EXPECT_EQ(message({"--frobnicate"}), "Unknown switch: --frobnicate");
  EXPECT_EQ(message({"--event-log"}), "Missing value after --event-log");
  EXPECT_EQ(message({"--config="}), "Missing value after --config=");
  EXPECT_EQ(message({"--config", "a.ini", "stray"}), "Unknown argument: stray");
  EXPECT_EQ(message({"--help=yes"}), "Unknown switch: --help=yes");
}

TEST(CommandLine, RepeatedParsesStartOver) {
  // getopt keeps state between calls; each parse must begin afresh.
  EXPECT_THROW(Parse({"-x"}), Exception);
  TCommandLine line = Parse({"-V"});
  EXPECT_TRUE(line.Version);
  EXPECT_FALSE(Parse({}).Version);
}

TEST(CommandLine, VersionTextNamesVersionCompilerAndBuildType) {
  const std::string text = VersionText();
  EXPECT_EQ(text.rfind("velquarn 2.", 0), 0u) << text;
  EXPECT_NE(text.find("\ncompiler: "), std::string::npos) << text;
  EXPECT_NE(text.find("\nbuild type: "), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
}

}  // namespace
}  // namespace velquarn
