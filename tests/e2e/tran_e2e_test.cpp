#include <gtest/gtest.h>

#include <string>

#include "client/velquarn_client.h"
#include "e2e/backend_e2e_fixture.h"

namespace velquarn::testing {
namespace {

class TranE2E : public BackendE2E {};

constexpr const char* kUnknownOperand = "540 unknown or missing parameter on TRAN command";

TEST_P(TranE2E, OperandsIgnoreLetterCase) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "tcase");
  Exec(client, "create table " + table + " (id int)");
  for (const char* line : {"tran START", "tran Commit", "tran sTaRt", "tran ROLLBACK"}) {
    client.SendLine(line);
    EXPECT_EQ(client.ReadLine(), "200 Ok") << line;
  }
}

TEST_P(TranE2E, OperandIsTheWholeRawTextUntrimmed) {
  TVelquarnClient client = Open();
  for (const char* line : {"tran start ", "tran  start", "tran", "tran begin", "tran start x"}) {
    client.SendLine(line);
    EXPECT_EQ(client.ReadLine(), kUnknownOperand) << "'" << line << "'";
  }
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_P(TranE2E, SecondStartIsRefused) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "tdouble");
  Exec(client, "create table " + table + " (id int)");
  client.SendLine("tran start");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  client.SendLine("tran start");
  EXPECT_EQ(client.ReadLine(),
            "500 Transaction already started. Must Commit or Rollback before starting new "
            "transaction.");
  client.SendLine("tran rollback");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
}

TEST_P(TranE2E, CommitBeforeAnyStatementFindsTheDatabaseClosed) {
  TVelquarnClient client = Open();
  client.SendLine("tran commit");
  EXPECT_EQ(client.ReadLine(), "500 Operation invalid on closed database");
  client.SendLine("tran rollback");
  EXPECT_EQ(client.ReadLine(), "500 Operation invalid on closed database");
}

TEST_P(TranE2E, CommitWithoutTransactionOnAConnectedDatabase) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "tnone");
  Exec(client, "create table " + table + " (id int)");
  client.SendLine("tran commit");
  EXPECT_EQ(client.ReadLine(), "500 No transaction active.");
}

TEST_P(TranE2E, TranClosesTheQueryWhateverTheOperand) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "tclose");
  Exec(client, "create table " + table + " (id int)");
  Exec(client, "insert into " + table + " values(1)");
  for (const char* line : {"tran start", "tran nonsense"}) {
    ASSERT_EQ(client.Command("sql select id from " + table).Code, 200);
    client.Command(line);
    client.SendLine("get 10");
    EXPECT_EQ(client.ReadLine(), "522 EOF") << line;
  }
  client.Command("tran rollback");
}

TEST_P(TranE2E, RollbackUndoesStatementsOfTheMainConnection) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "troll");
  Exec(client, "create table " + table + " (id int)");
  ASSERT_EQ(client.Command("tran start").Code, 200);
  Exec(client, "insert into " + table + " values(1)");
  ASSERT_EQ(client.Command("tran rollback").Code, 200);
  ASSERT_EQ(client.Command("tran start").Code, 200);
  Exec(client, "insert into " + table + " values(2)");
  ASSERT_EQ(client.Command("tran commit").Code, 200);
  EXPECT_EQ(Rows(client, "select id from " + table), RowsOf({"2"}));
}

TEST_P(TranE2E, StatementsOfTheQueryRunOutsideTheTransaction) {
  // On SQLite the two connections would lock each other out of the file.
  if (!IsServer()) GTEST_SKIP() << "needs a database with concurrent writers";
  TVelquarnClient client = Open();
  const std::string table = Table(client, "tsplit");
  Exec(client, "create table " + table + " (id int)");
  ASSERT_EQ(client.Command("tran start").Code, 200);
  Exec(client, "insert into " + table + " values(1)");
  EXPECT_EQ(client.Command("sql insert into " + table + " values(2)").Code, 201);
  client.ReadDataBlock();
  ASSERT_EQ(client.Command("tran rollback").Code, 200);
  EXPECT_EQ(Rows(client, "select id from " + table + " order by id"), RowsOf({"2"}));
}

TEST_P(TranE2E, TranBeforeOpenIsAnError) {
  TVelquarnClient client = Connect();
  client.SendLine("tran start");
  EXPECT_EQ(client.ReadLine(), "500 No database open");
  EXPECT_EQ(client.Command("test").Code, 200);
}

INSTANTIATE_TEST_SUITE_P(Backends, TranE2E, AllBackends(), BackendName);

}  // namespace
}  // namespace velquarn::testing
