// The command line of the real binary: each switch, its exit status and
// output, and --check-config on broken and clean files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/e2e_options.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {
namespace {

TEST(CommandLineE2E, HelpAndVersionExitZero) {
  for (const char* help : {"-h", "--help", "/help", "-HELP", "/?"}) {
    TRunResult result = RunVelquarn(VELQUARN_BINARY, {help});
    EXPECT_EQ(result.status, 0) << help;
    EXPECT_EQ(result.out.rfind("Usage: velquarn", 0), 0u) << help << result.out;
    EXPECT_NE(result.out.find("--check-config"), std::string::npos);
    EXPECT_EQ(result.err, "");
  }
  for (const char* version : {"-V", "--version"}) {
    TRunResult result = RunVelquarn(VELQUARN_BINARY, {version});
    EXPECT_EQ(result.status, 0) << version;
    // The greeting's version is the project's version.
    EXPECT_EQ(result.out.rfind("velquarn 2.1\n", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("\ncompiler: "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\nbuild type: "), std::string::npos) << result.out;
  }
}

TEST(CommandLineE2E, BadArgumentsExitOneWithTheReasonAndUsage) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-x"}, "Unknown switch: -x"},
      {{"--frobnicate"}, "Unknown switch: --frobnicate"},
      {{"--config"}, "Missing value after --config"},
      {{"--event-log="}, "Missing value after --event-log="},
      {{"stray"}, "Unknown argument: stray"},
      {{"--connect"}, "--connect needs --check-config"},
      {{"/install", "-Uninstall"}, "/install and /uninstall cannot be combined"},
  };
  for (const auto& [arguments, message] : cases) {
    TRunResult result = RunVelquarn(VELQUARN_BINARY, arguments);
    EXPECT_EQ(result.status, 1) << message;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind(message + "\nUsage: velquarn", 0), 0u) << result.err;
  }
}

TEST(CommandLineE2E, StartFailureIsAlsoWrittenToStderr) {
  const uint16_t port = FreeTcpPort();
  // A configuration whose port another listener holds: the service fails on
  // execute and must say so on stderr as well as in the event log.
  TempDir dir("velquarn-stderr");
  const std::string config = dir.File("velquarn.ini");
  std::ofstream(config) << "[Settings]\nPort=" << port << "\n";
  TVelquarnProcess holder([&] {
    TVelquarnProcessOptions first = VelquarnOptions();
    first.port = port;
    return first;
  }());
  TRunResult result = RunVelquarn(VELQUARN_BINARY, {"--config", config});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err.rfind("velquarn: Service failed on execute: ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("Address already in use"), std::string::npos) << result.err;
}

class CheckConfigE2E : public ::testing::Test {
 protected:
  void SetUp() override { OdbcTestEnv::Get(); }

  std::string Write(const std::string& text) {
    const std::string path = dir_.File("check" + std::to_string(++files_) + ".ini");
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  static TRunResult Check(const std::string& path, bool connect = false) {
    std::vector<std::string> arguments = {"--check-config", "--config", path};
    if (connect) arguments.push_back("--connect");
    return RunVelquarn(VELQUARN_BINARY, arguments);
  }

  std::string Sqlite(const std::string& name, const std::string& database) const {
    return "[" + name + "]\nDriverName=" + OdbcTestEnv::kSqliteDriver +
           "\nDriverParams=Database=" + database + "\n";
  }

  TempDir dir_{"velquarn-check-e2e"};
  int files_ = 0;
};

TEST_F(CheckConfigE2E, EachBrokenFileGivesOneFindingAtItsLine) {
  struct TCase {
    std::string text;
    int line;
    std::string finding;
  };
  const std::string driver = OdbcTestEnv::kSqliteDriver;
  const std::vector<TCase> cases = {
      {"[Settings]\nProt=8888\n", 2, "[Settings] Prot: unknown key; did you mean Port?"},
      {"[Settings]\r\nPort=8888\r\n\r\nMaxConection=5\r\n", 4,
       "[Settings] MaxConection: unknown key; did you mean MaxConnections?"},
      {"; comment\n[Settings]\nIPV6=0\nPort=abc\n", 4,
       "[Settings] Port=abc: not an integer; the service would use the default 8888"},
      {"[Settings]\nIPV6=true\n", 2,
       "[Settings] IPV6=true: not an integer; the service would use the default 0"},
      {"[Settings]\nPort=70000\n", 2, "[Settings] Port=70000: outside 1..65535"},
      {"[Settings]\nMaxLineLength=-1\n", 2,
       "[Settings] MaxLineLength=-1: must be above 0; the service would use the default "
       "67108864"},
      {"[Setings]\nPort=9000\n", 1,
       "[Setings] would be read as a database section; did you mean [Settings]?"},
      {"[Settings]\nPort=1\nport=2\n", 3,
       "[Settings] port repeated: only the first, at line 2, is read"},
      {"[Settings]\nPort=1\n[SETTINGS]\nIPV6=1\n", 3,
       "[SETTINGS] repeated: only the first, at line 1, is read"},
      {"[Settings]\nPort 8888\n", 2,
       "\"Port 8888\" is ignored: not a [section] or key=value line inside a section"},
      {"[db]\nDSN=NoSuchSource\n", 2,
       "[db] DSN=NoSuchSource: not a data source of the ODBC driver manager (odbc.ini)"},
      {"[db]\n\nDriverName=No Such Driver\n", 3,
       "[db] DriverName=No Such Driver: not an installed ODBC driver (odbcinst.ini)"},
      {"[db]\nDriverName=/nonexistent/libdriver.so\n", 2,
       "[db] DriverName=/nonexistent/libdriver.so: no such driver library"},
      {"[db]\nUsername=sa\n", 1, "[db]: neither DSN nor DriverName is set; open cannot connect"},
      {"[db]\nDriverName=" + driver + "\nDriverParms=Database=/tmp/x.db\n", 3,
       "[db] DriverParms: unknown key; did you mean DriverParams?"},
      {"[db]\nDriverName=" + driver + "\nLoginTimeout=ten\n", 3,
       "[db] LoginTimeout=ten: not an integer; the service would use the default 30"},
      {"[db]\nDriverName=" + driver + "\nCharset=LATIN1\n", 3,
       "[db] Charset=LATIN1: unknown; the driver's text is taken as UTF-8"},
      {"[db]\nDriverName=" + driver + "\nPassword=password\n", 3,
       "[db] Password: does not unscramble to readable text; write the value with velquarn "
       "--scramble-password"},
  };
  for (const TCase& c : cases) {
    const std::string path = Write(c.text);
    TRunResult result = Check(path);
    EXPECT_EQ(result.status, 1) << c.text;
    EXPECT_EQ(result.out, path + ":" + std::to_string(c.line) + ": " + c.finding + "\n" + path +
                              ": 1 problem(s)\n")
        << c.text;
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(CheckConfigE2E, MissingOrUnreadableFile) {
  const std::string missing = dir_.File("missing.ini");
  TRunResult result = Check(missing);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out.rfind(missing + ": Cannot open file \"" + missing + "\". ", 0), 0u)
      << result.out;
  EXPECT_NE(result.out.find("The service would start on its defaults.\n"), std::string::npos);

  const std::string folder = dir_.File("a-folder.ini");
  std::filesystem::create_directory(folder);
  EXPECT_EQ(Check(folder).status, 1);
}

TEST_F(CheckConfigE2E, CleanFileExitsZero) {
  const std::string path = Write(
      "; sample\n[Settings]\nPort=8888\nIPV6=0\nMaxDateDiff=3\nMaxLineLength=0x100000\n"
      "MaxConnections=2000\nIdleTimeout=0\nListenAddress=127.0.0.1\n\n[CustomData]\nA=b\n\n" +
      Sqlite("lite", dir_.File("clean.db")) + "\n[dsn]\nDSN=" + OdbcTestEnv::kSqliteDsn + "\n");
  TRunResult result = Check(path);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out, path + ": OK, 2 database section(s)\n");
}

TEST_F(CheckConfigE2E, ConnectOpensEachSqliteSection) {
  const std::string path =
      Write(Sqlite("good", dir_.File("good.db")) + "\n" + Sqlite("bad", "/nonexistent/dir/x.db"));
  TRunResult result = Check(path, true);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out.rfind(path + ":5: [bad]: cannot connect: ", 0), 0u) << result.out;
  EXPECT_NE(result.out.find("\n" + path + ": 1 problem(s)\n"), std::string::npos) << result.out;

  const std::string good = Write(Sqlite("good", dir_.File("good.db")));
  TRunResult clean = Check(good, true);
  EXPECT_EQ(clean.status, 0) << clean.out;
  EXPECT_EQ(clean.out, good + ": OK, 1 database section(s), 1 connected\n");
}

TEST_F(CheckConfigE2E, ConnectReportsPostgresLoginFailures) {
  if (!PostgresAvailable()) GTEST_SKIP() << "PostgreSQL not available (VELQUARN_PG_* unset)";
  auto section = [](const std::string& name, const std::string& password) {
    return "[" + name + "]\nDriverName=" + OdbcTestEnv::kPostgresDriver +
           "\nDriverParams=Servername=" + PostgresSetting("HOST") +
           ",Port=" + PostgresSetting("PORT") + ",Database=" + PostgresSetting("DATABASE") +
           ",UID=" + PostgresSetting("USER") + ",PWD=" + password + "\n";
  };
  const std::string path = Write(section("pg", PostgresSetting("PASSWORD")) + "\n" +
                                 section("wrong", "not-the-password") +
                                 "\n[nologin]\nDSN=" + OdbcTestEnv::kPostgresDsn + "\n");
  TRunResult result = Check(path, true);
  EXPECT_EQ(result.status, 1);
  const std::string out = result.out;
  EXPECT_NE(out.find(path + ":5: [wrong]: cannot connect: "), std::string::npos) << out;
  EXPECT_NE(out.find("password authentication failed"), std::string::npos) << out;
  EXPECT_NE(out.find(path + ":9: [nologin]: cannot connect: "), std::string::npos) << out;
  EXPECT_EQ(out.find("[pg]"), std::string::npos) << out;
  EXPECT_NE(out.find("\n" + path + ": 2 problem(s)\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace velquarn::testing
