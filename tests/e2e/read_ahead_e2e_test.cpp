// Reading ahead after a `get` block: the replies are the bytes a server
// without it sends (Settings/ReadAhead=0), whatever the order of `get`,
// `getJSON` and fetch errors; and whatever the client does while the rows
// are being read ahead (close, clear, a new statement, quit, a dropped
// connection), it is answered and the driver is left with no statement open.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/velquarn_client.h"
#include "e2e/backend_e2e_fixture.h"
#include "e2e/e2e_options.h"

namespace velquarn::testing {
namespace {

class ReadAheadE2E : public BackendE2E {
 protected:
  // "stream": the driver's options that fetch a result row by row (SQLite's
  // StepAPI, PostgreSQL's cursor in batches of 100) instead of reading it
  // whole at execute; Debian 12's MariaDB driver reads it whole either way.
  std::string ExtraSections() const override {
    if (IsPostgres()) {
      return "[stream]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kPostgresDriver) +
             "\nDriverParams=Servername=" + PostgresSetting("HOST") +
             ",Port=" + PostgresSetting("PORT") + ",Database=" + PostgresSetting("DATABASE") +
             ",UseDeclareFetch=1,Fetch=100\n";
    }
    if (IsMariaDb()) {
      return "[stream]\nDSN=" + std::string(OdbcTestEnv::kMariaDbDsn) + "\n";
    }
    return "[stream]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
           "\nDriverParams=Database=" + sqlite_file_ + ",StepAPI=1\n";
  }

  std::string OpenStream() const {
    return IsServer() ? "open stream " + ServerCredentials() : "open stream";
  }

  // A result of `rows` rows of a number, a text and a decimal.
  std::string Numbers(int rows) const {
    const std::string text = IsMariaDb() ? "concat('name ', i)" : "'name ' || i";
    return "sql with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
           std::to_string(rows) + ") select i, " + text + " as name, i * 1.25 as amount from n";
  }

  // A result whose row 500 of 1000 fails when it is fetched (not at
  // execute, on the streaming options): SQLite's abs() of the smallest
  // integer overflows, PostgreSQL divides by zero.
  std::string FailingAtRow500() const {
    const std::string failing = IsPostgres() ? "1 / (i - 500)" : "abs(-9223372036854775807 - 1)";
    return "sql with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000) "
           "select case when i = 500 then " +
           failing + " else i end as v from n";
  }

  // Every command's reply and, for a block, the block: what a client reads.
  static std::string Transcript(TVelquarnClient& client, const std::vector<std::string>& commands) {
    std::string text;
    for (const std::string& command : commands) {
      const TClientReply reply = client.Command(command);
      text += command + " -> " + std::to_string(reply.Code) + " " + reply.Text() + "\n";
      if (reply.Code == 200 && command.starts_with("get")) text += client.ReadCountedBlock() + "\n";
    }
    return text;
  }

  // The transcript of the same commands on this server and on one that does
  // not read ahead, after `open` of the section ("" for the default one).
  void ExpectSameBytes(const std::string& section, const std::vector<std::string>& commands) {
    if (without_ == nullptr) {
      TVelquarnProcessOptions options = server_options_;
      options.settings += "\nReadAhead=0";
      without_ = std::make_unique<TVelquarnProcess>(options);
    }
    const std::string open = section.empty() ? OpenLine() : OpenStream();
    std::string transcripts[2];
    for (int i = 0; i < 2; ++i) {
      TVelquarnClient client = ConnectGreeted(i == 0 ? *server_ : *without_, 5000);
      const TClientReply opened = client.Command(open);
      ASSERT_EQ(opened.Code, 200) << opened.Text();
      transcripts[i] = Transcript(client, commands);
    }
    EXPECT_EQ(transcripts[0], transcripts[1]) << open;
    EXPECT_NE(transcripts[0].find(" -> 200 OK\n"), std::string::npos) << transcripts[0];
  }

  // The statements the database runs for this gateway's user other than the
  // asking one's own: an open cursor keeps its session in a transaction.
  int BusyServerSessions(TVelquarnClient& observer) {
    const std::string busy =
        IsPostgres() ? "select count(*) from pg_stat_activity where usename = current_user and "
                       "pid <> pg_backend_pid() and state <> 'idle'"
                     : "select count(*) from information_schema.processlist where user = "
                       "substring_index(current_user(), '@', 1) and id <> connection_id() and "
                       "command <> 'Sleep'";
    const std::string rows = Rows(observer, busy);
    EXPECT_FALSE(rows.empty()) << busy;
    return rows.empty() ? 1000 : std::stoi(rows);
  }

  std::unique_ptr<TVelquarnProcess> without_;
};

TEST_P(ReadAheadE2E, RepliesAreTheBytesOfAServerThatDoesNotReadAhead) {
  for (const std::string section : {"", "stream"}) {
    ExpectSameBytes(section, {Numbers(1000), "get 1", "get 7", "get", "get 100", "get 300",
                              "get 1000", "get", "get 5"});
    // getJSON after a partial get, get after getJSON.
    ExpectSameBytes(section, {Numbers(300), "get 10", "getJSON", "get 5", "get"});
    ExpectSameBytes(section, {Numbers(300), "getJSON", "get 3", "getJSON"});
    // A new statement while rows are held ahead.
    ExpectSameBytes(section, {Numbers(300), "get 20", Numbers(5), "get 10", "get"});
  }
}

TEST_P(ReadAheadE2E, AFetchErrorIsAnsweredByTheGetThatReachesItsRow) {
  if (IsMariaDb()) GTEST_SKIP() << "the MariaDB driver reads a result whole at execute";
  ExpectSameBytes("stream", {FailingAtRow500(), "get 100", "get 100", "get 100", "get 100",
                             "get 100", "get 100", "get 100", "sql select 1 as one", "get"});
  ExpectSameBytes("stream", {FailingAtRow500(), "get 450", "getJSON", "get"});
  ExpectSameBytes("stream", {FailingAtRow500(), "get 498", "get 1", "get 1", "get 1", "get"});
}

// Commands sent together: each reply is the one it would be alone.
TEST_P(ReadAheadE2E, PipelinedGetsAreAnsweredInOrder) {
  TVelquarnClient client = Open();
  ASSERT_EQ(client.Command(Numbers(100)).Code, 200);
  client.SendRaw("get 30\r\nget 30\r\nget 30\r\nget 30\r\nget 30\r\n");
  long rows = 0;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(client.ReadReply().Code, 200);
    for (char c : client.ReadCountedBlock()) rows += c == '\0';
  }
  EXPECT_EQ(client.ReadReply().Code, 522);
  EXPECT_EQ(rows, 100);
}

// A large streaming result, a first block read, and at once a command that
// ends the read-ahead: each is answered, and the database is left with no
// statement of this gateway open but the session's current one: while the
// session goes on after `clear`, `close` (which keeps the result) or a new
// statement, and none once it has ended after `quit` or a dropped
// connection.
TEST_P(ReadAheadE2E, EveryWayOfLeavingAResultEndsTheReadAhead) {
  const std::string large = Numbers(200000);
  // Sanitizer builds read 20 000 rows slowly.
  constexpr int kSlowReadMs = 60000;
  TVelquarnClient observer = Open();
  observer.SetReadTimeoutMs(kSlowReadMs);
  // The session may still be ending (a dropped client's `get` runs to its
  // end first, slowly in a sanitizer build): up to 30 s for the count to fall.
  const auto busy_after = [&](int expected) {
    int busy = BusyServerSessions(observer);
    for (int attempt = 0; attempt < 300 && busy > expected; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      busy = BusyServerSessions(observer);
    }
    return busy;
  };
  for (const std::string leaving : {"close", "clear", "sql select 2 as two", "quit", "drop"}) {
    TVelquarnClient client = Connect();
    client.SetReadTimeoutMs(kSlowReadMs);
    ASSERT_EQ(client.Command(OpenStream()).Code, 200);
    ASSERT_EQ(client.Command(large).Code, 200) << leaving;
    ASSERT_EQ(client.Command("get 20000").Code, 200) << leaving;
    client.ReadCountedBlock();
    if (leaving == "drop") {
      client.SendLine("get 20000");  // and gone before the answer
      client.Close();
    } else if (leaving == "quit") {
      client.SendLine("quit");  // closes without a reply
      EXPECT_TRUE(client.WaitForClose(10000));
    } else {
      const TClientReply reply = client.Command(leaving);
      EXPECT_LT(reply.Code, 300) << leaving << ": " << reply.Text();
    }
    if (leaving == "close") {
      // `close` leaves the result as it is: the rows go on where they were.
      EXPECT_EQ(client.Command("get").Code, 200);
      EXPECT_LE(client.ReadCountedBlock().find("20001"), 1u);  // SQLite's is text
    } else if (leaving == "clear") {
      EXPECT_EQ(client.Command("get").Code, 522);
    } else if (leaving == "sql select 2 as two") {
      EXPECT_EQ(client.Command("get 5").Code, 200);
      EXPECT_NE(client.ReadCountedBlock().find('2'), std::string::npos);
    }
    EXPECT_EQ(observer.Command("test").Code, 200) << leaving;
    if (!IsServer()) continue;
    // The new statement's cursor, and the result `close` leaves, stay open.
    const int left_open = leaving == "sql select 2 as two" || leaving == "close" ? 1 : 0;
    EXPECT_LE(busy_after(left_open), left_open) << leaving;
    client.Close();
    EXPECT_EQ(busy_after(0), 0) << leaving << " and the session's end";
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, ReadAheadE2E, AllBackends(), BackendName);

}  // namespace
}  // namespace velquarn::testing
