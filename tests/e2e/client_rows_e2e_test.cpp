// Round trips of every column type through the server and the client
// library's decoders: what a client reads with `get` and with `getJSON` is
// what was stored, on SQLite, PostgreSQL and MariaDB.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/client_value.h"
#include "client/result_reader.h"
#include "common/text.h"
#include "e2e/backend_e2e_fixture.h"

namespace velquarn::testing {
namespace {

using namespace std::string_literals;

class ClientRowsE2E : public BackendE2E {
 protected:
  std::string DoubleType() const { return IsPostgres() ? "double precision" : "double"; }
  std::string BinaryType() const { return IsPostgres() ? "bytea" : "varbinary(6)"; }
  std::string BlobType() const {
    return IsPostgres() ? "bytea" : IsMariaDb() ? "blob" : "longvarbinary";
  }
  // MariaDB's timestamp is a 1970-2038 instant that the server may fill in
  // by itself; its datetime is the plain date and time.
  std::string StampType() const { return IsMariaDb() ? "datetime" : "timestamp"; }
  std::string BlobLiteral(const std::string& hex) const {
    return IsPostgres() ? "decode('" + hex + "', 'hex')" : "X'" + hex + "'";
  }
  std::string Bool(bool value) const {
    return IsPostgres() ? (value ? "true" : "false") : (value ? "1" : "0");
  }
};

std::string Describe(const TClientRow& row) {
  std::string text;
  for (const TClientValue& value : row) {
    text += "[" + std::to_string(static_cast<int>(value.Kind)) + ":" + value.ToString() + "]";
  }
  return text;
}

TClientValue Date(int y, int m, int d) {
  return TClientValue::OfTime(TValueKind::kDate, {y, m, d});
}
TClientValue Time(int h, int mi, int s) {
  return TClientValue::OfTime(TValueKind::kTime, {0, 0, 0, h, mi, s});
}
TClientValue Stamp(int y, int m, int d, int h, int mi, int s) {
  return TClientValue::OfTime(TValueKind::kDateTime, {y, m, d, h, mi, s});
}

TEST_P(ClientRowsE2E, EveryFieldTypeRoundTripsThroughGetAndGetJson) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "types");
  Exec(client, "create table " + t +
                   " (k integer, i integer, sm smallint, bi bigint, s varchar(30), f " +
                   DoubleType() + ", b boolean, d date, tm time, ts " + StampType() + ", bin " +
                   BinaryType() + ", bl " + BlobType() + ", m text)");
  Exec(client, "insert into " + t + " values(1, -7, 12, 9007199254740993, 'say \"hi\", ok', 0.5, " +
                   Bool(true) + ", '2024-02-29', '13:04:05', '1999-12-31 23:59:58', " +
                   BlobLiteral("00FF2C220041") + ", " + BlobLiteral("00FF2C0A") +
                   ", 'memo, \"x\"')");
  Exec(client, "insert into " + t +
                   " values(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                   "NULL)");
  Exec(client, "insert into " + t + " values(3, 0, -32768, -1, '', -2.5E-5, " + Bool(false) +
                   ", '1970-01-01', '00:00:00', '2000-03-01 00:00:00', " +
                   BlobLiteral("FFFFFFFFFFFF") + ", " + BlobLiteral("") + ", '')");
  const std::string select =
      "select i, sm, bi, s, f, b, d, tm, ts, bin, bl, m from " + t + " order by k";

  const TStatementResult result = RunSql(client, select);
  ASSERT_TRUE(result.HasResultSet) << result.Reply.Text();
  ASSERT_EQ(result.Columns.size(), 12u);
  std::string types;
  for (const TColumnDef& column : result.Columns) types += column.DataType + " ";

  std::vector<TClientRow> rows;
  for (;;) {
    // Small pages: the row split must hold across `get` boundaries too.
    TFetchResult page = FetchRows(client, result.Columns, 2);
    ASSERT_TRUE(page.Reply.Code == 200 || page.Reply.Code == 522) << page.Reply.Text();
    rows.insert(rows.end(), page.Rows.begin(), page.Rows.end());
    if (page.AtEnd) break;
  }
  ASSERT_EQ(rows.size(), 3u) << types;
  const std::vector<TClientRow> json_rows = ReadJsonRows(client, result.Columns);
  ASSERT_EQ(json_rows.size(), 3u);

  // Text columns may be reported as memos (hex in `get`) by a driver; both
  // read back as text. Byte columns read back as bytes whichever way they
  // travel.
  const TClientValue bin1 = TClientValue::OfBytes("\x00\xFF,\"\x00\x41"s);
  const TClientValue bin3 = TClientValue::OfBytes("\xFF\xFF\xFF\xFF\xFF\xFF"s);
  const TClientRow expected1 = {TClientValue::OfInteger(-7),
                                TClientValue::OfInteger(12),
                                TClientValue::OfInteger(9007199254740993),
                                TClientValue::OfText("say \"hi\", ok"),
                                TClientValue::OfFloat(0.5),
                                TClientValue::OfBoolean(true),
                                Date(2024, 2, 29),
                                Time(13, 4, 5),
                                Stamp(1999, 12, 31, 23, 59, 58),
                                bin1,
                                TClientValue::OfBytes("\x00\xFF,\n"s),
                                TClientValue::OfText("memo, \"x\"")};
  const TClientRow expected3 = {TClientValue::OfInteger(0),
                                TClientValue::OfInteger(-32768),
                                TClientValue::OfInteger(-1),
                                TClientValue::OfText(""),
                                TClientValue::OfFloat(-2.5e-5),
                                TClientValue::OfBoolean(false),
                                Date(1970, 1, 1),
                                Time(0, 0, 0),
                                Stamp(2000, 3, 1, 0, 0, 0),
                                bin3,
                                TClientValue::OfBytes(""),
                                TClientValue::OfText("")};
  for (const auto& [name, decoded] :
       {std::pair<const char*, const std::vector<TClientRow>*>{"get", &rows},
        std::pair<const char*, const std::vector<TClientRow>*>{"getJSON", &json_rows}}) {
    SCOPED_TRACE(std::string(name) + " with types " + types);
    const bool json = std::string(name) == "getJSON";
    TClientRow first = (*decoded)[0];
    TClientRow third = (*decoded)[2];
    TClientRow want1 = expected1;
    TClientRow want3 = expected3;
    for (size_t i = 0; i < result.Columns.size(); ++i) {
      if (result.Columns[i].DataType != "string") continue;
      for (TClientValue* want : {&want1[i], &want3[i]}) {
        // The PostgreSQL driver describes booleans as characters.
        if (want->Kind == TValueKind::kBoolean)
          *want = TClientValue::OfText(want->Boolean ? "1" : "0");
        // A variable binary column is a "string": in JSON its bytes are a
        // JSON string, read back as text of the same bytes.
        if (want->Kind == TValueKind::kBytes && json) *want = TClientValue::OfText(want->Text);
      }
    }
    // MariaDB's boolean is tinyint(1), which its driver describes as a
    // small integer: the values come back as 1 and 0.
    if (IsMariaDb()) {
      want1[5] = TClientValue::OfInteger(1);
      want3[5] = TClientValue::OfInteger(0);
    }
    // A 29 February comes back from the JSON count as the 28th.
    if (json) {
      first[6].Time.Day = first[6].Time.Day == 28 ? 29 : first[6].Time.Day;
    }
    EXPECT_TRUE(first == want1) << Describe(first) << " != " << Describe(want1);
    EXPECT_TRUE(third == want3) << Describe(third) << " != " << Describe(want3);
    const TClientRow& nulls = (*decoded)[1];
    for (size_t i = 0; i < nulls.size(); ++i) {
      const bool numeric = i <= 2 || i == 4 || (i == 5 && IsMariaDb());
      if (numeric && !json) {
        // `get` writes a numeric NULL as 0.
        EXPECT_TRUE(nulls[i] == TClientValue::OfInteger(0) || nulls[i] == TClientValue::OfFloat(0))
            << i << " " << Describe(nulls);
      } else {
        EXPECT_TRUE(nulls[i].IsNull()) << i << " " << Describe(nulls);
      }
    }
  }
}

TEST_P(ClientRowsE2E, RowsSplitAcrossPagesAndErrorsAreReplies) {
  TVelquarnClient client = Open();
  const std::string t = Table(client, "pages");
  Exec(client, "create table " + t + " (k integer, s varchar(10))");
  for (int i = 1; i <= 5; ++i) {
    Exec(client,
         "insert into " + t + " values(" + std::to_string(i) + ", '," + std::to_string(i) + "\"')");
  }
  const TStatementResult result = RunSql(client, "select k, s from " + t + " order by k");
  ASSERT_TRUE(result.HasResultSet);
  TFetchResult first = FetchRows(client, result.Columns, 3);
  ASSERT_EQ(first.Rows.size(), 3u);
  EXPECT_FALSE(first.AtEnd);
  TFetchResult second = FetchRows(client, result.Columns, 3);
  ASSERT_EQ(second.Rows.size(), 2u);
  EXPECT_TRUE(second.AtEnd);
  EXPECT_EQ(second.Rows[1][1], TClientValue::OfText(",5\""));
  EXPECT_EQ(FetchRows(client, result.Columns, 3).Reply.Code, 522);

  const TStatementResult bad = RunSql(client, "select nosuchcolumn from " + t);
  EXPECT_EQ(bad.Reply.Code, 512);
  EXPECT_FALSE(bad.HasResultSet);
  const TStatementResult changed = RunSql(client, "update " + t + " set s = 'x' where k > 3");
  EXPECT_EQ(changed.RowsAffected, 2);
}

// MariaDB's own column types through `info`, `get` and `getJSON`.
TEST_P(ClientRowsE2E, MariaDbTypesThroughInfoGetAndGetJson) {
  if (!IsMariaDb()) GTEST_SKIP() << "MariaDB only";
  TVelquarnClient client = Open();
  const std::string t = Table(client, "mytypes");
  Exec(client, "create table " + t +
                   " (k int, dc decimal(12,3), bt bit(8), ti tinyint(1), dt datetime(6), "
                   "bl blob, tx text, u varchar(20) character set utf8mb4)");
  // The utf8mb4 text (a Greek omega, an emoji and a-ring) goes in as hex so
  // that the statement itself stays in code page 1252.
  Exec(client, "insert into " + t +
                   " values(1, -12345.678, b'10100101', 1, '2024-02-29 13:14:15.123456', "
                   "x'00FF0A', 'memo', convert(x'CEA9F09F9880C3A5' using utf8mb4))");
  Exec(client, "insert into " + t + " values(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  const std::string select = "sql select dc, bt, ti, dt, bl, tx, u from " + t + " order by k";
  ASSERT_EQ(client.Command(select).Code, 200);
  // The driver describes decimal as a floating type, bit(8) as binary of 8
  // (its size in bits taken as bytes), tinyint(1) as a small integer,
  // datetime(6) as a timestamp, blob and text as long binary and long text.
  EXPECT_EQ(ReplyLine(client, "info"), "200 OK");
  const std::string xml = client.ReadCountedBlock();
  for (const char* field :
       {"<name>dc</name><size>0</size><origin>dc</origin><datatype>double</datatype>",
        "<name>bt</name><size>8</size><origin>bt</origin><datatype>bytes</datatype>",
        "<name>ti</name><size>0</size><origin>ti</origin><datatype>int16</datatype>",
        "<name>dt</name><size>0</size><origin>dt</origin><datatype>datetime</datatype>",
        "<name>bl</name><size>0</size><origin>bl</origin><datatype>blob</datatype>",
        "<name>tx</name><size>0</size><origin>tx</origin><datatype>memo</datatype>",
        "<name>u</name><size>20</size><origin>u</origin><datatype>string</datatype>"}) {
    EXPECT_NE(xml.find(field), std::string::npos) << field << " in " << xml;
  }
  EXPECT_EQ(ReplyLine(client, "infoJSON"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(),
            "{ \"columns\": [ { \"name\": \"dc\", \"type\": 4, \"length\": null, \"scale\": 2 }, "
            "{ \"name\": \"bt\", \"type\": 8, \"length\": 8, \"scale\": null }, "
            "{ \"name\": \"ti\", \"type\": 3, \"length\": null, \"scale\": null }, "
            "{ \"name\": \"dt\", \"type\": 7, \"length\": null, \"scale\": null }, "
            "{ \"name\": \"bl\", \"type\": 8, \"length\": null, \"scale\": null }, "
            "{ \"name\": \"tx\", \"type\": 1, \"length\": null, \"scale\": null }, "
            "{ \"name\": \"u\", \"type\": 1, \"length\": 20, \"scale\": null } ] }");
  // The bit value is its byte and seven zeros of the 8-byte slot; the
  // microseconds are cut to the second in `get` and to the millisecond in
  // JSON; the memo goes as hex in `get`; the omega and the emoji have no
  // code page 1252 letter and come as "?", the a-ring as its byte.
  EXPECT_EQ(ReplyLine(client, "get 10"), "200 OK");
  EXPECT_EQ(client.ReadCountedBlock(),
            RowsOf({"-12345.678,\xA5" + std::string(7, '\0') +
                        ",1,\"2024-02-29 13:14:15\",00FF0A,6D656D6F,\"??\xE5\"",
                    "0,\xFF,0,\xFF,\xFF,\xFF,\xFF"}));
  ASSERT_EQ(client.Command(select).Code, 200);
  EXPECT_EQ(ReplyLine(client, "getJSON"), "200 OK");
  EXPECT_EQ(
      client.ReadCountedBlock(),
      "{ \"rows\": [ { \"dc\": -12345.678, \"bt\": \"\xC2\xA5\\u0000\\u0000\\u0000\\u0000\\u0000"
      "\\u0000\\u0000\", \"ti\": 1, \"dt\": 1709212455123, \"bl\": \"00FF0A\", \"tx\": "
      "\"memo\", \"u\": \"??\xC3\xA5\" }, { \"dc\": \"null\", \"bt\": \"null\", \"ti\": \"null\", "
      "\"dt\": \"null\", \"bl\": \"null\", \"tx\": \"null\", \"u\": \"null\" } ] }");
}

INSTANTIATE_TEST_SUITE_P(Backends, ClientRowsE2E, AllBackends(), BackendName);

}  // namespace
}  // namespace velquarn::testing
