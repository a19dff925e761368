#include "service/velquarn_service.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "commands/db_context.h"
#include "common/exceptions.h"
#include "protocol/connection_errors.h"
#include "support/velquarn_process.h"

namespace velquarn {
namespace {

// A loopback connection to the service (the protocol client lives in a
// library this program does not link).
class TProbe {
 public:
  explicit TProbe(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~TProbe() { ::close(fd_); }
  bool Connected() const { return connected_; }
  void Send(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Bytes until CR LF (without it); "" when the connection ends first.
  std::string ReadLine() {
    std::string line;
    char c;
    while (Wait(5000) && ::recv(fd_, &c, 1, 0) == 1) {
      line += c;
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        return line.substr(0, line.size() - 2);
      }
    }
    return "";
  }
  bool Closed() {
    char c;
    return Wait(5000) && ::recv(fd_, &c, 1, 0) == 0;
  }

 private:
  bool Wait(int timeout_ms) {
    pollfd poll_fd{fd_, POLLIN, 0};
    return ::poll(&poll_fd, 1, timeout_ms) == 1;
  }
  int fd_;
  bool connected_ = false;
};

// A service on a temporary configuration with a free port and an event-log
// file.
class VelquarnServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velquarn-svc-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    port_ = testing::FreeTcpPort();
  }
  void TearDown() override {
    service_.reset();
    std::filesystem::remove_all(folder_);
  }

  TVelquarnSvc& Start(const std::string& settings) {
    std::ofstream(folder_ / "velquarn.ini") << "[Settings]\nPort=" << port_ << "\n"
                                            << settings << "\n";
    service_ = std::make_unique<TVelquarnSvc>((folder_ / "velquarn.ini").string(),
                                              (folder_ / "events.log").string());
    service_->Execute();
    return *service_;
  }
  std::string Events() const {
    std::ifstream in(folder_ / "events.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path folder_;
  uint16_t port_ = 0;
  std::unique_ptr<TVelquarnSvc> service_;
};

TEST_F(VelquarnServiceTest, MaxDateDiffIsStoredPlusOne) {
  EXPECT_EQ(Start("").MaxDateDiff(), 4);
  EXPECT_EQ(Start("MaxDateDiff=0").MaxDateDiff(), 1);
  EXPECT_EQ(Start("MaxDateDiff=0x0A").MaxDateDiff(), 11);
  EXPECT_EQ(Start("MaxDateDiff=$0A").MaxDateDiff(), 11);
  EXPECT_EQ(Start("MaxDateDiff=soon").MaxDateDiff(), 4);
}

TEST_F(VelquarnServiceTest, Ipv6BindingOnlyForANonZeroNumber) {
  EXPECT_EQ(Start("").Server().Bindings().size(), 1u);
  EXPECT_EQ(Start("IPV6=true").Server().Bindings().size(), 1u);
  EXPECT_EQ(Start("IPV6=0").Server().Bindings().size(), 1u);
  try {
    EXPECT_EQ(Start("IPV6=1").Server().Bindings().size(), 2u);
  } catch (const ESocketError& error) {
    GTEST_SKIP() << "no IPv6 here: " << error.what();
  }
}

TEST_F(VelquarnServiceTest, ListenAddressReplacesTheDefaultBindings) {
  const auto& bindings = Start("ListenAddress=127.0.0.1\nIPV6=1").Server().Bindings();
  ASSERT_EQ(bindings.size(), 1u);
  EXPECT_EQ(bindings[0].ToString(), "127.0.0.1");
  EXPECT_EQ(Start("ListenAddress=*").Server().Bindings().size(), 1u);
  EXPECT_EQ(Start("ListenAddress=").Server().Bindings()[0].ToString(), "0.0.0.0");
}

TEST_F(VelquarnServiceTest, AccessSettingsThatDoNotParseStopTheStart) {
  for (const char* settings : {"ListenAddress=127.0.0.1;127.0.0.2", "AllowFrom=10.0.0.0/99",
                               "AllowFrom=,", "AdminFrom=anyone", "ConfigCommands=maybe"}) {
    EXPECT_THROW(Start(settings), Exception) << settings;
    EXPECT_FALSE(service_->Server().Active()) << settings;
  }
  EXPECT_NO_THROW(Start("AllowFrom=127.0.0.1\nAdminFrom=::1\nConfigCommands=off"));
}

TEST_F(VelquarnServiceTest, PortAndLineLimitComeFromSettings) {
  TVelquarnSvc& service = Start("MaxLineLength=4096");
  EXPECT_EQ(service.Server().DefaultPort(), port_);
  EXPECT_EQ(service.Server().MaxLineLength(), 4096u);
  EXPECT_EQ(Start("MaxLineLength=0").Server().MaxLineLength(),
            TCommandServer::kDefaultMaxLineLength);
  TProbe probe(port_);
  ASSERT_TRUE(probe.Connected());
  EXPECT_EQ(probe.ReadLine(), "200 Velquarn 2.1");
  probe.Send("test\r\n");
  EXPECT_EQ(probe.ReadLine(), "200 Ok");
}

TEST_F(VelquarnServiceTest, ConnectionExceptionsLoggedOnlyWhenReal) {
  TVelquarnSvc& service = Start("");
  TDBContext context;
  auto& on_exception = service.Server().OnException;
  on_exception(&context, EConnectionClosed());
  on_exception(&context, ESocketError(104, "recv"));
  on_exception(&context, Exception("  disconnected. "));
  on_exception(nullptr, Exception("no context"));
  EXPECT_EQ(Events(), "");
  on_exception(&context, Exception("boom\nagain"));
  on_exception(nullptr, ELineTooLong(10, "127.0.0.1:5"));
  EXPECT_EQ(Events(),
            "err Velquarn TCPServerException: boom\\nagain\n"
            "warning Velquarn TCPServerException: Line longer than MaxLineLength (10 bytes) from "
            "127.0.0.1:5; connection closed\n");
}

TEST_F(VelquarnServiceTest, ListenExceptionsSkipSocketErrorsAndAborts) {
  TVelquarnSvc& service = Start("");
  service.Server().OnListenException(ESocketError(24, "accept"));
  service.Server().OnListenException(EAbort());
  EXPECT_EQ(Events(), "");
  service.Server().OnListenException(Exception("listener broke"));
  EXPECT_EQ(Events(), "err Velquarn TCPListenException occured: listener broke\n");
}

TEST_F(VelquarnServiceTest, ApplicationErrorsNameTheClass) {
  EXPECT_EQ(TVelquarnSvc::ApplicationErrorText(EDatabaseError("no table")),
            "Application error: EDatabaseError:\r\nno table");
  EXPECT_EQ(TVelquarnSvc::ApplicationErrorText(std::runtime_error("plain")),
            "Application error: std::runtime_error:\r\nplain");
  TVelquarnSvc& service = Start("");
  service.Server().OnApplicationError(Exception("escaped"));
  EXPECT_EQ(Events(), "err VelquarnSvc Application error: Exception:\\r\\nescaped\n");
}

TEST_F(VelquarnServiceTest, ReloadAppliesLiveSettingsOrKeepsThemOnABadFile) {
  TVelquarnSvc& service = Start("MaxConnections=5");
  const std::string path = (folder_ / "velquarn.ini").string();
  std::ofstream(path) << "[Settings]\nPort=" << port_ << "\nMaxConnections=7\nSlowQueryMs=20\n";
  EXPECT_TRUE(service.Reload());
  EXPECT_EQ(service.Settings().MaxConnections, 7);
  EXPECT_EQ(service.Settings().SlowQueryMs, 20);
  EXPECT_NE(Events().find("info VelquarnSvc Reload of " + path +
                          ": MaxConnections: 5 -> 7, SlowQueryMs: 0 -> 20\n"),
            std::string::npos)
      << Events();

  std::ofstream(path) << "[Settings]\nPort=" << port_ << "\nMaxConnections=9\nAllowFrom=nowhere\n";
  EXPECT_FALSE(service.Reload());
  EXPECT_EQ(service.Settings().MaxConnections, 7);
  EXPECT_NE(
      Events().find("err VelquarnSvc Reload of " + path + " failed, the settings in force stay: "),
      std::string::npos)
      << Events();
  EXPECT_TRUE(service.Server().Active());
}

TEST_F(VelquarnServiceTest, RunStopsWhenTheStopDescriptorFires) {
  std::ofstream(folder_ / "velquarn.ini") << "[Settings]\nPort=" << port_ << "\n";
  TVelquarnSvc service((folder_ / "velquarn.ini").string(), (folder_ / "events.log").string());
  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  int status = -1;
  std::thread runner([&] { status = service.Run(stop[0]); });
  std::unique_ptr<TProbe> probe;
  for (int i = 0; i < 500 && !(probe && probe->Connected()); ++i) {
    if (probe) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    probe = std::make_unique<TProbe>(port_);
  }
  EXPECT_EQ(probe->ReadLine(), "200 Velquarn 2.1");
  ASSERT_EQ(::write(stop[1], "x", 1), 1);
  runner.join();
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(service.Server().Active());
  EXPECT_TRUE(probe->Closed());
  ::close(stop[0]);
  ::close(stop[1]);
}

TEST_F(VelquarnServiceTest, RunReportsAFailedExecute) {
  TVelquarnSvc& first = Start("");
  ASSERT_TRUE(first.Server().Active());
  TVelquarnSvc second((folder_ / "velquarn.ini").string(), (folder_ / "events.log").string());
  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  EXPECT_EQ(second.Run(stop[0]), 1);
  EXPECT_EQ(Events().rfind("err VelquarnSvc Service failed on execute: Could not bind socket", 0),
            0u)
      << Events();
  ::close(stop[0]);
  ::close(stop[1]);
}

}  // namespace
}  // namespace velquarn
