#include "service/systemd_unit.h"

#include <gtest/gtest.h>

namespace velquarn {
namespace {

TEST(SystemdUnit, UnitTextRunsTheExecutableWithItsConfiguration) {
  std::string text = UnitFileText("/opt/velquarn/velquarn", "/etc/velquarn.ini");
  EXPECT_EQ(text,
            "[Unit]\n"
            "Description=Velquarn\n"
            "After=network.target\n"
            "\n"
            "[Service]\n"
            "Type=notify\n"
            "ExecStart=/opt/velquarn/velquarn --config /etc/velquarn.ini\n"
            "Restart=on-failure\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
}

TEST(SystemdUnit, ArgumentsThatSystemdWouldSplitOrExpandAreQuoted) {
  std::string text = UnitFileText("/opt/my gateway/velquarn", "/etc/100%$x.ini");
  EXPECT_NE(text.find("ExecStart=\"/opt/my gateway/velquarn\" --config \"/etc/100%%$$x.ini\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(UnitFileText("/v", "").find("ExecStart=/v\n"), std::string::npos);
}

}  // namespace
}  // namespace velquarn
