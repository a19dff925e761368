#include "service/paths.h"

#include <gtest/gtest.h>

namespace velquarn {
namespace {

TEST(Paths, ConfigurationBesideTheExecutable) {
  EXPECT_EQ(ConfigPathFor("/opt/velquarn/velquarn"), "/opt/velquarn/velquarn.ini");
  EXPECT_EQ(ConfigPathFor("/opt/velquarn/velquarn.bin"), "/opt/velquarn/velquarn.ini");
  // A dot in a folder name is no extension of the file.
  EXPECT_EQ(ConfigPathFor("/opt/v1.2/velquarn"), "/opt/v1.2/velquarn.ini");
  EXPECT_EQ(ConfigPathFor("/opt/.velquarn"), "/opt/.velquarn.ini");
}

TEST(Paths, LogFileBesideTheConfiguration) {
  EXPECT_EQ(LogPathFor("/etc/velquarn/velquarn.ini"), "/etc/velquarn/velquarn.log");
  EXPECT_EQ(LogPathFor("/etc/velquarn/gateway"), "/etc/velquarn/gateway.log");
}

TEST(Paths, AbsolutePathKeepsAbsoluteOnes) {
  EXPECT_EQ(AbsolutePath("/a/b"), "/a/b");
  std::string relative = AbsolutePath("b.ini");
  EXPECT_EQ(relative.front(), '/');
  EXPECT_EQ(relative.substr(relative.size() - 6), "/b.ini");
}

}  // namespace
}  // namespace velquarn
