#include "protocol/command_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "client/velquarn_client.h"
#include "common/exceptions.h"
#include "protocol/command_invocation.h"
#include "protocol/connection_errors.h"

namespace velquarn {
namespace {

using Lines = std::vector<std::string>;

// A server on an ephemeral loopback port with a table of test commands.
class CommandServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.SetDefaultPort(0);
    TCommandTable table;
    table.push_back(MakeCommand("sql", ' ', [](TCommandInvocation& invocation) {
      invocation.SetReply(201, "params " + std::to_string(invocation.Params().size()));
      invocation.AddResponse("[" + invocation.UnparsedParams() + "]");
      for (const auto& param : invocation.Params()) invocation.AddResponse(param);
    }));
    table.push_back(MakeCommand("sqlbatch", ' ', [](TCommandInvocation& invocation) {
      invocation.SetReply(202, "batch");
    }));
    table.push_back(MakeCommand("exec", ',', [](TCommandInvocation& invocation) {
      invocation.SetReply(203, std::to_string(invocation.Params().size()));
      for (const auto& param : invocation.Params()) invocation.AddResponse("<" + param + ">");
    }));
    table.push_back(MakeCommand("fail", ' ', [](TCommandInvocation& invocation) {
      invocation.AddResponse("added before");
      invocation.AddResponse(".dot");
      throw Exception("line one\r\nline two");
    }));
    table.push_back(MakeCommand("silent", ' ', [](TCommandInvocation&) { throw Exception(""); }));
    table.push_back(MakeCommand("badcode", ' ', [](TCommandInvocation& invocation) {
      invocation.SetReply(1000, "never");
    }));
    table.push_back(MakeCommand(
        "std", ' ', [](TCommandInvocation&) { throw std::out_of_range("vector index"); }));
    table.push_back(MakeCommand("stream", ' ', [](TCommandInvocation& invocation) {
      invocation.SendReply();
      invocation.WriteStream(std::string("ab\0c", 4), true);
      invocation.WriteStream("raw", false);
      invocation.WriteLine(".");
    }));
    table.push_back(MakeCommand("upload", ' ', [](TCommandInvocation& invocation) {
      Lines lines = invocation.ReadCountedLines();
      std::string next = invocation.ReadLine();
      invocation.SetReply(210, std::to_string(lines.size()) + " then " + next);
      for (auto& line : lines) invocation.AddResponse(line);
    }));
    // Leaves work for after its reply that runs until it is told to give way
    // (or, failing that, for 10 s).
    TCommandHandler later = MakeCommand("later", ' ', [this](TCommandInvocation& invocation) {
      invocation.Context().SetIdleWork([this](const std::function<bool()>& give_way) {
        idle_work_running_ = true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!give_way()) {
          if (std::chrono::steady_clock::now() > deadline) {
            idle_work_outcome_ = "ran out";
            return;
          }
        }
        idle_work_outcome_ = "gave way";
      });
    });
    later.HelpVisible = false;
    table.push_back(later);
    table.push_back(MakeCommand("empty", ' ', [](TCommandInvocation& invocation) {
      invocation.SetSendEmptyResponse(true);
    }));
    table.push_back(MakeCommand(
        "blank", ' ', [](TCommandInvocation& invocation) { invocation.Reply().Clear(); }));
    TCommandHandler fixed = MakeCommand("fixed", ' ', nullptr);
    fixed.Response = {"from table"};
    table.push_back(fixed);
    TCommandHandler bye = MakeCommand("bye", ' ', nullptr);
    bye.Disconnect = true;
    table.push_back(bye);
    table.push_back(
        MakeCommand("close", ' ', [](TCommandInvocation& invocation) { invocation.Close(); }));
    TCommandHandler hidden = MakeCommand("hidden", ' ', nullptr);
    hidden.HelpVisible = false;
    table.push_back(hidden);
    TCommandHandler disabled = MakeCommand("off", ' ', nullptr);
    disabled.Enabled = false;
    table.push_back(disabled);
    server_.SetCommandTable(std::move(table));
    server_.OnException = [this](TContext*, const std::exception& error) {
      std::scoped_lock lock(mutex_);
      exceptions_.push_back(error.what());
    };
    server_.OnDisconnect = [this](TContext&) { ++disconnects_; };
  }

  void TearDown() override { server_.Deactivate(); }

  TVelquarnClient Client() {
    if (!server_.Active()) server_.Activate();
    TVelquarnClient client;
    client.SetReadTimeoutMs(10000);
    EXPECT_EQ(client.Open("127.0.0.1", server_.BoundPort(0)).Code, 200);
    return client;
  }

  bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  TCommandServer server_;
  std::mutex mutex_;
  Lines exceptions_;  // Guarded by mutex_
  std::atomic<int> disconnects_{0};
  std::atomic<bool> idle_work_running_{false};
  std::atomic<const char*> idle_work_outcome_{""};
};

TEST_F(CommandServerTest, FirstMatchInTableOrderWithRawAndSplitParams) {
  TVelquarnClient client = Client();
  TClientReply reply = client.Command("SQL  select  1");
  EXPECT_EQ(reply.Code, 201);
  EXPECT_EQ(reply.Text(), "params 2");
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"[ select  1]", "select", "1"}));
  EXPECT_EQ(client.Command("sqlbatch x").Code, 202);
  EXPECT_EQ(client.Command("sql").Text(), "params 0");
  EXPECT_EQ(client.ReadDataBlock(), Lines{"[]"});
  EXPECT_EQ(client.Command("sqlx").Code, 400);
  EXPECT_EQ(client.Command("off").Code, 400);
}

TEST_F(CommandServerTest, CommaCommandTrimsItsParameters) {
  TVelquarnClient client = Client();
  EXPECT_EQ(client.Command("exec  a , ,b,, c ").Text(), "4");
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"<a>", "<>", "<b>", "<c>"}));
}

TEST_F(CommandServerTest, HandlerErrorBecomesMultiLine500ThenItsResponseLines) {
  TVelquarnClient client = Client();
  client.SendLine("fail");
  EXPECT_EQ(client.ReadLine(), "500-line one");
  EXPECT_EQ(client.ReadLine(), "500 line two");
  EXPECT_EQ(client.ReadLine(), "added before");
  EXPECT_EQ(client.ReadLine(), "..dot");
  EXPECT_EQ(client.ReadLine(), ".");
  EXPECT_EQ(client.Command("sqlbatch").Code, 202);
}

TEST_F(CommandServerTest, ErrorWithoutMessageUsesTheDefaultText) {
  TVelquarnClient client = Client();
  client.SendLine("silent");
  EXPECT_EQ(client.ReadLine(), "500 Unknown Internal Error");
}

TEST_F(CommandServerTest, InvalidReplyCodeFromHandlerIsAnError) {
  TVelquarnClient client = Client();
  client.SendLine("badcode");
  EXPECT_EQ(client.ReadLine(), "500 Reply Code is not valid: 1000");
}

TEST_F(CommandServerTest, StandardLibraryErrorsAreAnsweredToo) {
  TVelquarnClient client = Client();
  client.SendLine("std");
  EXPECT_EQ(client.ReadLine(), "500 vector index");
}

TEST_F(CommandServerTest, EarlyReplyIsNotSentTwiceAndPrecedesStreams) {
  TVelquarnClient client = Client();
  client.SendLine("stream");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadCountedBlock(), std::string("ab\0c", 4));
  EXPECT_EQ(client.ReadBytes(3), "raw");
  EXPECT_EQ(client.ReadLine(), ".");
  EXPECT_EQ(client.Command("sqlbatch").Code, 202);
}

TEST_F(CommandServerTest, HandlerReadsCountedLinesAndAFurtherLine) {
  TVelquarnClient client = Client();
  client.SendLine("upload");
  client.SendRaw(std::string("\x00\x00\x00\x03", 4));
  client.SendRaw("first\r\n.second\n\r\nnext line\r\n");
  TClientReply reply = client.ReadReply();
  EXPECT_EQ(reply.Code, 210);
  EXPECT_EQ(reply.Text(), "3 then next line");
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"first", ".second", ""}));
}

TEST_F(CommandServerTest, NegativeLineCountReadsNoLines) {
  TVelquarnClient client = Client();
  client.SendLine("upload");
  client.SendRaw(std::string("\xFF\xFF\xFF\xFF", 4));
  client.SendLine("after");
  EXPECT_EQ(client.ReadReply().Text(), "0 then after");
}

TEST_F(CommandServerTest, CountedLinesAreBoundedByTheirMemoryNotOnlyTheirText) {
  server_.SetMaxLineLength(64 * 1024);
  TVelquarnClient client = Client();
  client.SendLine("upload");
  client.SendRaw(std::string("\x7F\xFF\xFF\xFF", 4));
  // Empty lines only: their text alone would never reach the bound.
  client.SendRaw(std::string(8 * 1024, '\n'));
  EXPECT_TRUE(WaitFor([this] { return disconnects_ == 1; }));
  std::scoped_lock lock(mutex_);
  ASSERT_EQ(exceptions_.size(), 1u);
  EXPECT_NE(exceptions_[0].find("MaxLineLength"), std::string::npos);
}

TEST_F(CommandServerTest, DataBlockRules) {
  TVelquarnClient client = Client();
  client.SendLine("empty");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadLine(), ".");
  client.SendLine("fixed");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadDataBlock(), Lines{"from table"});
  // A handler that clears the reply gets the normal reply back.
  EXPECT_EQ(client.Command("blank").Text(), "Ok");
}

TEST_F(CommandServerTest, DisconnectFlagAndCloseEndTheConnection) {
  TVelquarnClient bye = Client();
  bye.SendLine("bye");
  EXPECT_EQ(bye.ReadLine(), "200 Ok");
  EXPECT_TRUE(bye.WaitForClose(5000));
  TVelquarnClient closer = Client();
  closer.SendLine("close");
  EXPECT_TRUE(closer.WaitForClose(5000));
  EXPECT_TRUE(WaitFor([&] { return disconnects_ == 2 && server_.ConnectionCount() == 0; }));
  std::scoped_lock lock(mutex_);
  for (const auto& text : exceptions_) EXPECT_EQ(text, EConnectionClosed().Message());
}

TEST_F(CommandServerTest, HelpListsOnlyVisibleCommandsSorted) {
  TVelquarnClient client = Client();
  client.SendLine("HELP");
  EXPECT_EQ(client.ReadLine(), "100 Help follows");
  Lines lines = client.ReadDataBlock();
  Lines words;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].empty() && lines[i][0] != ' ') words.push_back(lines[i]);
  }
  EXPECT_EQ(words, (Lines{"badcode", "blank", "bye", "close", "empty", "exec", "fail", "fixed",
                          "Help", "off", "silent", "sql", "sqlbatch", "std", "stream", "upload"}));
  // Deactivating and activating again does not add a second Help.
  server_.Deactivate();
  server_.Activate();
  TVelquarnClient again = Client();
  again.SendLine("help");
  EXPECT_EQ(again.ReadLine(), "100 Help follows");
  EXPECT_EQ(again.ReadDataBlock(), lines);
}

TEST_F(CommandServerTest, ReadTimeoutKeepsThePartialLine) {
  server_.SetReadTimeoutMs(100);
  TVelquarnClient client = Client();
  client.SendRaw("sqlba");
  // Several timeouts pass while the line is incomplete.
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  client.SendRaw("tch\r\n");
  EXPECT_EQ(client.ReadReply().Code, 202);
}

TEST_F(CommandServerTest, ConnectionsBeyondTheMaximumAreRefused) {
  server_.SetMaxConnections(2);
  TVelquarnClient first = Client();
  TVelquarnClient second = Client();
  TVelquarnClient third;
  third.SetReadTimeoutMs(10000);
  third.Connect("127.0.0.1", server_.BoundPort(0));
  EXPECT_EQ(third.ReadLine(), "300 Max connections reached");
  EXPECT_TRUE(third.WaitForClose(5000));
  EXPECT_EQ(server_.ConnectionCount(), 2);
  first.Close();
  EXPECT_TRUE(WaitFor([&] { return server_.ConnectionCount() == 1; }));
  TVelquarnClient fourth = Client();
  EXPECT_EQ(fourth.Command("sqlbatch").Code, 202);
  EXPECT_EQ(second.Command("sqlbatch").Code, 202);
}

// Work a command leaves for after its reply gives way to whatever ends the
// quiet moment: the next command, the client leaving, the server stopping.
TEST_F(CommandServerTest, IdleWorkGivesWayToTheNextCommandTheClientsEndAndTheStop) {
  const auto start_idle_work = [this](TVelquarnClient& client) {
    idle_work_running_ = false;
    idle_work_outcome_ = "";
    EXPECT_EQ(client.Command("later").Code, 200);
    EXPECT_TRUE(WaitFor([this] { return idle_work_running_.load(); }));
  };
  TVelquarnClient client = Client();
  start_idle_work(client);
  EXPECT_EQ(client.Command("sqlbatch").Code, 202);
  EXPECT_STREQ(idle_work_outcome_.load(), "gave way");

  // Once only: the next command leaves none.
  idle_work_running_ = false;
  EXPECT_EQ(client.Command("sqlbatch").Code, 202);
  EXPECT_FALSE(idle_work_running_);

  start_idle_work(client);
  client.Close();
  EXPECT_TRUE(WaitFor([this] { return *idle_work_outcome_.load() != '\0'; }));
  EXPECT_STREQ(idle_work_outcome_.load(), "gave way");

  TVelquarnClient staying = Client();
  start_idle_work(staying);
  server_.Deactivate();
  EXPECT_STREQ(idle_work_outcome_.load(), "gave way");
  EXPECT_TRUE(staying.WaitForClose(5000));
}

TEST_F(CommandServerTest, DeactivateClosesIdleConnectionsAndWaitsForThem) {
  std::vector<TVelquarnClient> clients;
  for (int i = 0; i < 10; ++i) clients.push_back(Client());
  EXPECT_TRUE(WaitFor([&] { return server_.ConnectionCount() == 10; }));
  server_.Deactivate();
  EXPECT_EQ(server_.ConnectionCount(), 0);
  EXPECT_EQ(disconnects_, 10);
  for (auto& client : clients) EXPECT_TRUE(client.WaitForClose(5000));
}

// A server whose "nap" command takes 800 ms.
class DrainingServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.SetDefaultPort(0);
    TCommandTable table;
    table.push_back(MakeCommand("nap", ' ', [](TCommandInvocation& invocation) {
      std::this_thread::sleep_for(std::chrono::milliseconds(800));
      invocation.SetReply(200, "rested");
    }));
    server_.SetCommandTable(std::move(table));
    server_.Activate();
  }
  TVelquarnClient Client() {
    TVelquarnClient client;
    client.SetReadTimeoutMs(10000);
    EXPECT_EQ(client.Open("127.0.0.1", server_.BoundPort(0)).Code, 200);
    return client;
  }
  // Deactivates on another thread once the nap has begun.
  void DeactivateDuringNap(TVelquarnClient& busy) {
    busy.SendLine("nap");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stopper_ = std::thread([this] { server_.Deactivate(); });
  }
  void TearDown() override {
    if (stopper_.joinable()) stopper_.join();
    server_.Deactivate();
  }

  TCommandServer server_;
  std::thread stopper_;
};

TEST_F(DrainingServerTest, GraceLetsARunningCommandAnswerAndClosesIdleOnesAtOnce) {
  server_.SetShutdownGraceMs(5000);
  TVelquarnClient busy = Client();
  TVelquarnClient idle = Client();
  const auto start = std::chrono::steady_clock::now();
  DeactivateDuringNap(busy);
  EXPECT_TRUE(idle.WaitForClose(400));
  const TClientReply reply = busy.ReadReply();
  EXPECT_EQ(reply.Code, 200);
  EXPECT_EQ(reply.Text(), "rested");
  EXPECT_TRUE(busy.WaitForClose(2000));
  stopper_.join();
  // The stop ended with the last command, long before the grace was up.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(server_.ConnectionCount(), 0);
}

TEST_F(DrainingServerTest, CommandsSentDuringTheGraceAreNotRun) {
  server_.SetShutdownGraceMs(5000);
  TVelquarnClient busy = Client();
  DeactivateDuringNap(busy);
  // Queued behind the running command: it must not start.
  busy.SendLine("nap");
  EXPECT_EQ(busy.ReadReply().Code, 200);
  EXPECT_TRUE(busy.WaitForClose(500));
}

TEST_F(DrainingServerTest, WithoutGraceARunningCommandLosesItsConnectionAtOnce) {
  TVelquarnClient busy = Client();
  DeactivateDuringNap(busy);
  EXPECT_TRUE(busy.WaitForClose(400));
}

TEST_F(DrainingServerTest, AfterTheGraceRunningCommandsAreCutOff) {
  server_.SetShutdownGraceMs(100);
  TVelquarnClient busy = Client();
  DeactivateDuringNap(busy);
  EXPECT_TRUE(busy.WaitForClose(400));
}

TEST_F(CommandServerTest, ErrorsEscapingEventsAreApplicationErrors) {
  std::atomic<int> application_errors{0};
  server_.OnDisconnect = [](TContext&) { throw Exception("disconnect failed"); };
  server_.OnApplicationError = [&](const std::exception& error) {
    EXPECT_STREQ(error.what(), "disconnect failed");
    ++application_errors;
  };
  TVelquarnClient client = Client();
  client.SendLine("close");
  EXPECT_TRUE(WaitFor([&] { return application_errors == 1; }));
  EXPECT_TRUE(WaitFor([&] { return server_.ConnectionCount() == 0; }));
  EXPECT_EQ(Client().Command("sqlbatch").Code, 202);
  // The second client's disconnect fails too; the handlers use this test's
  // locals, so the test waits for it before they go out of scope.
  EXPECT_TRUE(WaitFor([&] { return application_errors == 2; }));
  EXPECT_TRUE(WaitFor([&] { return server_.ConnectionCount() == 0; }));
}

TEST(CommandServer, BindFailureLeavesNothingListening) {
  TCommandServer first;
  first.SetDefaultPort(0);
  first.Activate();
  TCommandServer second;
  second.SetDefaultPort(first.BoundPort(0));
  EXPECT_THROW(second.Activate(), ESocketError);
  EXPECT_FALSE(second.Active());
}

TEST(CommandServer, ContextFactoryMakesEveryContext) {
  struct TCountingContext : TContext {
    explicit TCountingContext(std::atomic<int>& live) : live_(live) { ++live_; }
    ~TCountingContext() override { --live_; }
    std::atomic<int>& live_;
  };
  std::atomic<int> live{0};
  TCommandServer server;
  server.SetDefaultPort(0);
  server.SetContextFactory([&] { return std::make_unique<TCountingContext>(live); });
  server.Activate();
  {
    TVelquarnClient a;
    TVelquarnClient b;
    a.Open("127.0.0.1", server.BoundPort(0));
    b.Open("127.0.0.1", server.BoundPort(0));
    EXPECT_EQ(live, 2);
  }
  server.Deactivate();
  EXPECT_EQ(live, 0);
}

}  // namespace
}  // namespace velquarn
