#include "service/systemd_unit.h"

#include <gtest/gtest.h>

#include <fstream>

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
            "ExecReload=/bin/kill -HUP $MAINPID\n"
            "Restart=on-failure\n"
            "User=velquarn\n"
            "Group=velquarn\n"
            "UMask=0027\n"
            "LimitNOFILE=16384\n"
            "NoNewPrivileges=yes\n"
            "ProtectSystem=strict\n"
            "ReadWritePaths=/etc\n"
            "ProtectHome=yes\n"
            "PrivateTmp=yes\n"
            "PrivateDevices=yes\n"
            "ProtectKernelTunables=yes\n"
            "ProtectKernelModules=yes\n"
            "ProtectKernelLogs=yes\n"
            "ProtectControlGroups=yes\n"
            "ProtectClock=yes\n"
            "ProtectHostname=yes\n"
            "ProtectProc=invisible\n"
            "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
            "RestrictNamespaces=yes\n"
            "RestrictRealtime=yes\n"
            "RestrictSUIDSGID=yes\n"
            "LockPersonality=yes\n"
            "MemoryDenyWriteExecute=yes\n"
            "RemoveIPC=yes\n"
            "CapabilityBoundingSet=\n"
            "AmbientCapabilities=\n"
            "SystemCallArchitectures=native\n"
            "SystemCallFilter=@system-service\n"
            "SystemCallFilter=~@privileged @resources\n"
            "SystemCallErrorNumber=EPERM\n"
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

TEST(SystemdUnit, WritableFolderIsTheConfigurationsAndHomeStaysReadable) {
  // Without --config the configuration sits beside the executable.
  EXPECT_NE(UnitFileText("/opt/v/velquarn", "").find("\nReadWritePaths=/opt/v\n"),
            std::string::npos);
  const std::string spaced = UnitFileText("/opt/v/velquarn", "/srv/my 100%/g.ini");
  EXPECT_NE(spaced.find("\nReadWritePaths=\"/srv/my 100%%\"\n"), std::string::npos) << spaced;
  EXPECT_NE(spaced.find("\nProtectHome=yes\n"), std::string::npos);
  // A service installed under a home folder must still reach its files.
  EXPECT_NE(UnitFileText("/home/op/velquarn", "").find("\nProtectHome=read-only\n"),
            std::string::npos);
  EXPECT_NE(UnitFileText("/usr/bin/velquarn", "/root/v.ini").find("\nProtectHome=read-only\n"),
            std::string::npos);
}

TEST(SystemdUnit, InstallWritesTheHardeningOfThePackagedUnit) {
  // Given the packaged paths, every [Service] line of the packaged unit
  // from "User=" on appears in the written unit.
  std::ifstream packaged(std::string(VELQUARN_SOURCE_DIR) + "/packaging/velquarn.service");
  ASSERT_TRUE(packaged.good());
  const std::string written = UnitFileText("/usr/bin/velquarn", "/etc/velquarn/velquarn.ini");
  std::string line;
  bool hardening = false;
  int compared = 0;
  while (std::getline(packaged, line)) {
    if (line.rfind("User=", 0) == 0) hardening = true;
    if (line.rfind("[Install]", 0) == 0) hardening = false;
    if (!hardening || line.empty()) continue;
    ++compared;
    EXPECT_NE(written.find("\n" + line + "\n"), std::string::npos) << line;
  }
  EXPECT_GT(compared, 20);
}

}  // namespace
}  // namespace velquarn
