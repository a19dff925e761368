#include "odbc/odbc_diagnostics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dataset/sql_errors.h"
#include "odbc_test_util.h"

namespace velquarn {
namespace {

using testing::NewSqliteDatabase;
using testing::OdbcTestEnv;

// Diagnostic records that no real driver produces on demand, served the way
// the driver manager serves them: a message longer than the buffer is cut
// and reported with SQL_SUCCESS_WITH_INFO and its full length.
struct FakeRecord {
  std::string state;
  SQLINTEGER native;
  std::string message;
};
std::vector<FakeRecord> g_records;
int g_diag_calls = 0;
TODBCEntryPoints g_real_diagnostics{};

SQLRETURN SQL_API FakeGetDiagRec(SQLSMALLINT, SQLHANDLE, SQLSMALLINT number, SQLCHAR* state,
                                 SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT buffer_length,
                                 SQLSMALLINT* text_length) {
  ++g_diag_calls;
  if (number < 1 || number > static_cast<SQLSMALLINT>(g_records.size())) return SQL_NO_DATA;
  const FakeRecord& record = g_records[number - 1];
  std::memcpy(state, record.state.c_str(), 6);
  *native = record.native;
  *text_length = static_cast<SQLSMALLINT>(record.message.size());
  size_t copied = std::min(record.message.size(), static_cast<size_t>(buffer_length - 1));
  std::memcpy(message, record.message.data(), copied);
  message[copied] = 0;
  return copied < record.message.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN SQL_API NoDataDriverConnect(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                      SQLSMALLINT, SQLSMALLINT*, SQLUSMALLINT) {
  return SQL_NO_DATA;
}

SQLRETURN SQL_API NoTransactionsGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value,
                                        SQLSMALLINT length, SQLSMALLINT* out_length) {
  SQLRETURN result = g_real_diagnostics.SQLGetInfo(dbc, type, value, length, out_length);
  if (type == SQL_TXN_CAPABLE) *static_cast<SQLUSMALLINT*>(value) = SQL_TC_NONE;
  return result;
}

class Diagnostics : public ::testing::Test {
 protected:
  void SetUp() override {
    OdbcTestEnv::Get();
    LoadODBC();
    g_real_diagnostics = ODBC();
    g_records.clear();
    g_diag_calls = 0;
  }
  // The real table with some slots replaced.
  static TODBCEntryPoints WithFakes() {
    TODBCEntryPoints table = g_real_diagnostics;
    table.SQLGetDiagRec = &FakeGetDiagRec;
    return table;
  }
  // Raises through the check and returns what was raised.
  static EcsSQLError Raised(TcsODBCDriver& driver, SQLRETURN code) {
    try {
      CheckStmtResult(driver, reinterpret_cast<SQLHSTMT>(0x1), code);
    } catch (const EcsSQLError& error) {
      return error;
    }
    ADD_FAILURE() << "nothing raised for " << code;
    return EcsSQLError(0, "");
  }
};

TEST_F(Diagnostics, ReturnCodeNames) {
  EXPECT_EQ(ReturnCodeName(0), "SQL_SUCCESS");
  EXPECT_EQ(ReturnCodeName(1), "SQL_SUCCESS_WITH_INFO");
  EXPECT_EQ(ReturnCodeName(2), "SQL_STILL_EXECUTING");
  EXPECT_EQ(ReturnCodeName(99), "SQL_NEED_DATA");
  EXPECT_EQ(ReturnCodeName(100), "SQL_NO_DATA");
  EXPECT_EQ(ReturnCodeName(-2), "SQL_INVALID_HANDLE");
  EXPECT_EQ(ReturnCodeName(-1), "General SQL Error");
  EXPECT_EQ(ReturnCodeName(-3), "unknown SQL result: -3");
  EXPECT_EQ(ReturnCodeName(12345), "unknown SQL result: 12345");
}

TEST_F(Diagnostics, SuccessAndSuccessWithInfoRaiseNothing) {
  odbc_testing::ScopedEntryPoints fakes(WithFakes());
  TcsODBCDriver driver;
  g_records = {{"01000", 5, "just information"}};
  EXPECT_NO_THROW(CheckStmtResult(driver, reinterpret_cast<SQLHSTMT>(0x1), SQL_SUCCESS));
  EXPECT_NO_THROW(CheckDbcResult(driver, reinterpret_cast<SQLHDBC>(0x1), SQL_SUCCESS_WITH_INFO));
  EXPECT_EQ(g_diag_calls, 0);
  EXPECT_FALSE(driver.HasPendingError());
}

TEST_F(Diagnostics, BareErrorWithoutRecordsIsGeneralSqlError) {
  odbc_testing::ScopedEntryPoints fakes(WithFakes());
  TcsODBCDriver driver;
  EcsSQLError error = Raised(driver, SQL_ERROR);
  EXPECT_EQ(error.Message(), "General SQL Error");
  ASSERT_EQ(error.ErrorCount(), 1);
  EXPECT_EQ(error.NativeError(), -1);
  EXPECT_FALSE(driver.HasPendingError());
}

TEST_F(Diagnostics, OtherCodesReadNoRecords) {
  odbc_testing::ScopedEntryPoints fakes(WithFakes());
  TcsODBCDriver driver;
  g_records = {{"HY000", 1, "must not be read"}};
  EcsSQLError invalid = Raised(driver, SQL_INVALID_HANDLE);
  EXPECT_EQ(invalid.Message(), "SQL_INVALID_HANDLE");
  EXPECT_EQ(invalid.NativeError(), -2);
  EXPECT_EQ(invalid.ErrorCount(), 1);
  EcsSQLError no_data = Raised(driver, SQL_NO_DATA);
  EXPECT_EQ(no_data.Message(), "SQL_NO_DATA");
  EXPECT_EQ(no_data.NativeError(), 100);
  EcsSQLError unknown = Raised(driver, -3);
  EXPECT_EQ(unknown.Message(), "unknown SQL result: -3");
  EXPECT_EQ(g_diag_calls, 0);
}

TEST_F(Diagnostics, ThreeRecordsInDriverOrder) {
  odbc_testing::ScopedEntryPoints fakes(WithFakes());
  TcsODBCDriver driver;
  g_records = {{"42S02", 208, "no such table"}, {"01000", 0, "second"}, {"HY000", 77, "third"}};
  EcsSQLError error = Raised(driver, SQL_ERROR);
  EXPECT_EQ(error.Message(), "42S02:no such table");
  ASSERT_EQ(error.ErrorCount(), 3);
  EXPECT_EQ(error.Errors()[0].NativeError, 208);
  EXPECT_EQ(error.Errors()[1].ErrorText, "01000:second");
  EXPECT_EQ(error.Errors()[1].NativeError, 0);
  EXPECT_EQ(error.Errors()[2].ErrorText, "HY000:third");
  EXPECT_EQ(error.Errors()[2].NativeError, 77);
  EXPECT_EQ(error.Errors()[2].Aux1, 0);
  EXPECT_EQ(error.Errors()[2].Aux2, 0);
  // A second failure carries only its own records.
  g_records = {{"08S01", 1, "link down"}};
  EcsSQLError next = Raised(driver, SQL_ERROR);
  EXPECT_EQ(next.ErrorCount(), 1);
  EXPECT_EQ(next.Message(), "08S01:link down");
}

TEST_F(Diagnostics, LongMessagesAreKeptWhole) {
  odbc_testing::ScopedEntryPoints fakes(WithFakes());
  TcsODBCDriver driver;
  const std::string long_text(300, 'x');
  g_records = {{"HY000", 9, long_text + "END"}};
  EcsSQLError first = Raised(driver, SQL_ERROR);
  EXPECT_EQ(first.Message(), "HY000:" + long_text + "END");
  EXPECT_EQ(first.NativeError(), 9);

  g_records = {{"42000", 1, "short"}, {"HY000", 2, long_text}, {"01000", 3, "after"}};
  EcsSQLError second = Raised(driver, SQL_ERROR);
  ASSERT_EQ(second.ErrorCount(), 3);
  EXPECT_EQ(second.Message(), "42000:short");
  EXPECT_EQ(second.Errors()[1].ErrorText, "HY000:" + long_text);
  EXPECT_EQ(second.Errors()[2].ErrorText, "01000:after");
}

TEST_F(Diagnostics, MessagesAreConvertedFromTheDriversEncoding) {
  odbc_testing::ScopedEntryPoints fakes(WithFakes());
  TcsODBCDriver driver;
  g_records = {{"HY000", 1, "r\xC3\xA4ksm\xC3\xB6rg\xC3\xA5s \xE2\x82\xAC \xE2\x98\x83"}};
  EXPECT_EQ(Raised(driver, SQL_ERROR).Message(), "HY000:r\xE4ksm\xF6rg\xE5s \x80 ?");
  driver.SetCharset(TCharset::FromName("CP1252"));
  g_records = {{"HY000", 1, "r\xE4k"}};
  EXPECT_EQ(Raised(driver, SQL_ERROR).Message(), "HY000:r\xE4k");
}

TEST_F(Diagnostics, DriverConnectAnsweringNoDataIsUnableToConnect) {
  TODBCEntryPoints table = g_real_diagnostics;
  table.SQLDriverConnect = &NoDataDriverConnect;
  odbc_testing::ScopedEntryPoints fakes(table);
  auto db = NewSqliteDatabase();
  try {
    db->Open();
    FAIL() << "connected although the driver answered SQL_NO_DATA";
  } catch (const EODBCDriverError& error) {
    EXPECT_EQ(error.Message(), "Unable to connect to database");
  }
  EXPECT_FALSE(db->Connected());
  EXPECT_FALSE(db->ODBCDriver()->IsConnected());
  EXPECT_EQ(db->ODBCDriver()->IdleCount(), 0);
}

TEST_F(Diagnostics, DataSourceWithoutTransactions) {
  TODBCEntryPoints table = g_real_diagnostics;
  table.SQLGetInfo = &NoTransactionsGetInfo;
  odbc_testing::ScopedEntryPoints fakes(table);
  auto db = NewSqliteDatabase();
  db->Open();
  EXPECT_FALSE(db->ODBCDriver()->TransactionsSupported());
  EXPECT_FALSE(db->InTransaction());
  try {
    db->StartTransaction();
    FAIL() << "started a transaction without transaction support";
  } catch (const EODBCDriverError& error) {
    EXPECT_EQ(error.Message(), "Transactions are not supported by the driver");
  }
  EXPECT_THROW(db->ODBCDriver()->ControlTransaction(1), EODBCDriverError);
}

TEST_F(Diagnostics, RecordsCarryStateNativeCodeAndMessageAsFields) {
  odbc_testing::ScopedEntryPoints fakes(WithFakes());
  TcsODBCDriver driver;
  g_records = {{"08S01", 10054, "link down"}, {"01000", 3, "note"}};
  EcsSQLError error = Raised(driver, SQL_ERROR);
  ASSERT_EQ(error.ErrorCount(), 2);
  EXPECT_EQ(error.Errors()[0].SqlState, "08S01");
  EXPECT_EQ(error.Errors()[0].NativeError, 10054);
  EXPECT_EQ(error.Errors()[0].Message, "link down");
  EXPECT_EQ(error.Errors()[0].ErrorText, "08S01:link down");
  EXPECT_EQ(error.Errors()[1].SqlState, "01000");
  EXPECT_TRUE(IsConnectionLostError(error));
  // A bare return code has no record fields.
  EcsSQLError bare = Raised(driver, SQL_INVALID_HANDLE);
  EXPECT_TRUE(bare.Errors()[0].SqlState.empty());
  EXPECT_TRUE(bare.Errors()[0].Message.empty());
  EXPECT_FALSE(IsConnectionLostError(bare));
}

// The MariaDB driver reports a session the server killed as HY000 with the
// client library's code; the same code under another state, or another
// HY000, is no lost connection.
TEST_F(Diagnostics, MySqlFamilyCodesOfALostConnectionUnderHY000) {
  odbc_testing::ScopedEntryPoints fakes(WithFakes());
  TcsODBCDriver driver;
  for (int code : {2006, 2013, 2055, 5013, 5014, 1927, 1053}) {
    g_records = {{"HY000", code, "Lost connection to server during query"}};
    EXPECT_TRUE(IsConnectionLostError(Raised(driver, SQL_ERROR))) << code;
  }
  g_records = {{"HY000", 1064, "You have an error in your SQL syntax"}};
  EXPECT_FALSE(IsConnectionLostError(Raised(driver, SQL_ERROR)));
  g_records = {{"42000", 2006, "not the client library's"}};
  EXPECT_FALSE(IsConnectionLostError(Raised(driver, SQL_ERROR)));
}

}  // namespace
}  // namespace velquarn
