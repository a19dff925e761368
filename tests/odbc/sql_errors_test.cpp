#include "dataset/sql_errors.h"

#include <gtest/gtest.h>

#include "odbc/odbc_driver.h"

namespace velquarn {
namespace {

TEST(SqlError, MessageIsTheFirstRecordsText) {
  EcsSQLError error(-1, "General SQL Error");
  error.AddError({7, "42000:later", 0, 0});
  EXPECT_EQ(error.Message(), "General SQL Error");
  EXPECT_STREQ(error.what(), "General SQL Error");
  EXPECT_EQ(error.ErrorCount(), 2);
  EXPECT_EQ(error.NativeError(), -1);
  EXPECT_EQ(error.Errors()[1].NativeError, 7);
  EXPECT_STREQ(error.ClassName(), "EcsSQLError");
  const EDatabaseError& as_database_error = error;
  EXPECT_EQ(as_database_error.Message(), "General SQL Error");
}

TEST(SqlError, DriverCollectsRecordsUntilRaised) {
  TcsODBCDriver driver;
  EXPECT_NO_THROW(driver.RaisePendingError());  // nothing pending
  driver.AddError(208, "42S02:no such table", 0, 0);
  driver.AddError(0, "01000:note", 1, 2);
  EXPECT_TRUE(driver.HasPendingError());
  try {
    driver.RaisePendingError();
    FAIL();
  } catch (const EcsSQLError& error) {
    EXPECT_EQ(error.Message(), "42S02:no such table");
    ASSERT_EQ(error.ErrorCount(), 2);
    EXPECT_EQ(error.Errors()[1].Aux1, 1);
    EXPECT_EQ(error.Errors()[1].Aux2, 2);
  }
  EXPECT_FALSE(driver.HasPendingError());
  EXPECT_NO_THROW(driver.RaisePendingError());
}

TEST(SqlError, DriverErrorIsNotADatabaseError) {
  EODBCDriverError error(kDsnAndDriverExclusive);
  EXPECT_EQ(error.Message(), "DSN and DRIVER are mutually exclusive parameters");
  EXPECT_EQ(dynamic_cast<const EDatabaseError*>(static_cast<const Exception*>(&error)), nullptr);
  EXPECT_STREQ(error.ClassName(), "EODBCDriverError");
}

}  // namespace
}  // namespace velquarn
