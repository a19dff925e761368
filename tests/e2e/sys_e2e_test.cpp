#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/velquarn_client.h"
#include "e2e/backend_e2e_fixture.h"
#include "e2e/e2e_options.h"
#include "support/file_text.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {
namespace {

using Lines = std::vector<std::string>;

// The bytes of a setconfig upload: a 4-byte big-endian line count, then the
// lines.
std::string CountedLines(int32_t count, const std::string& lines) {
  std::string bytes(4, '\0');
  const auto value = static_cast<uint32_t>(count);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (24 - 8 * i));
  return bytes + lines;
}

// Raw lines up to and including the "." that ends a data block.
Lines RawBlock(TVelquarnClient& client) {
  Lines lines;
  do {
    lines.push_back(client.ReadLine());
  } while (lines.back() != ".");
  return lines;
}

// Sends a list operand and returns its data block's lines as received (dot
// stuffing kept) without the final ".". Any reply other than '200 Ok' is a
// failure and comes back as the only line.
Lines List(TVelquarnClient& client, const std::string& line) {
  client.SendLine(line);
  const std::string reply = client.ReadLine();
  if (reply != "200 Ok") {
    ADD_FAILURE() << line << ": " << reply;
    return {reply};
  }
  Lines lines = RawBlock(client);
  lines.pop_back();
  return lines;
}

class SysConfigE2E : public ::testing::Test {
 protected:
  void Start(const std::string& sections) {
    OdbcTestEnv::Get();
    TVelquarnProcessOptions options = VelquarnOptions();
    options.sections = sections;
    server_ = std::make_unique<TVelquarnProcess>(options);
  }
  TVelquarnClient Connect() { return ConnectGreeted(*server_, 5000); }
  std::unique_ptr<TVelquarnProcess> server_;
};

TEST_F(SysConfigE2E, MissingAndUnknownOperands) {
  Start("");
  TVelquarnClient client = Connect();
  client.SendLine("sys");
  EXPECT_EQ(client.ReadLine(), "581 Required operand on SYS command missing");
  client.SendLine("sys   ");
  EXPECT_EQ(client.ReadLine(), "581 Required operand on SYS command missing");
  client.SendLine("sys foo");
  EXPECT_EQ(client.ReadLine(), "582 Unknown operand on SYS command");
  client.SendLine("sys getconfigx");
  EXPECT_EQ(client.ReadLine(), "582 Unknown operand on SYS command");
  client.SendLine("test");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
}

TEST_F(SysConfigE2E, GetConfigSendsEveryLineOfTheFileDotStuffed) {
  Start("; a comment\n[CustomData]\n.starts=with a dot\n..two\n");
  TVelquarnClient client = Connect();
  client.SendLine("sys GETCONFIG");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  const Lines raw = RawBlock(client);
  std::istringstream file(ReadFileText(server_->ConfigPath()));
  Lines expected;
  for (std::string line; std::getline(file, line);) {
    expected.push_back(!line.empty() && line[0] == '.' ? "." + line : line);
  }
  expected.push_back(".");
  EXPECT_EQ(raw, expected);
  EXPECT_NE(std::find(raw.begin(), raw.end(), "..starts=with a dot"), raw.end());
  EXPECT_NE(std::find(raw.begin(), raw.end(), "...two"), raw.end());
}

TEST_F(SysConfigE2E, SetConfigReplacesTheFileAndGetConfigReturnsIt) {
  Start("[lite]\nDSN=x\n");
  TVelquarnClient client = Connect();
  client.SendRaw("sys setconfig\r\n" + CountedLines(2, "[Settings]\r\n.dot=1\n"));
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(ReadFileText(server_->ConfigPath()), "[Settings]\r\n.dot=1\r\n");
  EXPECT_EQ(List(client, "sys getconfig"), (Lines{"[Settings]", "..dot=1"}));
  // Nothing of the replaced file is left beside it.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(server_->Folder())) {
    if (entry.path().filename().string().find("velquarn.ini") != std::string::npos) ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(SysConfigE2E, SetConfigWithNoLinesEmptiesTheFile) {
  Start("");
  TVelquarnClient client = Connect();
  client.SendRaw("sys setconfig\r\n" + CountedLines(0, ""));
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  client.SendRaw("sys setconfig\r\n" + CountedLines(-5, ""));
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(ReadFileText(server_->ConfigPath()), "");
  client.SendLine("sys getconfig");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadLine(), ".");
  client.SendLine("test");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
}

TEST_F(SysConfigE2E, GetConfigOfAMissingFileIs500WithoutBlock) {
  Start("");
  std::filesystem::remove(server_->ConfigPath());
  TVelquarnClient client = Connect();
  const TClientReply reply = client.Command("sys getconfig");
  EXPECT_EQ(reply.Code, 500);
  EXPECT_NE(reply.Text().find("velquarn.ini"), std::string::npos) << reply.Text();
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_F(SysConfigE2E, CustomDataListsKeysInFileOrder) {
  Start("[CustomData]\nZone=north\nTitle=\"Two words\"\nEmpty=\n");
  TVelquarnClient client = Connect();
  EXPECT_EQ(List(client, "sys customdata"), (Lines{"Zone=north", "Title=Two words", "Empty="}));
}

TEST_F(SysConfigE2E, CustomDataWithoutTheSectionIsAnEmptyBlock) {
  Start("[lite]\nDSN=x\n");
  TVelquarnClient client = Connect();
  client.SendLine("sys customdata");
  EXPECT_EQ(client.ReadBytes(11), "200 Ok\r\n.\r\n");
  std::filesystem::remove(server_->ConfigPath());
  client.SendLine("sys customdata");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  EXPECT_EQ(client.ReadLine(), ".");
}

TEST_F(SysConfigE2E, DataSourceNamesAreTheDatabaseSections) {
  // Only the first section of each reserved name is left out.
  Start("[sales]\nDSN=a\n[CUSTOMDATA]\nx=1\n[stock]\nDSN=b\n[settings]\nIPV6=0\n");
  TVelquarnClient client = Connect();
  EXPECT_EQ(List(client, "sys datasourcenames"), (Lines{"sales", "stock", "settings"}));
}

TEST_F(SysConfigE2E, DataSourceNamesWithoutSectionsNeedAnOpenDatabase) {
  Start("[CustomData]\nx=1\n");
  TVelquarnClient client = Connect();
  TClientReply reply = client.Command("sys datasourcenames");
  EXPECT_EQ(reply.Code, 500);
  EXPECT_EQ(reply.Text(), "No database open");
  // A database opened by data source name has no "Server" parameter.
  reply = client.Command(std::string("open ") + OdbcTestEnv::kSqliteDsn);
  ASSERT_EQ(reply.Code, 200) << reply.Text();
  client.SendLine("sys datasourcenames");
  EXPECT_EQ(client.ReadLine(), "500 No server name specified");
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_F(SysConfigE2E, DataSourceNamesFallBackToTheDriverManagersList) {
  // The running service keeps the section it loaded at start, so after the
  // file lost its database sections the fallback asks the driver manager.
  const std::string file = OdbcTestEnv::Get().NewSqliteFile("sys_dsn.db");
  Start("[srv]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
        "\nDriverParams=Database=" + file + ",Server=here\n");
  TVelquarnClient client = Connect();
  ASSERT_EQ(client.Command("open srv").Code, 200);
  client.SendRaw("sys setconfig\r\n" + CountedLines(1, "[Settings]\r\n"));
  ASSERT_EQ(client.ReadLine(), "200 Ok");
  client.SendLine("sys datasourcenames");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  const Lines names = RawBlock(client);
  EXPECT_NE(std::find(names.begin(), names.end(), OdbcTestEnv::kSqliteDsn), names.end());
}

class SysCatalogE2E : public BackendE2E {};

TEST_P(SysCatalogE2E, CatalogOperandsNeedAnOpenDatabase) {
  TVelquarnClient client = Connect();
  for (const char* line : {"sys databasenames", "sys tablenames", "sys indexnames t",
                           "sys indexfields t;i", "sys defaultindexfields t"}) {
    const TClientReply reply = client.Command(line);
    EXPECT_EQ(reply.Code, 500) << line;
    EXPECT_EQ(reply.Text(), "No database open") << line;
  }
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_P(SysCatalogE2E, MissingTableOrIndexNamesAre582) {
  TVelquarnClient client = Open();
  const std::pair<const char*, const char*> cases[] = {
      {"sys indexnames", "582 Required table name on SYS command missing"},
      {"sys defaultindexfields", "582 Required table name on SYS command missing"},
      {"sys indexfields", "582 Required index name on SYS command missing"},
      {"sys indexfields orders", "582 Required index name on SYS command missing"},
  };
  for (const auto& [line, expected] : cases) {
    client.SendLine(line);
    EXPECT_EQ(client.ReadLine(), expected) << line;
  }
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_P(SysCatalogE2E, TableNamesWithAndWithoutSchemaAndPattern) {
  TVelquarnClient client = Open();
  const std::string orders = Table(client, "orders");
  const std::string items = Table(client, "items");
  const std::string dotted = Table(client, "a.b");
  Exec(client, "create table " + orders + " (id int)");
  Exec(client, "create table " + items + " (id int)");
  Exec(client, "create table " + Quoted(dotted) + " (id int)");
  // The schema is a pattern. Without one every table is listed: PostgreSQL
  // qualifies each with its schema, SQLite has no schemas.
  const std::string schema = IsPostgres() ? "public" : "%";
  Lines names = List(client, "sys tablenames");
  const std::string listed = IsPostgres() ? "public." + orders : orders;
  EXPECT_EQ(std::count(names.begin(), names.end(), listed), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), IsPostgres() ? "public." + items : items), 1);
  names = List(client, "sys tablenames " + schema);
  // A dotted name comes in the driver's identifier quote.
  for (const std::string& expected : {orders, items, Quoted(dotted)}) {
    EXPECT_EQ(std::count(names.begin(), names.end(), expected), 1) << expected;
  }
  names = List(client, "sys tablenames " + schema + " " + orders.substr(0, 5) + "%");
  EXPECT_EQ(std::count(names.begin(), names.end(), orders), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), items), 0);
}

TEST_P(SysCatalogE2E, TablesOfOtherSchemasComeQualified) {
  if (!IsPostgres()) GTEST_SKIP() << "SQLite has no schemas";
  TVelquarnClient client = Open();
  const std::string table = Table(client, "ledger");
  const std::string schema = "vq" + table;
  client.Command("execsql2 drop schema " + schema + " cascade");
  Exec(client, "create schema " + schema);
  Exec(client, "create table " + schema + "." + table + " (id int)");
  // The schema argument is a pattern, so rows of the matching schema differ
  // from the requested text and come back qualified.
  EXPECT_EQ(List(client, "sys tablenames " + schema.substr(0, schema.size() - 1) + "% %"),
            (Lines{schema + "." + table}));
  EXPECT_EQ(List(client, "sys tablenames " + schema), (Lines{table}));
  Exec(client, "drop schema " + schema + " cascade");
}

TEST_P(SysCatalogE2E, DatabaseNamesListTheSchemas) {
  TVelquarnClient client = Open();
  const Lines names = List(client, "sys databasenames");
  if (IsPostgres()) {
    EXPECT_EQ(std::count(names.begin(), names.end(), "public"), 1);
  }
}

TEST_P(SysCatalogE2E, IndexNamesAndFieldsWithTheDescendingMarker) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "orders");
  const std::string ab = "ix_" + table + "_ab";
  const std::string bc = "ix_" + table + "_bc";
  Exec(client, "create table " + table + " (a int not null, b int, c int, primary key (a))");
  Exec(client, "create index " + ab + " on " + table + " (a asc, b desc)");
  Exec(client, "create index " + bc + " on " + table + " (b desc, c asc)");

  const Lines names = List(client, "sys indexnames " + table);
  EXPECT_EQ(std::count(names.begin(), names.end(), ab), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), bc), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), ""), 0);

  // The SQLite driver reports every index column as ascending.
  const std::string marked = IsServer() ? "b DESC" : "b";
  EXPECT_EQ(List(client, "sys indexfields " + table + ";" + ab), (Lines{"a", marked}));
  // Only the last field is ever marked.
  EXPECT_EQ(List(client, "sys indexfields " + table + ";" + bc), (Lines{"b", "c"}));
  // The index name compares with case; an empty one matches nothing.
  EXPECT_EQ(List(client, "sys indexfields " + table + ";" + UpperCase(ab)), Lines{});
  EXPECT_EQ(List(client, "sys indexfields " + table + ";"), Lines{});
}

TEST_P(SysCatalogE2E, DefaultIndexFieldsOfATableWithAPrimaryKey) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "keyed");
  Exec(client, "create table " + table +
                   " (k1 int not null, k2 int not null, v int, primary key (k1, k2))");
  // The PostgreSQL driver answers the best-row-id request for the current
  // row with no rows at all.
  EXPECT_EQ(List(client, "sys defaultindexfields " + table),
            IsPostgres() ? Lines{} : (Lines{"k1", "k2"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, SysCatalogE2E, AllBackends(), BackendName);

}  // namespace
}  // namespace velquarn::testing
