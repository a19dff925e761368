#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "client/velquarn_client.h"
#include "e2e/e2e_options.h"
#include "support/file_text.h"
#include "support/local_http_server.h"
#include "support/odbc_test_env.h"
#include "support/velquarn_process.h"

namespace velquarn::testing {
namespace {

// A packed DOS date-time: year-1980, month, day, hour, minute, seconds / 2.
int32_t DosDate(int year, int month, int day, int hour = 12) {
  const uint32_t packed = static_cast<uint32_t>(year - 1980) << 25 |
                          static_cast<uint32_t>(month) << 21 | static_cast<uint32_t>(day) << 16 |
                          static_cast<uint32_t>(hour) << 11;
  return static_cast<int32_t>(packed);
}

const std::string kRejected599 =
    "599 Felaktig klientversion av modulen \"ordermod\". Kontakta IT-avdelningen f\xF6r hj\xE4lp.";

class OpenE2E : public ::testing::Test {
 protected:
  void Start(const std::string& settings = "") {
    OdbcTestEnv& env = OdbcTestEnv::Get();
    TVelquarnProcessOptions options = VelquarnOptions();
    options.settings = settings;
    const std::string file = env.NewSqliteFile("open_" + std::to_string(::getpid()) + ".db");
    std::remove(file.c_str());
    const std::string driver = "DSN=\nDriverName=" + std::string(OdbcTestEnv::kSqliteDriver) +
                               "\nDriverParams=Database=" + file + "\n";
    options.sections = "[lite]\n" + driver + "[litecp]\n" + driver + "Charset=CP1252\n";
    server_ = std::make_unique<TVelquarnProcess>(options);
  }

  TVelquarnClient Connect() { return ConnectGreeted(*server_, 20000); }

  std::unique_ptr<TVelquarnProcess> server_;
};

// "503 ''<name><digits>'' is not a valid component name"
void ExpectInvalidName(const std::string& reply, const std::string& open_name) {
  const std::string head = "503 ''" + open_name;
  const std::string tail = "'' is not a valid component name";
  ASSERT_EQ(reply.rfind(head, 0), 0u) << reply;
  ASSERT_GT(reply.size(), head.size() + tail.size()) << reply;
  ASSERT_EQ(reply.substr(reply.size() - tail.size()), tail) << reply;
  const std::string digits = reply.substr(head.size(), reply.size() - head.size() - tail.size());
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << reply;
}

TEST_F(OpenE2E, NamesThatAreNoIdentifiersAreRefusedOnTheFirstOpen) {
  Start();
  TVelquarnClient client = Connect();
  ExpectInvalidName(ReplyLine(client, "open"), "");
  ExpectInvalidName(ReplyLine(client, "open my-dsn"), "my-dsn");
  ExpectInvalidName(ReplyLine(client, "open 1abc"), "1abc");
  EXPECT_EQ(ReplyLine(client, "open lite"), "200 Ok");
  EXPECT_EQ(client.Command("sql select 1 as one").Code, 200);
}

TEST_F(OpenE2E, EachParameterFormOpens) {
  Start();
  TVelquarnClient client = Connect();
  EXPECT_EQ(ReplyLine(client, "open lite"), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "open lite bob"), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "open lite bob secret"), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "open lite !ordermod !0"), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "open lite u p !ordermod"), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "open lite u p !ordermod !12345 ignored"), "200 Ok");
  EXPECT_EQ(client.Command("sql select 2 as two").Code, 200);
  EXPECT_EQ(ReplyLine(client, "get"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(), std::string("2\0", 2));
}

TEST_F(OpenE2E, DataSourceNamesWithoutSectionOpenLazily) {
  Start();
  TVelquarnClient client = Connect();
  EXPECT_EQ(ReplyLine(client, std::string("open ") + OdbcTestEnv::kSqliteDsn), "200 Ok");
  EXPECT_EQ(client.Command("sql select 3 as three").Code, 200);
  EXPECT_EQ(ReplyLine(client, "get"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(), std::string("3\0", 2));

  // A data source that does not exist shows up at the first statement.
  TVelquarnClient other = Connect();
  EXPECT_EQ(ReplyLine(other, "open NoSuchDsn"), "200 Ok");
  EXPECT_EQ(ReplyLine(other, "sql select 1").rfind("512 [Velquarn.sql]:", 0), 0u);
  EXPECT_EQ(ReplyLine(other, "test"), "200 Ok");
}

TEST_F(OpenE2E, CharsetKeyChoosesTheDriverEncoding) {
  Start();
  TVelquarnClient utf8 = Connect();
  TVelquarnClient raw = Connect();
  ASSERT_EQ(ReplyLine(utf8, "open lite"), "200 Ok");
  ASSERT_EQ(ReplyLine(raw, "open litecp"), "200 Ok");
  ASSERT_EQ(ReplyLine(utf8, "execsql2 create table cs (k integer, s varchar(10))"), "200 0");
  ASSERT_EQ(ReplyLine(utf8, "execsql2 insert into cs values(1, '\xE5')"), "200 1");
  ASSERT_EQ(ReplyLine(raw, "execsql2 insert into cs values(2, '\xE5')"), "200 1");
  // The UTF-8 section stored two bytes, the CP1252 section one.
  ASSERT_EQ(raw.Command("sql select length(cast(s as blob)) from cs order by k").Code, 200);
  EXPECT_EQ(ReplyLine(raw, "get 2"), "200 OK");
  EXPECT_EQ(raw.ReadCountedBlock(), std::string("2\0"
                                                "1\0",
                                                4));
  ASSERT_EQ(utf8.Command("sql select s from cs where k = 1").Code, 200);
  EXPECT_EQ(ReplyLine(utf8, "get"), "200 OK");
  EXPECT_EQ(utf8.ReadCountedBlock(), std::string("\"\xE5\"\0", 4));
}

TEST_F(OpenE2E, QuitClosesWithoutReply) {
  Start();
  TVelquarnClient client = Connect();
  EXPECT_EQ(ReplyLine(client, "open lite"), "200 Ok");
  client.SendLine("quit");
  EXPECT_TRUE(client.WaitForClose(5000));
}

TEST_F(OpenE2E, ModulesOutsideTheVersionListAreRefusedWith599) {
  TLocalHttpServer http;
  const int32_t listed = DosDate(2024, 5, 10);
  http.SetReply(200, "OK", "othermod;" + std::to_string(listed) + "\r\n\"order mod\";1\r\n");
  Start("UpdateURL=" + http.Url("/versions.txt") + "\nMaxDateDiff=3\n");
  TVelquarnClient client = Connect();
  // The refusal text is code page 1252 and travels byte for byte.
  EXPECT_EQ(ReplyLine(client, "open lite !ordermod !" + std::to_string(listed)), kRejected599);
  EXPECT_EQ(ReplyLine(client, "get"), "521 No query active");
  EXPECT_EQ(ReplyLine(client, "open lite !othermod !" + std::to_string(listed)), "200 Ok");
  // Without a module parameter there is nothing to check.
  EXPECT_EQ(ReplyLine(client, "open lite"), "200 Ok");
}

TEST_F(OpenE2E, ModuleDatesOneDayInsideAndOutsideMaxDateDiff) {
  TLocalHttpServer http;
  http.SetReply(200, "OK", "ordermod;" + std::to_string(DosDate(2024, 5, 10)) + "\n");
  Start("UpdateURL=" + http.Url() + "\nMaxDateDiff=3\n");
  TVelquarnClient client = Connect();
  EXPECT_EQ(ReplyLine(client, "open lite !ordermod !" + std::to_string(DosDate(2024, 5, 13))),
            "200 Ok");
  EXPECT_EQ(ReplyLine(client, "open lite !ordermod !" + std::to_string(DosDate(2024, 5, 7))),
            "200 Ok");
  EXPECT_EQ(ReplyLine(client, "open lite !ordermod !" + std::to_string(DosDate(2024, 5, 14))),
            kRejected599);
  EXPECT_EQ(ReplyLine(client, "open lite !ordermod !" + std::to_string(DosDate(2024, 5, 6))),
            kRejected599);
  EXPECT_EQ(ReplyLine(client, "open lite u p !ORDERMOD !" + std::to_string(DosDate(2024, 5, 10))),
            "200 Ok");
}

TEST_F(OpenE2E, AnHttpErrorIsLoggedAndEveryClientIsAccepted) {
  TLocalHttpServer http;
  http.SetReply(404, "Not Found", "gone");
  Start("UpdateURL=" + http.Url("/missing") + "\n");
  TVelquarnClient client = Connect();
  EXPECT_EQ(ReplyLine(client, "open lite !ordermod !0"), "200 Ok");
  EXPECT_EQ(ReplyLine(client, "open lite !anything !12345"), "200 Ok");
  std::filesystem::path log = server_->ConfigPath();
  log.replace_extension(".log");
  const std::string text = ReadFileText(log);
  EXPECT_NE(text.find("404"), std::string::npos) << text;
}

}  // namespace
}  // namespace velquarn::testing
