#include "service/event_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "service/log_file.h"

namespace velquarn {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string(name) + "-" + std::to_string(::getpid())))
      .string();
}

TEST(EventLog, LineBreaksAreEscaped) {
  EXPECT_EQ(EscapeLineBreaks("a\r\nb\\c\nd"), "a\\r\\nb\\\\c\\nd");
}

TEST(EventLog, EntriesAreAppendedAsPrioritySourceAndText) {
  std::string path = TempPath("velquarn-event-log");
  std::filesystem::remove(path);
  TEventLog log;
  log.SetFile(path);
  log.Write(kEventSourceService, "Application error: EFoo:\r\nbroken");
  log.Write(TLogPriority::kWarning, kEventSourceServer, "TCPServerException: x");
  log.Write(TLogPriority::kInfo, kEventSourceService, "Service started");
  EXPECT_EQ(ReadFile(path),
            "err VelquarnSvc Application error: EFoo:\\r\\nbroken\n"
            "warning Velquarn TCPServerException: x\n"
            "info VelquarnSvc Service started\n");
  std::filesystem::remove(path);
}

TEST(EventLog, ConcurrentEntriesStayWhole) {
  std::string path = TempPath("velquarn-event-log-threads");
  std::filesystem::remove(path);
  TEventLog log;
  log.SetFile(path);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 50; ++i) log.Write("Velquarn", std::string(200, char('a' + t)));
    });
  }
  for (auto& thread : threads) thread.join();
  std::istringstream lines(ReadFile(path));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    // "err Velquarn " and the text.
    ASSERT_EQ(line.size(), 213u);
    EXPECT_EQ(line.substr(13), std::string(200, line[13]));
  }
  EXPECT_EQ(count, 400);
  std::filesystem::remove(path);
}

TEST(LogFile, OneLineWithDateTimeAndBar) {
  std::string path = TempPath("velquarn-log-file");
  std::filesystem::remove(path);
  ASSERT_TRUE(WriteLogFile(path, "HTTP error 404"));
  ASSERT_TRUE(WriteLogFile(path, "second"));
  std::string text = ReadFile(path);
  std::istringstream lines(text);
  std::string first;
  std::getline(lines, first);
  size_t bar = first.find(" | ");
  ASSERT_NE(bar, std::string::npos) << first;
  EXPECT_EQ(first.substr(bar), " | HTTP error 404");
  EXPECT_GE(bar, 10u);  // a date and a time come first
  EXPECT_NE(text.find(" | second\n"), std::string::npos);
  std::filesystem::remove(path);
  EXPECT_FALSE(WriteLogFile("/nonexistent/folder/x.log", "x"));
}

}  // namespace
}  // namespace velquarn
