#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "client/velquarn_client.h"
#include "e2e/backend_e2e_fixture.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {
namespace {

using Lines = std::vector<std::string>;

class UploadE2E : public BackendE2E {
 protected:
  // Sends the records and the closing "." one at a time, as a client that
  // waits for each acknowledgement does; expects an empty line for each.
  void Upload(TVelquarnClient& client, const Lines& records) {
    for (const std::string& record : records) {
      client.SendLine(record);
      EXPECT_EQ(client.ReadLine(), "") << record;
    }
    client.SendLine(".");
    EXPECT_EQ(client.ReadLine(), "200 OK");
  }

  // The stored records in the row format, trailing blanks of the char
  // column removed, sorted here so that no database collation matters.
  Lines Stored(TVelquarnClient& client, const std::string& table) {
    const std::string rows = Rows(client, "select rtrim(DATA) from " + table);
    Lines records;
    size_t start = 0;
    for (size_t end = rows.find('\0'); end != std::string::npos; end = rows.find('\0', start)) {
      records.push_back(rows.substr(start, end - start));
      start = end + 1;
    }
    std::sort(records.begin(), records.end());
    return records;
  }
};

TEST_P(UploadE2E, MissingParametersAnd591And592) {
  TVelquarnClient client = Open();
  client.SendLine("sndf");
  EXPECT_EQ(client.ReadLine(), "591 File name parameter is missing");
  client.SendLine("sndf T");
  EXPECT_EQ(client.ReadLine(), "592 Recordsize or separator character is required parameter");
  client.SendLine("crtf");
  EXPECT_EQ(client.ReadLine(), "591 File name parameter is missing");
  client.SendLine("crtf T");
  EXPECT_EQ(client.ReadLine(), "592 Recordsize or separator character is required parameter");
}

TEST_P(UploadE2E, SeparatorFormDoesNothing) {
  TVelquarnClient client = Open();
  // No record line is read: the next line is a command again.
  client.SendLine("sndf T #9");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  client.SendLine("crtf T #,");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  client.SendLine("test");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
}

TEST_P(UploadE2E, SndfReplacesAndCrtfAppends) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "upl");
  client.SendLine("sndf " + table + " 20");
  Upload(client, {"a", "it's"});
  EXPECT_EQ(Stored(client, table), (Lines{"\"a\"", "\"it's\""}));

  client.SendLine("sndf " + table + " 20");
  Upload(client, {"b"});
  EXPECT_EQ(Stored(client, table), (Lines{"\"b\""}));

  client.SendLine("crtf " + table + " 20");
  Upload(client, {"c", "it's"});
  EXPECT_EQ(Stored(client, table), (Lines{"\"b\"", "\"c\"", "\"it's\""}));
}

TEST_P(UploadE2E, RecordsAreStoredExactly) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "uplx");
  // Backslashes, doubled colons, markers and every quote character survive:
  // the record never becomes part of the statement text. Code page 1252
  // letters come back as the same bytes.
  const Lines records = {"C:\\temp\\new", "a::b :name",   "\"x\" 'y' `z`",
                         "..two dots",    "back\\'slash", "r\xE4ksm\xF6rg\xE5s"};
  client.SendLine("sndf " + table + " 40");
  Upload(client, records);
  EXPECT_EQ(Stored(client, table),
            (Lines{"\"\"\"x\"\" 'y' `z`\"", "\"..two dots\"", "\"C:\\temp\\new\"", "\"a::b :name\"",
                   "\"back\\'slash\"", "\"r\xE4ksm\xF6rg\xE5s\""}));
}

TEST_P(UploadE2E, RejectedRecordAnswers500AndLaterLinesAreCommands) {
  TVelquarnClient client = Open();
  const std::string table = Table(client, "uplr");
  // SQLite does not enforce the length of char(n); a check does.
  Exec(client, "create table " + table + " (DATA char(5) check (length(DATA) <= 5))");
  client.SendLine("crtf " + table + " 5");
  client.SendLine("ok");
  EXPECT_EQ(client.ReadLine(), "");
  client.SendLine("much too long");
  const TClientReply reply = client.ReadReply();
  EXPECT_EQ(reply.Code, 500);
  EXPECT_FALSE(reply.Text().empty());
  // The client's next record is read as a command line.
  client.SendLine("test");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  client.SendLine(".");
  EXPECT_EQ(client.ReadLine(), "400-unknown command");
  EXPECT_EQ(client.ReadLine(), "400 .");
  EXPECT_EQ(Stored(client, table), (Lines{"\"ok\""}));
}

TEST_P(UploadE2E, UploadBeforeOpenFails) {
  TVelquarnClient client = Connect();
  client.SendLine("sndf T 20");
  EXPECT_EQ(client.ReadLine(), "500 No database open");
  // crtf reads its first record before it sets up the insert.
  client.SendLine("crtf T 20");
  client.SendLine("record");
  EXPECT_EQ(client.ReadLine(), "500 No database open");
  EXPECT_EQ(client.Command("test").Code, 200);
}

TEST_P(UploadE2E, AddrecAnswersOk) {
  TVelquarnClient client = Connect();
  client.SendLine("addrec anything at all");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
  client.SendLine("addrec");
  EXPECT_EQ(client.ReadLine(), "200 Ok");
}

INSTANTIATE_TEST_SUITE_P(Backends, UploadE2E, AllBackends(), BackendName);

// PostgreSQL with standard_conforming_strings off, and MariaDB in its
// default sql_mode, read a backslash in a literal as an escape; MariaDB with
// NO_BACKSLASH_ESCAPES does not. Records travel as parameters, so they are
// stored as sent in every mode.
class UploadNonStandardStringsE2E : public UploadE2E {
 protected:
  std::string ExtraSections() const override {
    std::string sections;
    if (PostgresAvailable()) {
      sections += "[pgoff]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kPostgresDriver) +
                  "\nDriverParams=Servername=" + PostgresSetting("HOST") +
                  ",Port=" + PostgresSetting("PORT") + ",Database=" + PostgresSetting("DATABASE") +
                  ",ConnSettings=SET standard_conforming_strings=off\n";
    }
    if (MariaDbAvailable()) {
      // The driver runs InitStmt on every new connection of the section.
      sections += "[mynbe]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kMariaDbDriver) +
                  "\nDriverParams=Server=" + MariaDbSetting("HOST") +
                  ",Port=" + MariaDbSetting("PORT") + ",Database=" + MariaDbSetting("DATABASE") +
                  ",InitStmt=SET SESSION sql_mode=NO_BACKSLASH_ESCAPES\n";
    }
    return sections;
  }

  // Opens the section and checks that its mode is in force.
  void OpenSection(TVelquarnClient& client, const std::string& section, const std::string& show,
                   const std::string& expected) {
    ASSERT_EQ(client.Command("open " + section + " " + ServerCredentials()).Code, 200);
    ASSERT_EQ(client.Command("sql " + show).Code, 200);
    ASSERT_EQ(client.Command("get 1").Code, 200);
    ASSERT_EQ(client.ReadCountedBlock(), RowsOf({expected}));
  }

  void UploadAndCheck(TVelquarnClient& client) {
    const std::string table = Table(client, "uploff");
    const Lines records = {"C:\\temp\\new", "x\\');drop table " + table + ";--", "it's",
                           "back\\'slash", "100% _x_"};
    client.SendLine("sndf " + table + " 40");
    Upload(client, records);
    client.SendLine("crtf " + table + " 40");
    Upload(client, {"\\", "'", "\\'", "%"});
    EXPECT_EQ(Stored(client, table),
              (Lines{"\"%\"", "\"'\"", "\"100% _x_\"", "\"C:\\temp\\new\"", "\"\\\"", "\"\\'\"",
                     "\"back\\'slash\"", "\"it's\"", "\"x\\');drop table " + table + ";--\""}));
  }
};

TEST_P(UploadNonStandardStringsE2E, BackslashesAndQuotesAreStoredAsSent) {
  TVelquarnClient client = Connect();
  if (IsPostgres()) {
    OpenSection(client, "pgoff", "show standard_conforming_strings", "\"off\"");
  } else {
    OpenSection(client, "mynbe", "select @@session.sql_mode", "\"NO_BACKSLASH_ESCAPES\"");
  }
  UploadAndCheck(client);
}

TEST_P(UploadNonStandardStringsE2E, BackslashesAndQuotesAreStoredAsSentInTheDefaultMode) {
  if (!IsMariaDb()) GTEST_SKIP() << "MariaDB only";
  TVelquarnClient client = Open();
  ASSERT_EQ(client.Command("sql select instr(@@session.sql_mode, 'NO_BACKSLASH_ESCAPES')").Code,
            200);
  ASSERT_EQ(client.Command("get 1").Code, 200);
  ASSERT_EQ(client.ReadCountedBlock(), RowsOf({"0"}));
  UploadAndCheck(client);
}

INSTANTIATE_TEST_SUITE_P(Backends, UploadNonStandardStringsE2E,
                         ::testing::Values(TBackend::kPostgres, TBackend::kMariaDb), BackendName);

}  // namespace
}  // namespace velquarn::testing
