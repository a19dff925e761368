#include "dataset/database_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/exceptions.h"
#include "dataset/database.h"

namespace velquarn {
namespace {

// A database without a driver is enough for the name rules.
class TPlainDatabase : public TcsCustomDatabase {};

TEST(DatabaseList, AddingMainToAListOfOneGivesMain2) {
  TGlobalDatabaseList list;
  TPlainDatabase a, b;
  a.BeginLoading();  // keeps the component name from registering globally
  a.SetName("Main");
  a.EndLoading();
  b.BeginLoading();
  b.SetName("Main");
  b.EndLoading();
  list.AddDatabase(&a);
  list.AddDatabase(&b);
  EXPECT_EQ(a.DataBaseName(), "Main");
  EXPECT_EQ(b.DataBaseName(), "Main2");
  EXPECT_EQ(list.FindDatabase("MAIN2"), &b);
  EXPECT_EQ(list.FindDatabase("main"), &a);
  EXPECT_EQ(list.FindDatabase("Main3"), nullptr);
}

TEST(DatabaseList, CountPlusOneCollisionCountsOn) {
  TGlobalDatabaseList list;
  TPlainDatabase x3, x, y;
  for (auto [db, name] : {std::pair{&x3, "X3"}, std::pair{&x, "X"}, std::pair{&y, "X"}}) {
    db->BeginLoading();
    db->SetName(name);
    db->EndLoading();
    list.AddDatabase(db);
  }
  EXPECT_EQ(y.DataBaseName(), "X4");
  EXPECT_EQ(list.Count(), 3);
}

TEST(DatabaseList, RenameRefusesAnyTakenNameAndRemoveForgets) {
  TGlobalDatabaseList list;
  TPlainDatabase a, b;
  a.BeginLoading();
  a.SetName("Alpha");
  a.EndLoading();
  b.BeginLoading();
  b.SetName("Beta");
  b.EndLoading();
  list.AddDatabase(&a);
  list.AddDatabase(&b);
  EXPECT_FALSE(list.RenameDatabase(&a, "beta"));
  EXPECT_FALSE(list.RenameDatabase(&a, "ALPHA"));  // its own name counts too
  EXPECT_TRUE(list.RenameDatabase(&a, "Gamma"));
  EXPECT_EQ(list.FindDatabase("gamma"), &a);
  EXPECT_EQ(list.FindDatabase("alpha"), nullptr);
  list.RemoveDatabase(&a);
  EXPECT_EQ(list.FindDatabase("Gamma"), nullptr);
  list.RemoveDatabase(&a);
  EXPECT_EQ(list.Count(), 1);
}

TEST(DatabaseName, ComponentNameRegistersAndRenamingToATakenNameIsSilent) {
  auto one = std::make_unique<TPlainDatabase>();
  one->SetName("NameRuleOne");
  auto two = std::make_unique<TPlainDatabase>();
  two->SetName("NameRuleTwo");
  EXPECT_EQ(GlobalDatabaseList().FindDatabase("namerulethree"), nullptr);
  two->SetDataBaseName("NameRuleOne");
  EXPECT_EQ(two->DataBaseName(), "NameRuleTwo");
  two->SetDataBaseName("NameRuleThree");
  EXPECT_EQ(two->DataBaseName(), "NameRuleThree");
  EXPECT_EQ(GlobalDatabaseList().FindDatabase("namerulethree"), two.get());
  // A second component name does not register again.
  two->SetName("NameRuleFour");
  EXPECT_EQ(GlobalDatabaseList().FindDatabase("NameRuleFour"), nullptr);
  two.reset();
  EXPECT_EQ(GlobalDatabaseList().FindDatabase("NameRuleThree"), nullptr);
  EXPECT_EQ(GlobalDatabaseList().FindDatabase("NameRuleOne"), one.get());
}

TEST(DatabaseName, ServerStyleNameGetsANumberWhenTaken) {
  TPlainDatabase a, b;
  a.SetName("ServerDup");
  b.SetName("ServerDup");
  EXPECT_EQ(a.DataBaseName(), "ServerDup");
  EXPECT_NE(b.DataBaseName(), "ServerDup");
  EXPECT_EQ(b.DataBaseName().rfind("ServerDup", 0), 0u);
  EXPECT_EQ(GlobalDatabaseList().FindDatabase(b.DataBaseName()), &b);
}

TEST(DatabaseName, ComponentNamesMustBeIdentifiers) {
  TPlainDatabase db;
  for (const char* bad : {"", "1abc", "my-dsn", "has blank", "dot.name", "caf\xE9"}) {
    try {
      db.SetName(bad);
      FAIL() << "accepted " << bad;
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), std::string("''") + bad + "'' is not a valid component name");
    }
  }
  EXPECT_EQ(db.Name(), "");
  EXPECT_EQ(db.DataBaseName(), "");
  EXPECT_NO_THROW(db.SetName("_ok_9"));
  EXPECT_EQ(db.DataBaseName(), "_ok_9");
}

TEST(DatabaseName, LoadingSetsTheDatabaseNameWithoutRegistering) {
  TPlainDatabase db;
  db.BeginLoading();
  db.SetName("LoadedOnly");
  db.EndLoading();
  EXPECT_EQ(db.DataBaseName(), "LoadedOnly");
  EXPECT_EQ(GlobalDatabaseList().FindDatabase("LoadedOnly"), nullptr);
}

TEST(DatabaseList, ThreadsRegisterAndLeaveConcurrently) {
  constexpr int kThreads = 8;
  std::vector<std::thread> threads;
  std::vector<std::string> names(kThreads * 50);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &names] {
      for (int i = 0; i < 50; ++i) {
        TPlainDatabase db;
        db.SetName("Concurrent");
        names[t * 50 + i] = db.DataBaseName();
        if (GlobalDatabaseList().FindDatabase(db.DataBaseName()) != &db) names[t * 50 + i] = "";
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const std::string& name : names) EXPECT_FALSE(name.empty());
  EXPECT_EQ(GlobalDatabaseList().FindDatabase("Concurrent"), nullptr);
}

TEST(DatabaseList, FreeingTheGlobalListLeavesLaterDatabasesAlone) {
  auto db = std::make_unique<TPlainDatabase>();
  db->SetName("FreedListDb");
  FreeGlobalDatabaseList();
  EXPECT_NO_THROW(db.reset());
  EXPECT_EQ(GlobalDatabaseList().FindDatabase("FreedListDb"), nullptr);
}

}  // namespace
}  // namespace velquarn
