#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "client/velquarn_client.h"
#include "common/exceptions.h"
#include "e2e/e2e_options.h"
#include "support/file_text.h"

namespace velquarn::testing {
namespace {

using Clock = std::chrono::steady_clock;

bool Ipv6LoopbackAvailable() {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return bound;
}

TEST(ServiceE2E, SigtermWithIdleClientsStopsWithinSeconds) {
  TVelquarnProcess server(VelquarnOptions());
  std::vector<TVelquarnClient> clients(20);
  for (auto& client : clients) ASSERT_EQ(client.Open("127.0.0.1", server.Port()).Code, 200);
  auto start = Clock::now();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(10000), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  for (auto& client : clients) EXPECT_TRUE(client.WaitForClose(2000));
  // Nothing but the start and the stop entries.
  const std::string log = server.EventLogText();
  EXPECT_EQ(log.rfind("info VelquarnSvc Service started: velquarn ", 0), 0u) << log;
  EXPECT_NE(log.find("\ninfo VelquarnSvc Service stopped on SIGTERM: 20 connection(s) closed\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
}

TEST(ServiceE2E, SigintStopsToo) {
  TVelquarnProcess server(VelquarnOptions());
  server.Signal(SIGINT);
  EXPECT_EQ(server.WaitForExit(10000), 0);
}

TEST(ServiceE2E, PortInUseFailsExecuteAndExits) {
  int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t length = sizeof(address);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);

  TVelquarnProcessOptions options = VelquarnOptions();
  options.port = ntohs(address.sin_port);
  options.wait_until_listening = false;
  TVelquarnProcess server(options);
  int status = server.WaitForExit(10000);
  ::close(holder);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -1);
  std::string log = server.EventLogText();
  EXPECT_EQ(log.rfind("err VelquarnSvc Service failed on execute: ", 0), 0u) << log;
  EXPECT_NE(log.find("Address already in use"), std::string::npos) << log;
}

TEST(ServiceE2E, Ipv6ListenerWhenConfigured) {
  if (!Ipv6LoopbackAvailable()) GTEST_SKIP() << "::1 is not available";
  TVelquarnProcessOptions options = VelquarnOptions();
  options.settings = "IPV6=1";
  TVelquarnProcess server(options);
  TVelquarnClient v6;
  ASSERT_EQ(v6.Open("::1", server.Port()).Code, 200);
  EXPECT_EQ(v6.Command("test").Code, 200);
  TVelquarnClient v4;
  EXPECT_EQ(v4.Open("127.0.0.1", server.Port()).Code, 200);
}

TEST(ServiceE2E, NoIpv6ListenerByDefaultOrForTrue) {
  if (!Ipv6LoopbackAvailable()) GTEST_SKIP() << "::1 is not available";
  // "true" is not a number, so the key falls back to its default.
  TVelquarnProcessOptions options = VelquarnOptions();
  options.settings = "IPV6=true";
  TVelquarnProcess server(options);
  TVelquarnClient v6;
  EXPECT_THROW(v6.Connect("::1", server.Port(), 2000), Exception);
}

TEST(ServiceE2E, MissingConfigurationStartsOnDefaults) {
  // The fixture always writes a file; pointing --config elsewhere leaves
  // the service without one, so it must come up on port 8888.
  TVelquarnClient probe;
  try {
    probe.Connect("127.0.0.1", 8888, 500);
    GTEST_SKIP() << "port 8888 is taken on this machine";
  } catch (const Exception&) {
  }
  TVelquarnProcessOptions options = VelquarnOptions();
  options.port = 8888;
  options.arguments = {"--config", "/nonexistent/velquarn.ini"};
  TVelquarnProcess server(options);
  TVelquarnClient client;
  EXPECT_EQ(client.Open("127.0.0.1", 8888).Code, 200);
}

class InstallE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velquarn-unit-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    environment_ = {{"VELQUARN_UNIT_DIR", folder_.string()}};
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::filesystem::path UnitFile() const { return folder_ / "VelquarnSvc.service"; }

  std::filesystem::path folder_;
  std::map<std::string, std::string> environment_;
};

TEST_F(InstallE2E, SilentInstallThenUninstall) {
  TRunResult install = RunVelquarn(VELQUARN_BINARY, {"/install", "/silent"}, environment_);
  EXPECT_EQ(install.status, 0) << install.err;
  EXPECT_EQ(install.out, "");
  std::string unit = ReadFileText(UnitFile());
  std::string executable = std::filesystem::canonical(VELQUARN_BINARY).string();
  EXPECT_NE(unit.find("Description=Velquarn\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("ExecStart=" + executable + "\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("Type=notify\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("Restart=on-failure\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("WantedBy=multi-user.target\n"), std::string::npos) << unit;

  TRunResult uninstall = RunVelquarn(VELQUARN_BINARY, {"-UNINSTALL"}, environment_);
  EXPECT_EQ(uninstall.status, 0) << uninstall.err;
  EXPECT_EQ(uninstall.out, "Service uninstalled successfully\n");
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
}

TEST_F(InstallE2E, InstallRecordsTheConfigurationAndSaysSo) {
  TRunResult install = RunVelquarn(
      VELQUARN_BINARY, {"-Install", "--config", "/etc/velquarn/my gateway.ini"}, environment_);
  EXPECT_EQ(install.status, 0) << install.err;
  EXPECT_EQ(install.out, "Service installed successfully\n");
  EXPECT_NE(ReadFileText(UnitFile()).find(" --config \"/etc/velquarn/my gateway.ini\"\n"),
            std::string::npos)
      << ReadFileText(UnitFile());
}

TEST_F(InstallE2E, FailuresNameTheServiceOnStderr) {
  TRunResult uninstall = RunVelquarn(VELQUARN_BINARY, {"/uninstall", "/silent"}, environment_);
  EXPECT_EQ(uninstall.status, 1);
  EXPECT_EQ(uninstall.out, "");
  EXPECT_EQ(uninstall.err.rfind("Service \"Velquarn\" failed to uninstall with error: \"", 0), 0u)
      << uninstall.err;

  std::map<std::string, std::string> missing = {{"VELQUARN_UNIT_DIR", "/nonexistent/units"}};
  TRunResult install = RunVelquarn(VELQUARN_BINARY, {"/INSTALL", "/SILENT"}, missing);
  EXPECT_EQ(install.status, 1);
  EXPECT_EQ(install.err.rfind("Service \"Velquarn\" failed to install with error: \"", 0), 0u)
      << install.err;
}

TEST(CommandLineE2E, UnknownSwitchShowsUsage) {
  TRunResult result = RunVelquarn(VELQUARN_BINARY, {"/frobnicate"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Unknown switch: /frobnicate"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Usage: velquarn"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace velquarn::testing
