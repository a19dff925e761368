#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/velquarn_client.h"
#include "e2e/e2e_options.h"

namespace velquarn::testing {
namespace {

class CommandServerE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new TVelquarnProcess(VelquarnOptions()); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  TVelquarnClient Connect() {
    TVelquarnClient client;
    client.SetReadTimeoutMs(10000);
    client.Connect("127.0.0.1", server_->Port());
    return client;
  }
  TVelquarnClient Greeted() { return ConnectGreeted(*server_, 10000); }

  static TVelquarnProcess* server_;
};

TVelquarnProcess* CommandServerE2E::server_ = nullptr;

TEST_F(CommandServerE2E, GreetingIsExactBytesBeforeAnythingIsSent) {
  TVelquarnClient client = Connect();
  EXPECT_EQ(client.ReadBytes(18), "200 Velquarn 2.1\r\n");
}

TEST_F(CommandServerE2E, TestAnswersOkInAnyLetterCase) {
  TVelquarnClient client = Greeted();
  for (const char* line : {"test", "TEST", "Test"}) {
    client.SendLine(line);
    EXPECT_EQ(client.ReadBytes(8), "200 Ok\r\n") << line;
  }
}

TEST_F(CommandServerE2E, EmptyLinesAndLoneCrAreIgnored) {
  TVelquarnClient client = Greeted();
  client.SendRaw("\r\n\n\r\n\r\ntest\r\n");
  // Had any of the empty lines been answered, its reply would come first.
  EXPECT_EQ(client.ReadLine(), "200 Ok");
}

TEST_F(CommandServerE2E, LfOnlyLinesAreAccepted) {
  TVelquarnClient client = Greeted();
  client.SendRaw("test\nxyz\n");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadLine(), "400-unknown command");
  EXPECT_EQ(client.ReadLine(), "400 xyz");
}

TEST_F(CommandServerE2E, UnknownCommandEchoesTheLine) {
  TVelquarnClient client = Greeted();
  client.SendLine("xyz 1 2");
  EXPECT_EQ(client.ReadBytes(34), "400-unknown command\r\n400 xyz 1 2\r\n");
}

TEST_F(CommandServerE2E, LeadingSpaceMatchesNoCommand) {
  TVelquarnClient client = Greeted();
  TClientReply reply = client.Command(" sql select 1");
  EXPECT_EQ(reply.Code, 400);
  EXPECT_EQ(reply.Lines, (std::vector<std::string>{"unknown command", " sql select 1"}));
  // A command word only matches whole: "testx" is not "test".
  EXPECT_EQ(client.Command("testx").Code, 400);
}

TEST_F(CommandServerE2E, HelpListsEveryCommandSorted) {
  TVelquarnClient client = Greeted();
  client.SendLine("help");
  EXPECT_EQ(client.ReadLine(), "100 Help follows");
  std::vector<std::string> expected;
  for (const char* command :
       {"addrec", "call",    "clear",    "close", "crtf",     "exec", "execsql2", "execsql3",
        "get",    "getJSON", "Help",     "info",  "infoJSON", "open", "prep",     "quit",
        "sndf",   "sql",     "sqlbatch", "sys",   "test",     "tran"}) {
    expected.push_back(command);
    if (std::string(command) == "Help") {
      expected.push_back("  Displays commands that the servers supports.");
    }
    expected.push_back("");
  }
  expected.push_back(".");
  std::vector<std::string> received;
  for (size_t i = 0; i < expected.size(); ++i) received.push_back(client.ReadLine());
  EXPECT_EQ(received, expected);
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_F(CommandServerE2E, CommandsNeedingADatabaseFailAndKeepTheConnection) {
  TVelquarnClient client = Greeted();
  for (const char* line : {"sql select 1", "get 50", "info", "SQL select 1", "exec a,b",
                           "getJSON 5", "infoJSON", "execsql2 select 1"}) {
    TClientReply reply = client.Command(line);
    EXPECT_GE(reply.Code, 500) << line;
    EXPECT_FALSE(reply.Text().empty()) << line;
  }
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_F(CommandServerE2E, QuitClosesWithoutReply) {
  TVelquarnClient client = Greeted();
  client.SendLine("quit");
  EXPECT_TRUE(client.WaitForClose(5000));
}

TEST_F(CommandServerE2E, SeveralMegabyteLineIsReadWhole) {
  TVelquarnClient client = Greeted();
  std::string line = "x" + std::string(6 * 1024 * 1024, 'a') + "z";
  client.SendLine(line);
  TClientReply reply = client.ReadReply();
  EXPECT_EQ(reply.Code, 400);
  ASSERT_EQ(reply.Lines.size(), 2u);
  EXPECT_EQ(reply.Lines[1].size(), line.size());
  EXPECT_TRUE(reply.Lines[1] == line);
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_F(CommandServerE2E, CommandLinesArriveInPieces) {
  TVelquarnClient client = Greeted();
  client.SendRaw("te");
  client.SendRaw("st\r");
  client.SendRaw("\nTE");
  client.SendRaw("ST\r\n");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
}

TEST(CommandServerLimits, OverlongLineClosesOnlyThatConnection) {
  TVelquarnProcessOptions options = VelquarnOptions();
  options.settings = "MaxLineLength=100000";
  TVelquarnProcess server(options);
  TVelquarnClient bystander;
  bystander.SetReadTimeoutMs(10000);
  ASSERT_EQ(bystander.Open("127.0.0.1", server.Port()).Code, 200);
  TVelquarnClient offender;
  offender.SetReadTimeoutMs(10000);
  ASSERT_EQ(offender.Open("127.0.0.1", server.Port()).Code, 200);

  // Exactly the limit is still a line.
  TClientReply at_limit = offender.Command(std::string(100000, 'q'));
  EXPECT_EQ(at_limit.Code, 400);
  // One byte more closes the connection, even before a line end arrives.
  offender.SendRaw(std::string(100001, 'q'));
  EXPECT_TRUE(offender.WaitForClose(5000));
  EXPECT_TRUE(server.WaitForEventLog("Velquarn TCPServerException: Line longer than", 5000))
      << server.EventLogText();
  EXPECT_EQ(bystander.Command("test").Code, 200);
}

}  // namespace
}  // namespace velquarn::testing
