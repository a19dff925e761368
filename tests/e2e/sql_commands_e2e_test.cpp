#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "client/velquarn_client.h"
#include "e2e/backend_e2e_fixture.h"
#include "e2e/e2e_options.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {
namespace {

using Lines = std::vector<std::string>;

class SqlCommandsE2E : public BackendE2E {
 protected:
  // A second section on the same database whose time zone is 2 hours.
  std::string ExtraSections() const override {
    return "[litetz]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
           "\nDriverParams=Database=" + sqlite_file_ + "\nServerTimeZone=2\n" +
           "[servertz]\nDSN=" + ServerDsn() + "\nServerTimeZone=2\n";
  }

  std::string OpenLineWithZone() const {
    if (!IsServer()) return "open litetz";
    return "open servertz " + ServerCredentials();
  }

  std::string DoubleType() const { return IsPostgres() ? "double precision" : "double"; }
  // The SQLite driver reports "blob" columns as fixed binary; long binary
  // columns are what it describes as blobs.
  std::string BlobType() const {
    return IsPostgres() ? "bytea" : IsMariaDb() ? "blob" : "longvarbinary";
  }
  std::string BlobLiteral(const std::string& hex) const {
    // No "::" cast: a colon in a statement is read as a parameter marker.
    return IsPostgres() ? "decode('" + hex + "', 'hex')" : "X'" + hex + "'";
  }
};

TEST_P(SqlCommandsE2E, CommandsBeforeOpenAnswerErrorsAndLeaveTheConnectionUsable) {
  TVelquarnClient client = Connect();
  EXPECT_EQ(ReplyLine(client, "get"), "521 No query active");
  EXPECT_EQ(ReplyLine(client, "getJSON"), "521 No query active");
  EXPECT_EQ(ReplyLine(client, "info"), "500 No database open");
  EXPECT_EQ(ReplyLine(client, "infoJSON"), "500 No database open");
  EXPECT_EQ(ReplyLine(client, "sql select 1"), "512 [Velquarn.sql]:No database open");
  EXPECT_EQ(ReplyLine(client, "execsql2 select 1"), "512 [Velquarn.ExecSQL2]:No database open");
  EXPECT_EQ(ReplyLine(client, "execsql3 2 41"), "512 [Velquarn.ExecSQL3]:No database open");
  client.SendLine("sqlbatch");
  client.SendLine("select 1");
  client.SendLine(".");
  EXPECT_EQ(client.ReadLine(), "512 0:No database open");
  EXPECT_EQ(ReplyLine(client, "clear"), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "close"), "200 Ok");
  EXPECT_EQ(ReplyLine(client, OpenLine()), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "get"), "522 EOF");
  EXPECT_EQ(ReplyLine(client, "info"), "523 No result set");
}

TEST_P(SqlCommandsE2E, SqlAnswersTheFieldDefinitionsAndGetReturnsRows) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "rows");
  Exec(client, "create table " + t + " (id integer not null, name varchar(30))");
  const TClientReply inserted = client.Command("sql insert into " + t + " values(1, 'ab')");
  EXPECT_EQ(inserted.Code, 201);
  EXPECT_EQ(inserted.Text(), "OK");
  EXPECT_EQ(client.ReadDataBlock(), Lines{"1"});
  Exec(client, "insert into " + t + " values(2, 'cd')");

  const std::string head = ReplyLine(client, "sql select id, name from " + t + " order by id");
  EXPECT_EQ(head.substr(0, 4), "200 ");
  EXPECT_NE(head.find("<?xml version = \"1.0\" ?><fielddefs datetimeformat=\"iso\" "
                      "decimalseparator=\".\"><field><name>id</name>"),
            std::string::npos)
      << head;
  if (IsPostgres()) {
    // The SQLite driver does not report its columns' NOT NULL.
    EXPECT_NE(head.find("<required>true</required><datatype>int32</datatype>"), std::string::npos)
        << head;
  }
  EXPECT_NE(head.find("<name>name</name><size>30</size>"), std::string::npos) << head;

  EXPECT_EQ(ReplyLine(client, "get 0"), "200 OK");
  EXPECT_EQ(client.ReadBytes(4), std::string(4, '\0'));
  EXPECT_EQ(ReplyLine(client, "get"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(), std::string("1,\"ab\"\0", 7));
  EXPECT_EQ(ReplyLine(client, "get 100"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(), std::string("2,\"cd\"\0", 7));
  EXPECT_EQ(ReplyLine(client, "get abc"), "522 EOF");
  EXPECT_EQ(ReplyLine(client, "get"), "522 EOF");

  // info works at the end of the rows too.
  EXPECT_EQ(ReplyLine(client, "info"), "200 OK");
  const std::string xml = client.ReadCountedBlock();
  EXPECT_EQ(xml.rfind("<?xml version = \"1.0\" ?>", 0), 0u) << xml;
  EXPECT_EQ(xml, head.substr(4));

  // The whole two rows in one block: bytes 00 00 00 0E and the rows.
  client.Command("sql select id, name from " + t + " order by id");
  EXPECT_EQ(ReplyLine(client, "get 2"), "200 OK");
  EXPECT_EQ(client.ReadBytes(18), std::string("\0\0\0\x0E"
                                              "1,\"ab\"\0"
                                              "2,\"cd\"\0",
                                              18));
  EXPECT_EQ(ReplyLine(client, "get"), "522 EOF");
}

TEST_P(SqlCommandsE2E, GetWithAnInvalidCountFailsWhileRowsRemain) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "cnt");
  Exec(client, "create table " + t + " (id integer)");
  Exec(client, "insert into " + t + " values(7)");
  client.Command("sql select id from " + t);
  EXPECT_EQ(ReplyLine(client, "get abc"), "500 'abc' is not a valid integer value");
  EXPECT_EQ(ReplyLine(client, "get 1 "), "500 '1 ' is not a valid integer value");
  EXPECT_EQ(ReplyLine(client, "get $1"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(), std::string("7\0", 2));
}

TEST_P(SqlCommandsE2E, ValuesAreRenderedByType) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "vals");
  Exec(client, "create table " + t + " (k integer, id integer, s varchar(20), f " + DoubleType() +
                   ", d date, b " + BlobType() + ")");
  Exec(client, "insert into " + t + " values(1, 1, 'say \"hi\"', 0.5, '2000-03-01', " +
                   BlobLiteral("00FF41") + ")");
  Exec(client, "insert into " + t + " values(2, 2, NULL, NULL, NULL, NULL)");
  Exec(client, "insert into " + t + " values(3, 3, '', 1E20, NULL, NULL)");
  Exec(client, "insert into " + t + " values(4, 4, 'x', 0.00001, NULL, NULL)");
  Exec(client, "insert into " + t + " values(5, 5, 'x', 0.0001, NULL, NULL)");
  Exec(client, "insert into " + t + " values(6, 6, 'x', -2.5, NULL, NULL)");
  Exec(client, "insert into " + t + " values(7, NULL, 'x', 0, NULL, NULL)");
  EXPECT_EQ(Rows(client, "select id, s, f, d, b from " + t + " order by k"),
            RowsOf({"1,\"say \"\"hi\"\"\",0.5,\"2000-03-01\",00FF41", "2,\xFF,0,\xFF,\xFF",
                    "3,\"\",1E20,\xFF,\xFF", "4,\"x\",1E-5,\xFF,\xFF", "5,\"x\",0.0001,\xFF,\xFF",
                    "6,\"x\",-2.5,\xFF,\xFF", "0,\"x\",0,\xFF,\xFF"}));
}

TEST_P(SqlCommandsE2E, MemoIsUpperCaseHexAndTimestampsDropMidnight) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "memo");
  Exec(client, "create table " + t + " (id integer, m text, ts timestamp)");
  Exec(client, "insert into " + t + " values(1, 'AB', '2000-03-01 12:34:56')");
  Exec(client, "insert into " + t + " values(2, '', '2000-03-01 00:00:00')");
  if (IsPostgres()) {
    // The PostgreSQL driver describes text with a size that the ODBC driver
    // still reads as a string column.
    EXPECT_EQ(Rows(client, "select m, ts from " + t + " order by id"),
              RowsOf({"\"AB\",\"2000-03-01 12:34:56\"", "\"\",\"2000-03-01\""}));
    return;
  }
  EXPECT_EQ(Rows(client, "select m, ts from " + t + " order by id"),
            RowsOf({"4142,\"2000-03-01 12:34:56\"", ",\"2000-03-01\""}));
}

TEST_P(SqlCommandsE2E, InfoAfterSqlAndAfterExecSql2) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "info");
  Exec(client, "create table " + t + " (id integer)");
  EXPECT_EQ(client.Command("sql select id from " + t).Code, 200);
  EXPECT_EQ(ReplyLine(client, "info"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock().rfind("<?xml version = \"1.0\" ?>", 0), 0u);
  EXPECT_EQ(ReplyLine(client, "execsql2 insert into " + t + " values(1)"), "200 1");
  EXPECT_EQ(ReplyLine(client, "info"), "523 No result set");
  EXPECT_EQ(ReplyLine(client, "infoJSON"), "523 No result set");
  EXPECT_EQ(ReplyLine(client, "get"), "522 EOF");
}

TEST_P(SqlCommandsE2E, WhereGuardRefusesAndLogsAndLeavesTheTable) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "guard");
  Exec(client, "create table " + t + " (id integer)");
  Exec(client, "insert into " + t + " values(1)");
  const std::string statement = "delete from " + t;
  EXPECT_EQ(ReplyLine(client, "sql " + statement),
            "512 [Velquarn.sql]:**Allvarligt fel vid uppdatering av data. Kontakta TESSIK.** " +
                statement);
  EXPECT_EQ(ReplyLine(client, "execsql2 update " + t + " set id=2"),
            "512 [Velquarn.ExecSQL2]:**Allvarligt fel vid uppdatering av data. Kontakta "
            "TESSIK.** update " +
                t + " set id=2");
  EXPECT_TRUE(server_->WaitForEventLog("Severe SQL Error in: " + statement, 5000))
      << server_->EventLogText();
  EXPECT_EQ(Rows(client, "select id from " + t), RowsOf({"1"}));
  EXPECT_EQ(ReplyLine(client, "execsql2 update " + t + " set id=3 where id=9"), "200 0");
  EXPECT_EQ(ReplyLine(client, "execsql2 update " + t + " set id=3 WHERE id=1"), "200 1");
  EXPECT_EQ(Rows(client, "select id from " + t), RowsOf({"3"}));
}

TEST_P(SqlCommandsE2E, ExecSql3LengthAndHexCases) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "hex");
  Exec(client, "create table " + t + " (id integer)");
  Exec(client, "insert into " + t + " values(1)");
  EXPECT_EQ(ReplyLine(client, "execsql3 5 414243"),
            "512 Length parameter mismatch on execsql3 call");
  EXPECT_EQ(ReplyLine(client, "execsql3 x 41"), "512 Illegal length parameter on execsql3 call");
  EXPECT_EQ(ReplyLine(client, "execsql3 -1 41"), "512 Illegal length parameter on execsql3 call");
  EXPECT_EQ(ReplyLine(client, "execsql3"), "512 [Velquarn.ExecSQL3]:List index out of bounds (0)");
  EXPECT_EQ(ReplyLine(client, "execsql3 2"),
            "512 [Velquarn.ExecSQL3]:List index out of bounds (1)");

  // The statement travels as hex, line break included; the guard does not apply.
  std::string hex;
  const std::string statement = "delete\r\nfrom " + t;
  for (unsigned char c : statement) {
    static const char kDigits[] = "0123456789abcdef";
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  EXPECT_EQ(ReplyLine(client, "execsql3 " + std::to_string(hex.size()) + " " + hex), "200 1");
  EXPECT_EQ(Rows(client, "select id from " + t), "");
}

TEST_P(SqlCommandsE2E, SqlBatchStopsAtTheFailingStatement) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "batch");
  Exec(client, "create table " + t + " (id integer)");
  client.SendLine("sqlbatch");
  client.SendLine("insert into " + t + " values(1)");
  client.SendLine("insert into nosuchtable_x values(2)");
  client.SendLine("insert into " + t + " values(3)");
  client.SendLine(".");
  // The database's message may run over several reply lines.
  const TClientReply reply = client.ReadReply();
  EXPECT_EQ(reply.Code, 512);
  ASSERT_FALSE(reply.Lines.empty());
  EXPECT_EQ(reply.Lines[0].rfind("1:", 0), 0u) << reply.Lines[0];
  EXPECT_EQ(ReplyLine(client, "test"), "200 Ok");
  EXPECT_EQ(Rows(client, "select id from " + t), RowsOf({"1"}));

  client.SendLine("sqlbatch");
  client.SendLine(".");
  EXPECT_EQ(client.ReadLine(), "200 OK");
  client.SendLine("sqlbatch");
  client.SendLine("insert into " + t + " values(4)");
  client.SendLine("");
  client.SendLine(".");
  EXPECT_EQ(client.ReadLine(), "512 1:No statement in query");
}

TEST_P(SqlCommandsE2E, SqlWithoutStatementAnswersTheDatasetError) {
  TVelquarnClient client = Open();
  EXPECT_EQ(ReplyLine(client, "sql"), "512 [Velquarn.sql]:No statement in query");
  EXPECT_EQ(ReplyLine(client, "execsql2"), "512 [Velquarn.ExecSQL2]:No statement in query");
}

TEST_P(SqlCommandsE2E, GetJsonDatesEscapesAndRepeats) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "js");
  Exec(client, "create table " + t + " (id integer, name varchar(20), d date, ts timestamp, f " +
                   DoubleType() + ")");
  // 0xE5 is the cp1252 a-ring; it travels as that byte on the command line.
  // The text goes in a statement of its own: a colon in the same statement
  // would be read as a parameter marker.
  Exec(client, "insert into " + t + " values(1, NULL, '1970-01-01', '2000-03-01 12:00:00', 0.5)");
  // MariaDB reads a backslash in a literal as an escape (unless its
  // sql_mode has NO_BACKSLASH_ESCAPES): it is doubled there.
  Exec(client, "update " + t + " set name = 'q\"" + std::string(IsMariaDb() ? "\\\\" : "\\") +
                   "\xE5' where id = 1");
  Exec(client, "insert into " + t + " values(2, NULL, NULL, NULL, NULL)");
  ASSERT_EQ(client.Command("sql select * from " + t + " order by id").Code, 200);

  EXPECT_EQ(ReplyLine(client, "infoJSON"), "200 OK");
  EXPECT_EQ(
      client.ReadCountedBlock(),
      "{ \"columns\": [ { \"name\": \"id\", \"type\": 3, \"length\": null, \"scale\": null }, "
      "{ \"name\": \"name\", \"type\": 1, \"length\": 20, \"scale\": null }, "
      "{ \"name\": \"d\", \"type\": 5, \"length\": null, \"scale\": null }, "
      "{ \"name\": \"ts\", \"type\": 7, \"length\": null, \"scale\": null }, "
      "{ \"name\": \"f\", \"type\": 4, \"length\": null, \"scale\": 2 } ] }");

  const std::string expected =
      "{ \"rows\": [ { \"id\": 1, \"name\": \"q\\\"\\\\\xC3\xA5\", \"d\": 86400000, "
      "\"ts\": 951912000000, \"f\": 0.5 }, { \"id\": 2, \"name\": \"null\", \"d\": \"null\", "
      "\"ts\": \"null\", \"f\": \"null\" } ] }";
  EXPECT_EQ(ReplyLine(client, "getJSON"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(), expected);
  EXPECT_EQ(ReplyLine(client, "getJSON"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(), expected);
  EXPECT_EQ(ReplyLine(client, "get"), "522 EOF");

  // The server time zone of the section moves every date by two hours.
  TVelquarnClient zoned = Connect();
  ASSERT_EQ(zoned.Command(OpenLineWithZone()).Code, 200);
  ASSERT_EQ(zoned.Command("sql select d from " + t + " where id=1").Code, 200);
  EXPECT_EQ(ReplyLine(zoned, "getJSON"), "200 OK");
  EXPECT_EQ(zoned.ReadCountedBlock(), "{ \"rows\": [ { \"d\": 93600000 } ] }");

  ASSERT_EQ(client.Command("sql select id from " + t + " where id > 5").Code, 200);
  EXPECT_EQ(ReplyLine(client, "getJSON"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(), "{ \"rows\": [  ] }");
}

TEST_P(SqlCommandsE2E, GetJsonOfADateBefore1970Fails) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "old");
  Exec(client, "create table " + t + " (d date)");
  Exec(client, "insert into " + t + " values('1969-12-31')");
  ASSERT_EQ(client.Command("sql select d from " + t).Code, 200);
  EXPECT_EQ(ReplyLine(client, "getJSON"), "500 [Velquarn.Get]:Invalid argument to date encode");
  EXPECT_EQ(ReplyLine(client, "test"), "200 Ok");
}

TEST_P(SqlCommandsE2E, SectionCredentialsFromTheOpenLine) {
  if (!IsServer()) GTEST_SKIP() << "SQLite takes no credentials";
  // A user id without a password removes the password: the server refuses
  // the connection at the first statement.
  TVelquarnClient without_password = Connect();
  const std::string user = ServerCredentials().substr(0, ServerCredentials().find(' '));
  EXPECT_EQ(ReplyLine(without_password, "open servertz " + user), "200 Ok");
  EXPECT_EQ(ReplyLine(without_password, "sql select 1").rfind("512 [Velquarn.sql]:", 0), 0u);
  TVelquarnClient with_password = Connect();
  EXPECT_EQ(ReplyLine(with_password, OpenLineWithZone()), "200 Ok");
  EXPECT_EQ(with_password.Command("sql select 1 as one").Code, 200);
}

TEST_P(SqlCommandsE2E, ClearAndSecondOpenKeepOneWorkingQuery) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "reopen");
  Exec(client, "create table " + t + " (id integer)");
  Exec(client, "insert into " + t + " values(1)");
  ASSERT_EQ(client.Command("sql select id from " + t).Code, 200);
  EXPECT_EQ(ReplyLine(client, "clear"), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "get"), "522 EOF");
  ASSERT_EQ(client.Command("sql select id from " + t).Code, 200);
  EXPECT_EQ(ReplyLine(client, OpenLine()), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "get"), "522 EOF");
  EXPECT_EQ(Rows(client, "select id from " + t), RowsOf({"1"}));
  EXPECT_EQ(ReplyLine(client, OpenLine()), "200 Ok");
  EXPECT_EQ(Rows(client, "select id from " + t), RowsOf({"1"}));
}

TEST_P(SqlCommandsE2E, FiftyClientsAtOnceSeeOnlyTheirOwnData) {
  TVelquarnClient setup = Open();
  const std::string table = Table(setup, "many");
  Exec(setup, "create table " + table + " (client integer, n integer)");
  for (int c = 0; c < 50; ++c) {
    Exec(setup, "insert into " + table + " values(" + std::to_string(c) + ", " +
                    std::to_string(c * 1000) + ")");
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < 50; ++c) {
    threads.emplace_back([&, c] {
      try {
        TVelquarnClient client;
        client.SetReadTimeoutMs(30000);
        client.Connect("127.0.0.1", server_->Port());
        client.ReadLine();
        if (client.Command(OpenLine()).Code != 200) ++failures;
        for (int round = 0; round < 5; ++round) {
          if (client.Command("sql select n from " + table + " where client=" + std::to_string(c))
                  .Code != 200) {
            ++failures;
            continue;
          }
          if (client.Command("get 10").Code != 200) {
            ++failures;
            continue;
          }
          if (client.ReadCountedBlock() != std::to_string(c * 1000) + std::string(1, '\0')) {
            ++failures;
          }
        }
        client.SendLine("quit");
      } catch (const std::exception&) {
        ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST_P(SqlCommandsE2E, ClientLeavingInTheMiddleOfAGetLeavesTheServerServing) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "big");
  Exec(client, "create table " + t + " (id integer, pad varchar(200))");
  Exec(client,
       "insert into " + t +
           " with recursive c(x) as (select 1 union all select x + 1 from c where x < 20000) "
           "select x, '" +
           std::string(150, 'x') + "' from c");

  {
    TVelquarnClient leaving = Open();
    ASSERT_EQ(leaving.Command("sql select * from " + t).Code, 200);
    leaving.SendLine("get 20000");
    leaving.ReadBytes(100);
    leaving.Close();
  }
  EXPECT_EQ(ReplyLine(client, "test"), "200 Ok");
  EXPECT_EQ(client.Command("sql select count(*) from " + t).Code, 200);
  EXPECT_EQ(ReplyLine(client, "get"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(), std::string("20000\0", 6));
  TVelquarnClient another = Open();
  EXPECT_EQ(ReplyLine(another, "test"), "200 Ok");
}

INSTANTIATE_TEST_SUITE_P(Backends, SqlCommandsE2E, AllBackends(), BackendName);

}  // namespace
}  // namespace velquarn::testing
