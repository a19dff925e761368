#include "dataset/blob_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "support/odbc_test_env.h"

namespace velquarn {
namespace {

TEST(TcsBlobList, MemoryModeKeepsIndexesAfterDelete) {
  TcsBlobList list;
  EXPECT_EQ(list.Add("one"), 1);
  EXPECT_EQ(list.Add(std::string("t\0o", 3)), 2);
  EXPECT_EQ(list.Add("three"), 3);
  list.Delete(2);
  EXPECT_EQ(list.Get(2), "");
  EXPECT_EQ(list.Get(3), "three");
  EXPECT_EQ(list.Add("four"), 4);
  list.Replace(1, "a longer first value");
  EXPECT_EQ(list.Get(1), "a longer first value");
  EXPECT_EQ(list.View(3), "three");
  EXPECT_EQ(list.Get(0), "");
  EXPECT_EQ(list.Get(99), "");
  EXPECT_TRUE(list.FileName().empty());
}

TEST(TcsBlobList, FileModeUsesATemporaryFileThatGoesAway) {
  testing::TempDir dir("velquarn-blob");
  const char* saved = getenv("TMPDIR");
  const std::string saved_value = saved != nullptr ? saved : "";
  setenv("TMPDIR", dir.Path().c_str(), 1);
  std::string file;
  {
    TcsBlobList list(TcsBlobList::kFile);
    file = list.FileName();
    EXPECT_EQ(std::filesystem::path(file).parent_path(), dir.Path());
    EXPECT_EQ(std::filesystem::path(file).filename().string().substr(0, 3), "SQB");
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(list.Add("first"), 1);
    EXPECT_EQ(list.Add(std::string(10000, 'x')), 2);
    EXPECT_EQ(list.Add(""), 3);
    list.Delete(1);
    EXPECT_EQ(list.Get(1), "");
    EXPECT_EQ(list.Get(2), std::string(10000, 'x'));
    list.Replace(3, "later");
    EXPECT_EQ(list.Get(3), "later");
    EXPECT_EQ(list.View(2), "");  // no in-memory view of a file value
  }
  EXPECT_FALSE(std::filesystem::exists(file));
  if (saved != nullptr) {
    setenv("TMPDIR", saved_value.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace
}  // namespace velquarn
