// The row, XML and JSON writers on a real query over the SQLite driver.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "commands/json_writer.h"
#include "commands/row_writer.h"
#include "commands/xml_field_defs.h"
#include "dataset/query.h"
#include "odbc/odbc_database.h"
#include "support/odbc_test_env.h"

namespace {

// Counts the heap allocations of the thread while counting is switched on.
thread_local bool counting_allocations = false;
thread_local long allocations = 0;

}  // namespace

// The replacement pair hands malloc's blocks to free; GCC cannot see that
// the two belong together.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (counting_allocations) ++allocations;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace velquarn {
namespace {

using testing::OdbcTestEnv;

class ResultWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    OdbcTestEnv& env = OdbcTestEnv::Get();
    const std::string file =
        env.NewSqliteFile(std::string("writers_") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db");
    std::remove(file.c_str());
    database_.SetLoginPrompt(false);
    database_.SetConnectionPoolSize(1);
    database_.SetName("writers");
    database_.SetODBCDriverName(OdbcTestEnv::kSqliteDriver);
    database_.Params().Add("Database=" + file);
    query_.SetDataBaseName(database_.DataBaseName());
    query_.ExecSQL(
        "create table t (id integer not null, name varchar(20), f double, d date, ts timestamp, "
        "m text, b longvarbinary)");
    query_.ExecSQL(
        "insert into t values(1, 'say \"hi\"', 0.5, '1970-01-01', '2000-03-01 12:00:00', 'AB', "
        "X'00FF')");
    query_.ExecSQL("insert into t values(2, NULL, NULL, NULL, NULL, NULL, NULL)");
    query_.ExecSQL(
        "insert into t values(3, '\xE5' || char(10) || 'x', 1E20, '2000-03-01', '2000-03-01', '', "
        "X'')");
  }

  void Select(const std::string& sql) {
    query_.SetSQLText(sql);
    query_.Open();
  }

  std::string AllRows() {
    TTextStream stream;
    while (!query_.Eof()) {
      WriteRow(stream, query_);
      query_.Next();
    }
    return std::string(stream.Bytes());
  }

  TcsODBCDatabase database_;
  TcsQuery query_;
};

TEST_F(ResultWriters, RowsRenderEveryKindOfValue) {
  Select("select * from t order by id");
  EXPECT_EQ(AllRows(),
            std::string("1,\"say \"\"hi\"\"\",0.5,\"1970-01-01\",\"2000-03-01 12:00:00\","
                        "4142,00FF\0"
                        "2,\xFF,0,\xFF,\xFF,\xFF,\xFF\0"
                        "3,\"\xE5\nx\",1E20,\"2000-03-01\",\"2000-03-01\",,\0",
                        119));
}

TEST_F(ResultWriters, XmlDescribesTheColumns) {
  Select("select id, name, m from t");
  EXPECT_EQ(BuildFieldDefsXml(query_),
            "<?xml version = \"1.0\" ?><fielddefs datetimeformat=\"iso\" decimalseparator=\".\">"
            "<field><name>id</name><size>0</size><origin>id</origin><datatype>int32</datatype></"
            "field><field><name>name</name><size>20</size>"
            "<origin>name</origin><datatype>string</datatype></field><field><name>m</name>"
            "<size>0</size><origin>m</origin><datatype>memo</datatype></field></fielddefs>");
}

TEST_F(ResultWriters, JsonRowsAndColumns) {
  Select("select id, name, f, d, ts, b from t order by id");
  TTextStream columns;
  WriteJsonColumns(columns, query_);
  EXPECT_EQ(
      columns.Bytes(),
      "{ \"columns\": [ { \"name\": \"id\", \"type\": 3, \"length\": null, \"scale\": null }, "
      "{ \"name\": \"name\", \"type\": 1, \"length\": 20, \"scale\": null }, "
      "{ \"name\": \"f\", \"type\": 4, \"length\": null, \"scale\": 2 }, "
      "{ \"name\": \"d\", \"type\": 5, \"length\": null, \"scale\": null }, "
      "{ \"name\": \"ts\", \"type\": 7, \"length\": null, \"scale\": null }, "
      "{ \"name\": \"b\", \"type\": 8, \"length\": null, \"scale\": null } ] }");
  TTextStream rows;
  query_.First();
  WriteJsonRows(rows, query_, 2);
  EXPECT_EQ(rows.Bytes(),
            "{ \"rows\": [ { \"id\": 1, \"name\": \"say \\\"hi\\\"\", \"f\": 0.5, "
            "\"d\": 93600000, \"ts\": 951919200000, \"b\": \"00FF\" }, "
            "{ \"id\": 2, \"name\": \"null\", \"f\": \"null\", \"d\": \"null\", \"ts\": \"null\", "
            "\"b\": \"null\" }, "
            "{ \"id\": 3, \"name\": \"\xC3\xA5\\nx\", \"f\": 1E20, \"d\": 951876000000, "
            "\"ts\": 951876000000, \"b\": \"\" } ] }");
  EXPECT_TRUE(query_.Eof());
}

// JSON has no NaN or infinity, but a float column can hold them (SQLite
// overflows 1E999 to infinity, PostgreSQL's float8 has all three): they go
// as their text in a JSON string, so the document stays valid. The row
// format of get keeps them bare.
TEST_F(ResultWriters, JsonKeepsNonFiniteFloatsInStrings) {
  query_.ExecSQL("insert into t (id, f) values(4, 1E999)");
  query_.ExecSQL("insert into t (id, f) values(5, -1E999)");
  Select("select id, f from t where id >= 4 order by id");
  TTextStream rows;
  WriteJsonRows(rows, query_, 0);
  EXPECT_EQ(rows.Bytes(),
            "{ \"rows\": [ { \"id\": 4, \"f\": \"INF\" }, { \"id\": 5, \"f\": \"-INF\" } ] }");
  query_.First();
  EXPECT_EQ(AllRows(), std::string("4,INF\0"
                                   "5,-INF\0",
                                   13));
}

// Rows are written straight from the record buffer into the reused payload:
// once the payload has grown, writing a row allocates nothing.
TEST_F(ResultWriters, WritingARowAllocatesNothing) {
  Select("select id, name, f, d, ts, m, b from t where id = 1");
  TTextStream stream;
  stream.Reserve(1024 * 1024);
  // The first row sets up the process's regional date formats once.
  WriteRow(stream, query_);
  counting_allocations = true;
  allocations = 0;
  for (int i = 0; i < 500; ++i) WriteRow(stream, query_);
  counting_allocations = false;
  EXPECT_EQ(allocations, 0);
}

}  // namespace
}  // namespace velquarn
