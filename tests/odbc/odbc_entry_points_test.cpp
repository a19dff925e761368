#include "odbc/odbc_entry_points.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "common/exceptions.h"
#include "odbc_test_util.h"

namespace velquarn {
namespace {

using testing::NewSqliteDatabase;
using testing::OdbcTestEnv;

// Restores the default library names and leaves the library unloaded, so
// each test starts from a process that has not loaded it yet.
class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    OdbcTestEnv::Get();
    odbc_testing::SetLibraryNames({});
    odbc_testing::Unload();
  }
  void TearDown() override { odbc_testing::SetLibraryNames({}); }
};

TEST_F(EntryPoints, TableHoldsFortySevenNamesInResolutionOrder) {
  const auto& names = ODBCEntryPointNames();
  ASSERT_EQ(static_cast<int>(names.size()), kODBCEntryPointCount);
  EXPECT_EQ(sizeof(TODBCEntryPoints), kODBCEntryPointCount * sizeof(void*));
  EXPECT_EQ(names.front(), "SQLAllocHandle");
  EXPECT_EQ(names[8], "SQLGetDiagRec");
  EXPECT_EQ(names[33], "SQLGetConnectOption");
  EXPECT_EQ(names.back(), "SQLProcedureColumns");
  LoadODBC();
  const void* const* slots = reinterpret_cast<const void* const*>(&ODBC());
  for (int i = 0; i < kODBCEntryPointCount; ++i) EXPECT_NE(slots[i], nullptr) << names[i];
}

TEST_F(EntryPoints, ManyDatabasesInAnyOrderLoadTheLibraryOnce) {
  const int before = odbc_testing::LoadCount();
  std::vector<std::unique_ptr<TcsODBCDatabase>> databases;
  for (int i = 0; i < 6; ++i) databases.push_back(NewSqliteDatabase());
  std::mt19937 random(7);
  for (int round = 0; round < 3; ++round) {
    std::shuffle(databases.begin(), databases.end(), random);
    for (auto& db : databases) db->Open();
    std::shuffle(databases.begin(), databases.end(), random);
    for (auto& db : databases) db->Close();
  }
  std::shuffle(databases.begin(), databases.end(), random);
  for (auto& db : databases) db->Open();
  databases.erase(databases.begin(), databases.begin() + 3);
  databases.clear();
  EXPECT_EQ(odbc_testing::LoadCount(), before + 1);
  auto again = NewSqliteDatabase();
  again->Open();
  EXPECT_EQ(odbc_testing::LoadCount(), before + 1);
}

TEST_F(EntryPoints, MissingLibraryGivesTheLoadersTextAndTheNextCallRetries) {
  odbc_testing::SetLibraryNames({"libvelquarn-missing.so.9"});
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      LoadODBC();
      FAIL() << "a library that does not exist loaded";
    } catch (const Exception& error) {
      EXPECT_STREQ(error.ClassName(), "Exception");
      EXPECT_NE(error.Message().find("libvelquarn-missing.so.9"), std::string::npos);
      EXPECT_NE(error.Message().find("cannot open shared object file"), std::string::npos)
          << error.Message();
    }
  }
  auto db = NewSqliteDatabase();
  EXPECT_THROW(db->Open(), Exception);
  EXPECT_FALSE(db->Connected());

  odbc_testing::SetLibraryNames({});
  const int before = odbc_testing::LoadCount();
  db->Open();
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(odbc_testing::LoadCount(), before + 1);
}

TEST_F(EntryPoints, SecondNameIsTriedWhenTheFirstIsMissing) {
  odbc_testing::SetLibraryNames({"libvelquarn-missing.so.9", "libodbc.so.2"});
  EXPECT_NO_THROW(LoadODBC());
}

TEST_F(EntryPoints, MissingEntryPointNamesTheFirstOneAndKeepsNothing) {
  // The installer library of the driver manager exports none of the API.
  odbc_testing::SetLibraryNames({"libodbcinst.so.2"});
  const int before = odbc_testing::LoadCount();
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      LoadODBC();
      FAIL() << "loaded a library without the ODBC API";
    } catch (const Exception& error) {
      EXPECT_STREQ(error.ClassName(), "Exception");
      EXPECT_EQ(error.Message(),
                "GetProcAddress for odbc32.dll failed. Entrypoint: SQLAllocHandle");
    }
  }
  EXPECT_EQ(odbc_testing::LoadCount(), before);
  EXPECT_EQ(ODBC().SQLAllocHandle, nullptr);
}

TEST_F(EntryPoints, ConcurrentFirstLoadsLoadOnceAndSeeAFullTable) {
  const int before = odbc_testing::LoadCount();
  constexpr int kThreads = 16;
  std::vector<std::thread> threads;
  std::vector<int> complete(kThreads, 0);
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&complete, i] {
      LoadODBC();
      const void* const* slots = reinterpret_cast<const void* const*>(&ODBC());
      complete[i] = std::all_of(slots, slots + kODBCEntryPointCount,
                                [](const void* slot) { return slot != nullptr; });
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(odbc_testing::LoadCount(), before + 1);
  for (int i = 0; i < kThreads; ++i) EXPECT_TRUE(complete[i]) << "thread " << i;
}

}  // namespace
}  // namespace velquarn
