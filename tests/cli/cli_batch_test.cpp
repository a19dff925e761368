// velquarn-cli in batch mode against the real binary: output formats, the
// exit status of each kind of failure, errors on standard error.
#include <gtest/gtest.h>

#include <fstream>

#include "support/odbc_test_env.h"
#include "support/velquarn_process.h"

namespace velquarn::testing {
namespace {

class CliBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OdbcTestEnv& env = OdbcTestEnv::Get();
    TVelquarnProcessOptions options;
    options.binary = VELQUARN_BINARY;
    options.sections = "[lite]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                       "\nDriverParams=Database=" + env.NewSqliteFile("cli.db") + "\n";
    server_ = std::make_unique<TVelquarnProcess>(options);
  }

  TRunResult Cli(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-p", std::to_string(server_->Port()), "-d", "lite"});
    return RunVelquarn(VELQUARN_CLI_BINARY, arguments);
  }

  std::unique_ptr<TVelquarnProcess> server_;
};

TEST_F(CliBatchTest, TablesCsvJsonAndAffectedRows) {
  const TRunResult setup = Cli({"-c", "create table t (id integer, name varchar(20), f double)",
                                "-c", "insert into t values (1, 'a, \"b\"', 0.5)", "-c",
                                "insert into t values (2, NULL, NULL)"});
  EXPECT_EQ(setup.status, 0) << setup.err;
  EXPECT_EQ(setup.out, "0 rows affected\n1 row affected\n1 row affected\n");
  const TRunResult table = Cli({"-c", "select id, name, f from t order by id"});
  EXPECT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out,
            " id | name   | f\n"
            "----+--------+-----\n"
            "  1 | a, \"b\" | 0.5\n"
            "  2 | NULL   |   0\n"
            "(2 rows)\n");
  const TRunResult csv = Cli({"--format", "csv", "-c", "select id, name from t order by id"});
  EXPECT_EQ(csv.out, "id,name\r\n1,\"a, \"\"b\"\"\"\r\n2,\r\n");
  const TRunResult json = Cli({"--format=json", "-c", "select id, name from t order by id"});
  EXPECT_EQ(json.out,
            "[\n  {\"id\": 1, \"name\": \"a, \\\"b\\\"\"},\n  {\"id\": 2, \"name\": null}\n]\n");
}

TEST_F(CliBatchTest, ExitStatusAndStandardError) {
  // An error reply: status 1, the reply on stderr, and the batch stops.
  const TRunResult error = Cli({"-c", "select * from missing", "-c", "select 1"});
  EXPECT_EQ(error.status, 1);
  EXPECT_NE(error.err.find("512 [Velquarn.sql]:"), std::string::npos) << error.err;
  EXPECT_EQ(error.out, "");
  // Protocol commands are sent as they are.
  const TRunResult help = Cli({"-c", "help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("100 Help follows\naddrec\n"), std::string::npos) << help.out;
  const TRunResult file_missing = Cli({"-f", "/nonexistent/cli.sql"});
  EXPECT_EQ(file_missing.status, 2);
  const TRunResult usage = RunVelquarn(VELQUARN_CLI_BINARY, {"--format", "xml"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("--format"), std::string::npos);
  const TRunResult refused =
      RunVelquarn(VELQUARN_CLI_BINARY, {"-p", std::to_string(FreeTcpPort()), "-c", "test"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("connect"), std::string::npos) << refused.err;
  const TRunResult bad_open =
      RunVelquarn(VELQUARN_CLI_BINARY,
                  {"-p", std::to_string(server_->Port()), "-d", "nosuchsection", "-c", "select 1"});
  EXPECT_EQ(bad_open.status, 1) << bad_open.err;
}

TEST_F(CliBatchTest, FileLinesAndSqlBatchBlocks) {
  const std::string path = server_->Folder() / "script.sql";
  std::ofstream(path) << "create table u (id integer)\nsqlbatch\ninsert into u values (1)\n"
                         "insert into u values (2)\n.\nselect count(*) as n from u\n";
  const TRunResult result = Cli({"-f", path});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "0 rows affected\n200 OK\n n\n---\n 2\n(1 row)\n");
}

// exec, sys and error replies may or may not carry a data block; the one
// that follows is shown, and the next reply is never taken for a block.
TEST_F(CliBatchTest, RepliesWithAndWithoutDataBlocks) {
  std::vector<std::string> arguments = {"-c", "create table v (id integer)", "-c",
                                        "prep insert into v values (:id)"};
  for (int i = 1; i <= 20; ++i) {
    arguments.insert(arguments.end(), {"-c", "exec " + std::to_string(i)});
  }
  arguments.insert(arguments.end(), {"-c", "prep select count(*) as n from v", "-c", "exec",
                                     "-c", "sys tablenames", "-c", "sys nosuchoperand"});
  const TRunResult result = Cli(arguments);
  EXPECT_EQ(result.status, 1);
  std::string expected = "0 rows affected\n200 Ok\n";
  for (int i = 1; i <= 20; ++i) expected += "201 OK\n1\nid=" + std::to_string(i) + "\n";
  // The count query's exec has no block; sys tablenames has one.
  expected += "200 Ok\n200 OK\n200 Ok\n";
  EXPECT_EQ(result.out.substr(0, expected.size()), expected);
  EXPECT_NE(result.out.find("\nv\n", expected.size() - 1), std::string::npos) << result.out;
  EXPECT_NE(result.err.find("582"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace velquarn::testing
