// A fixture for end-to-end tests that run the same cases against each real
// database: the binary is started for every test with a fresh SQLite file
// behind the configuration section "lite" and, when the private PostgreSQL
// cluster or MariaDB server runs, their data sources of the test ODBC setup.
// The cases of a server are skipped when it is not available.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/velquarn_client.h"
#include "common/text.h"
#include "e2e/e2e_options.h"
#include "support/backend.h"
#include "support/odbc_test_env.h"

namespace velquarn::testing {

class BackendE2E : public ::testing::TestWithParam<TBackend> {
 protected:
  void SetUp() override {
    OdbcTestEnv& env = OdbcTestEnv::Get();
    const std::string unavailable = BackendUnavailable(GetParam());
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    TVelquarnProcessOptions options = VelquarnOptions();
    sqlite_file_ = env.NewSqliteFile(UniqueName("lite") + ".db");
    options.sections = "[lite]\nDSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                       "\nDriverParams=Database=" + sqlite_file_ + "\n" + ExtraSections();
    options.settings = ExtraSettings();
    server_options_ = options;
    server_ = std::make_unique<TVelquarnProcess>(options);
  }

  void TearDown() override {
    if (IsServer() && server_ != nullptr) {
      try {
        TVelquarnClient client = Open();
        for (const std::string& table : tables_) {
          client.Command("execsql2 drop table " + Quoted(table));
        }
      } catch (const std::exception&) {
      }
    }
  }

  // Further configuration for a test: lines of [Settings], other sections.
  virtual std::string ExtraSettings() const { return ""; }
  virtual std::string ExtraSections() const { return ""; }

  bool IsPostgres() const { return GetParam() == TBackend::kPostgres; }
  bool IsMariaDb() const { return GetParam() == TBackend::kMariaDb; }
  // A database server shared by the test programs (not a file of the test).
  bool IsServer() const { return IsPostgres() || IsMariaDb(); }

  // An identifier in the back end's quotes.
  std::string Quoted(const std::string& name) const { return QuoteName(GetParam(), name); }

  // The data source of a server back end and its credentials.
  std::string ServerDsn() const {
    return IsMariaDb() ? OdbcTestEnv::kMariaDbDsn : OdbcTestEnv::kPostgresDsn;
  }
  std::string ServerCredentials() const {
    return IsMariaDb() ? MariaDbSetting("USER") + " " + MariaDbSetting("PASSWORD")
                       : PostgresSetting("USER") + " " + PostgresSetting("PASSWORD");
  }

  // A connected client that has read the greeting.
  TVelquarnClient Connect() { return ConnectGreeted(*server_, 5000); }

  std::string OpenLine() const {
    if (!IsServer()) return "open lite";
    return "open " + ServerDsn() + " " + ServerCredentials();
  }

  // A connected client whose database is open.
  TVelquarnClient Open() {
    TVelquarnClient client = Connect();
    const TClientReply reply = client.Command(OpenLine());
    EXPECT_EQ(reply.Code, 200) << reply.Text();
    return client;
  }

  // A table name of this test, unique on the shared server database; it is
  // dropped first if left over, and again when the test ends.
  std::string Table(TVelquarnClient& client, const std::string& base) {
    std::string name = IsServer() ? UniqueName(base) : base;
    client.Command("execsql2 drop table " + Quoted(name));
    tables_.push_back(name);
    return name;
  }

  // Runs a statement without a result on the main connection; expects 200.
  void Exec(TVelquarnClient& client, const std::string& statement) {
    const TClientReply reply = client.Command("execsql2 " + statement);
    ASSERT_EQ(reply.Code, 200) << statement << ": " << reply.Text();
  }

  // The rows of a query in the row format of 'get': values separated by
  // commas, strings in double quotes, each row ended by a zero byte. Empty
  // when the result has no rows.
  std::string Rows(TVelquarnClient& client, const std::string& select) {
    const TClientReply opened = client.Command("sql " + select);
    EXPECT_EQ(opened.Code, 200) << select << ": " << opened.Text();
    const TClientReply got = client.Command("get 1000");
    if (got.Code != 200) return "";
    return client.ReadCountedBlock();
  }

  // One row per string, for the expectations of Rows.
  static std::string RowsOf(const std::vector<std::string>& rows) {
    std::string text;
    for (const std::string& row : rows) {
      text += row;
      text += '\0';
    }
    return text;
  }

  std::unique_ptr<TVelquarnProcess> server_;
  // What server_ was started with, for a second server beside it.
  TVelquarnProcessOptions server_options_;
  std::string sqlite_file_;

 private:
  static std::string UniqueName(const std::string& base) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info != nullptr ? info->name() : "t";
    std::string suffix;
    for (char c : test) {
      if (std::isalnum(static_cast<unsigned char>(c))) suffix += c;
    }
    return LowerCase(base + "_" + std::to_string(getpid()) + "_" +
                     std::to_string(std::hash<std::string>{}(suffix) % 100000));
  }

  std::vector<std::string> tables_;
};

}  // namespace velquarn::testing
