#include "commands/sys_commands.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/exceptions.h"
#include "common/string_list.h"

namespace velquarn {
namespace {

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velquarn-sys-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    path_ = folder_ + "/velquarn.ini";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void WriteFile(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string ReadFile() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
  }

  std::string folder_;
  std::string path_;
};

TEST_F(ConfigFileTest, WrittenLinesReplaceTheFileEachEndedByCrLf) {
  WriteFile("[old]\nkey=value with more text than the new file has\n");
  TStringList lines;
  lines.Add("[Settings]");
  lines.Add(".dotted");
  lines.Add("");
  WriteConfigurationLines(path_, lines);
  EXPECT_EQ(ReadFile(), "[Settings]\r\n.dotted\r\n\r\n");
}

TEST_F(ConfigFileTest, NoLinesLeaveAnEmptyFile) {
  WriteFile("[old]\n");
  WriteConfigurationLines(path_, TStringList());
  EXPECT_EQ(ReadFile(), "");
}

TEST_F(ConfigFileTest, WriteThatRunsOutOfSpaceLeavesTheOldFileWhole) {
  WriteFile("[Settings]\nPort=1\n");
  TStringList lines;
  for (int i = 0; i < 100; ++i) lines.Add("[Section" + std::to_string(i) + "]");
  // A file-size limit makes the write fail part way, as a full disk would,
  // for root too.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 64;
  const sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool raised = false;
  try {
    WriteConfigurationLines(path_, lines);
  } catch (const Exception&) {
    raised = true;
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_TRUE(raised);
  EXPECT_EQ(ReadFile(), "[Settings]\nPort=1\n");
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder_)) ++entries;
  EXPECT_EQ(entries, 1) << "the temporary file was left behind";
}

TEST_F(ConfigFileTest, WriteIntoAMissingFolderRaises) {
  TStringList lines;
  lines.Add("[new]");
  EXPECT_THROW(WriteConfigurationLines(folder_ + "/missing/velquarn.ini", lines), Exception);
}

}  // namespace
}  // namespace velquarn
