#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/velquarn_client.h"
#include "e2e/backend_e2e_fixture.h"

namespace velquarn::testing {
namespace {

using Lines = std::vector<std::string>;

class PrepE2E : public BackendE2E {
 protected:
  // A table T(a, b) holding the row (1, 7).
  std::string SeededTable(TVelquarnClient& client) {
    const std::string table = Table(client, "pt");
    Exec(client, "create table " + table + " (a int, b int)");
    Exec(client, "insert into " + table + " values(1, 7)");
    return table;
  }
};

TEST_P(PrepE2E, ExecOfAnUpdateAnswers201WithCountAndParameters) {
  TVelquarnClient client = Open();
  const std::string table = SeededTable(client);
  client.SendLine("prep update " + table + " set a = :a where b = :b");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  client.SendLine("exec 5,7");
  ASSERT_EQ(client.ReadLine(), "201 OK");
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"1", "a=5", "b=7"}));
  EXPECT_EQ(Rows(client, "select a, b from " + table), RowsOf({"5,7"}));
}

TEST_P(PrepE2E, ExecWithoutValuesRerunsWithThePreviousOnes) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "prerun");
  Exec(client, "create table " + table + " (a int, b int)");
  ASSERT_EQ(client.Command("prep insert into " + table + " values (:a, :b)").Code, 200);
  ASSERT_EQ(client.Command("exec 3, 4").Code, 201);
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"1", "a=3", "b=4"}));
  ASSERT_EQ(client.Command("exec").Code, 201);
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"1", "a=3", "b=4"}));
  // Fewer values than parameters keep the rest.
  ASSERT_EQ(client.Command("exec 9").Code, 201);
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"1", "a=9", "b=4"}));
  EXPECT_EQ(Rows(client, "select a, b from " + table + " order by a"),
            RowsOf({"3,4", "3,4", "9,4"}));
}

TEST_P(PrepE2E, ExecWithAResultAnswers200AndLeavesItOpen) {
  TVelquarnClient client = Open();
  const std::string table = SeededTable(client);
  ASSERT_EQ(client.Command("prep select a from " + table + " where b = :b").Code, 200);
  client.SendLine("exec 7");
  ASSERT_EQ(client.ReadLine(), "200 OK");
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"b=7"}));
  ASSERT_EQ(client.Command("get 10").Code, 200);
  EXPECT_EQ(client.ReadCountedBlock(), RowsOf({"1"}));
}

TEST_P(PrepE2E, QuotedValueWithACommaIsSplitByTheServer) {
  TVelquarnClient client = Open();
  const std::string table = SeededTable(client);
  ASSERT_EQ(client.Command("prep select a from " + table + " where a = :a and b = :b").Code, 200);
  // The three pieces 1, "x and y" meet two parameters.
  client.SendLine("exec 1,\"x,y\"");
  EXPECT_EQ(client.ReadLine(), "512 List index out of bounds (2)");
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_P(PrepE2E, QuotedValueLosesItsQuotes) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "pquote");
  Exec(client, "create table " + table + " (s varchar(40))");
  ASSERT_EQ(client.Command("prep insert into " + table + " values (:s)").Code, 200);
  ASSERT_EQ(client.Command("exec \"say \"\"hi\"\" now\"").Code, 201);
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"1", "s=say \"hi\" now"}));
  ASSERT_EQ(client.Command("exec \"\"").Code, 201);
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"1", "s=\"\""}));
  EXPECT_EQ(Rows(client, "select s from " + table + " order by s"),
            RowsOf({"\"\"\"\"\"\"", "\"say \"\"hi\"\" now\""}));
}

TEST_P(PrepE2E, ExecAfterExecSql2HasNoStatement) {
  TVelquarnClient client = Open();
  const std::string table = SeededTable(client);
  ASSERT_EQ(client.Command("prep update " + table + " set a = :a where b = :b").Code, 200);
  Exec(client, "update " + table + " set a = 2 where b = 7");
  client.SendLine("exec");
  EXPECT_EQ(client.ReadLine(), "512 No statement in query");
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_P(PrepE2E, ExecOfAFailingStatementAnswers512WithTheBareMessage) {
  TVelquarnClient client = Open();
  ASSERT_EQ(client.Command("prep select * from no_such_table_here where a = :a").Code, 200);
  const TClientReply reply = client.Command("exec 1");
  EXPECT_EQ(reply.Code, 512);
  EXPECT_EQ(reply.Text().find("[Velquarn"), std::string::npos) << reply.Text();
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_P(PrepE2E, CallWithNothingIsAnIndexError) {
  TVelquarnClient client = Open();
  client.SendLine("call");
  EXPECT_EQ(client.ReadLine(), "512 List index out of bounds (0)");
  client.SendLine("call ");
  EXPECT_EQ(client.ReadLine(), "512 List index out of bounds (0)");
}

TEST_P(PrepE2E, CallWithoutArgumentsRunsTheBareCallText) {
  TVelquarnClient client = Open();
  // 'call MYPROC' is sent as it stands; SQLite knows no procedures and
  // PostgreSQL wants parentheses, so both answer with the driver's message.
  const TClientReply reply = client.Command("call MYPROC");
  EXPECT_EQ(reply.Code, 512);
  EXPECT_EQ(reply.Text().find("[Velquarn"), std::string::npos) << reply.Text();
  if (!IsServer()) return;
  const std::string table = Table(client, "pcalled");
  const std::string procedure = "p_" + table;
  Exec(client, "create table " + table + " (id int)");
  client.Command("execsql2 drop procedure " + procedure);
  if (IsMariaDb()) {
    Exec(client, "create procedure " + procedure + "() insert into " + table + " values (1)");
  } else {
    Exec(client, "create procedure " + procedure + "() language sql as $$ insert into " + table +
                     " values (1) $$");
  }
  // The parentheses may travel with the name: no arguments, no data block.
  client.SendLine("call " + procedure + "()");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  client.SendLine("test");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(Rows(client, "select id from " + table), RowsOf({"1"}));
  Exec(client, "drop procedure " + procedure);
}

TEST_P(PrepE2E, CallHandsBackInOutParameters) {
  if (!IsServer()) GTEST_SKIP() << "SQLite has no procedures";
  TVelquarnClient client = Open();
  const std::string procedure = "p_" + Table(client, "pinout");
  client.Command("execsql2 drop procedure " + procedure);
  // The body avoids ":=", which the statement's marker parsing would take
  // for a parameter.
  if (IsMariaDb()) {
    Exec(client, "create procedure " + procedure +
                     "(inout a varchar(20), inout b varchar(20)) "
                     "set a = concat(a, '!'), b = upper(b)");
  } else {
    Exec(client, "create procedure " + procedure +
                     "(inout a varchar, inout b varchar) language plpgsql as $$ begin "
                     "select a || '!', upper(b) into a, b; end $$");
  }
  // The quoted item keeps its comma.
  client.SendLine("call " + procedure + ",1,\"x,y\"");
  ASSERT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"p1=1!", "p2=X,Y"}));
  Exec(client, "drop procedure " + procedure);
}

// IN, OUT and INOUT parameters in one call. The IN argument is bound
// input-only and its line echoes the value sent; OUT and INOUT are bound
// input-output and come back in their own places (an IN bound for output
// would make the MariaDB driver store the returned values one place early).
TEST_P(PrepE2E, CallWithInOutAndInOutParameters) {
  if (!IsServer()) GTEST_SKIP() << "SQLite has no procedures";
  TVelquarnClient client = Open();
  const std::string procedure = "p_" + Table(client, "pmodes");
  client.Command("execsql2 drop procedure " + procedure);
  if (IsMariaDb()) {
    Exec(client, "create procedure " + procedure +
                     "(in a int, out b varchar(20), inout c varchar(20)) "
                     "set b = concat('got ', a + 1), c = concat(c, '+')");
  } else {
    Exec(client, "create procedure " + procedure +
                     "(in a int, out b varchar, inout c varchar) language plpgsql as $$ begin "
                     "select 'got ' || (a + 1), c || '+' into b, c; end $$");
  }
  client.SendLine("call " + procedure + ",41,ignored,x");
  ASSERT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"p1=41", "p2=got 42", "p3=x+"}));
  // Qualified by the database (MariaDB) or the schema (PostgreSQL), and with
  // the name in the server's identifier quotes. (A name that begins with a
  // double quote is a quoted item of the call list, which loses its quotes.)
  const std::string owner = IsMariaDb() ? MariaDbSetting("DATABASE") : "public";
  client.SendLine("call " + owner + "." + Quoted(procedure) + ",1,,y");
  ASSERT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"p1=1", "p2=got 2", "p3=y+"}));
  Exec(client, "drop procedure " + procedure);
}

TEST_P(PrepE2E, CallOfAProcedureWithAnInputParameter) {
  if (!IsServer()) GTEST_SKIP() << "SQLite has no procedures";
  TVelquarnClient client = Open();
  const std::string procedure = "p_" + Table(client, "pin");
  client.Command("execsql2 drop procedure " + procedure);
  if (IsMariaDb()) {
    Exec(client, "create procedure " + procedure + "(inout n int, m int) set n = n + m");
  } else {
    Exec(client, "create procedure " + procedure +
                     "(inout n int, m int) language plpgsql as $$ begin select n + m into n; "
                     "end $$");
  }
  // The name in capitals: PostgreSQL folds a bare name to lower case.
  client.SendLine("call " + UpperCase(procedure) + ",41,1");
  ASSERT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadDataBlock(), (Lines{"p1=42", "p2=1"}));
  // The call ran on the main connection, where catalog queries run too; the
  // result row it may leave open does not stand in their way.
  client.SendLine("sys tablenames");
  ASSERT_EQ(client.ReadLine(), "200 Ok");
  client.ReadDataBlock();
  Exec(client, "drop procedure " + procedure);
}

TEST_P(PrepE2E, CommandsBeforeOpenAnswer512) {
  TVelquarnClient client = Connect();
  for (const char* line : {"prep select 1", "exec 1", "call P,1"}) {
    client.SendLine(line);
    EXPECT_EQ(client.ReadLine(), "512 No database open") << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, PrepE2E, AllBackends(), BackendName);

}  // namespace
}  // namespace velquarn::testing
