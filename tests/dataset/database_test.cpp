#include "dataset/database.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "dataset/login_prompt.h"
#include "dataset/sql_errors.h"

namespace velquarn {
namespace {

// A driver that records the calls the database makes on it.
class TRecordingDriver : public TcsCustomSQLDriver {
 public:
  explicit TRecordingDriver(std::vector<std::string>& log) : log_(log) {}
  ~TRecordingDriver() override { log_.push_back("destroyed"); }

  void SetPoolSize(int size) override {
    TcsCustomSQLDriver::SetPoolSize(size);
    log_.push_back("pool " + std::to_string(size));
  }
  void Disconnect() override {
    log_.push_back("disconnect");
    connected = false;
  }
  void Connect() override {
    log_.push_back("connect " + std::to_string(TransIsolation()));
    if (fail_connect) throw EcsSQLError(1, "08001:refused");
    connected = true;
  }
  void ControlTransaction(int action) override {
    log_.push_back("transaction " + std::to_string(action));
    in_transaction = action == 0;
  }
  bool InTransaction() override { return in_transaction; }
  void GetIndexFields(const std::string&, const std::string&, TStringList&) override {}
  void GetIndexNames(const std::string&, TStringList&) override { log_.push_back("indexes"); }
  void GetTableNames(const std::string&, const std::string&, TStringList&, bool, bool) override {
    log_.push_back("tables");
  }
  void GetDatabaseNames(TStringList&) override { log_.push_back("databases"); }
  void GetDataSourceNames(TStringList&, const std::string& server, int timeout, int port) override {
    log_.push_back("sources " + server + " " + std::to_string(timeout) + " " +
                   std::to_string(port));
  }
  int ExecSQL(const std::string& sql, TParams*, TcsDataset*) override {
    log_.push_back("exec " + sql);
    return 3;
  }
  bool FetchRecord(TRecordSink&, char*) override { return false; }
  void ReleaseConnection(TConnectionHandle*& connection, bool force) override {
    log_.push_back(std::string("release") + (force ? " forced" : ""));
    connection = nullptr;
  }
  TConnectionHandle* AcquireConnection() override {
    log_.push_back("acquire");
    return reinterpret_cast<TConnectionHandle*>(&acquired_token);
  }

  bool connected = false;
  bool in_transaction = false;
  bool fail_connect = false;
  int acquired_token = 0;

 private:
  std::vector<std::string>& log_;
};

class TTestDatabase : public TcsCustomDatabase {
 public:
  TTestDatabase() {
    SetLoginPrompt(false);
    auto driver = std::make_unique<TRecordingDriver>(log);
    driver_ = driver.get();
    SetDriver(std::move(driver));
    log.clear();
  }
  // The driver writes to log, which goes before the base class frees it.
  ~TTestDatabase() override { SetDriver(nullptr); }
  std::vector<std::string> log;
  TRecordingDriver* driver_;
};

// Records the events in the database's log.
void WatchEvents(TTestDatabase& db) {
  db.BeforeConnect = [&db](TcsCustomDatabase&) { db.log.push_back("BeforeConnect"); };
  db.AfterConnect = [&db](TcsCustomDatabase&) { db.log.push_back("AfterConnect"); };
  db.BeforeDisconnect = [&db](TcsCustomDatabase&) { db.log.push_back("BeforeDisconnect"); };
  db.AfterDisconnect = [&db](TcsCustomDatabase&) { db.log.push_back("AfterDisconnect"); };
}

using Log = std::vector<std::string>;

TEST(Database, Defaults) {
  TTestDatabase db;
  EXPECT_FALSE(db.Connected());
  EXPECT_FALSE(db.Exclusive());
  EXPECT_FALSE(db.ReadOnly());
  EXPECT_EQ(db.TransIsolation(), tiReadCommitted);
  EXPECT_EQ(db.ConnectionPoolSize(), 5);
  EXPECT_EQ(db.driver_->PoolSize(), 5);
  TcsCustomDatabase bare;
  EXPECT_TRUE(bare.LoginPrompt());
  EXPECT_EQ(bare.Driver(), nullptr);
}

TEST(Database, ConnectAndDisconnectFireTheirEventsAroundTheDriver) {
  TTestDatabase db;
  WatchEvents(db);
  db.SetTransIsolation(tiRepeatableRead);
  db.SetConnected(true);
  db.SetConnected(true);
  EXPECT_TRUE(db.Connected());
  db.Close();
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(db.log, (Log{"BeforeConnect", "connect 2", "AfterConnect", "BeforeDisconnect",
                         "disconnect", "AfterDisconnect"}));
}

TEST(Database, OnLoginCancelLeavesItClosedSilentlyButAfterConnectFires) {
  TTestDatabase db;
  WatchEvents(db);
  db.OnLogin = [](TcsCustomDatabase&, bool& cancel) { cancel = true; };
  EXPECT_NO_THROW(db.Open());
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(db.log, (Log{"BeforeConnect", "AfterConnect"}));
}

TEST(Database, FailedConnectStaysClosedWithoutAfterConnect) {
  TTestDatabase db;
  WatchEvents(db);
  db.driver_->fail_connect = true;
  try {
    db.Open();
    FAIL();
  } catch (const EcsSQLError& error) {
    EXPECT_EQ(error.Message(), "08001:refused");
  }
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(db.log, (Log{"BeforeConnect", "connect 1"}));
}

TEST(Database, WithoutDriverConnectRaises) {
  TcsCustomDatabase db;
  db.SetLoginPrompt(false);
  try {
    db.Open();
    FAIL();
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), "Database has no driver defined");
  }
  EXPECT_EQ(db.AcquireConnection(), nullptr);
}

TEST(Database, HeadlessLoginPromptAborts) {
  TTestDatabase db;
  db.SetLoginPrompt(true);
  EXPECT_THROW(db.Open(), EAbort);
  EXPECT_FALSE(db.Connected());

  // An installed prompt that answers OK lets the connect go on.
  SetLoginPrompt([](const std::string&, TStringList& params) {
    params.SetValue("UID", "entered");
    return true;
  });
  db.Open();
  SetLoginPrompt(nullptr);
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(db.Params().Values("UID"), "entered");
}

TEST(Database, StreamedConnectedIsAppliedWhenLoadingEnds) {
  TTestDatabase db;
  db.BeginLoading();
  db.SetConnected(true);
  EXPECT_FALSE(db.Connected());
  EXPECT_TRUE(db.log.empty());
  db.EndLoading();
  EXPECT_TRUE(db.Connected());

  TTestDatabase prompted;
  prompted.SetLoginPrompt(true);
  prompted.BeginLoading();
  prompted.SetConnected(true);
  EXPECT_NO_THROW(prompted.EndLoading());  // a cancelled prompt is silent while loading
  EXPECT_FALSE(prompted.Connected());
  EXPECT_FALSE(prompted.Loading());
}

TEST(Database, TransactionMessages) {
  TTestDatabase db;
  try {
    db.Commit();
    FAIL();
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), "Operation invalid on closed database");
  }
  EXPECT_THROW(db.Rollback(), EDatabaseError);
  EXPECT_THROW(db.InTransaction(), EDatabaseError);
  db.Open();
  try {
    db.Commit();
    FAIL();
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), "No transaction active.");
  }
  db.StartTransaction();
  EXPECT_TRUE(db.InTransaction());
  try {
    db.StartTransaction();
    FAIL();
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(),
              "Transaction already started. Must Commit or Rollback before starting new "
              "transaction.");
  }
  db.Commit();
  EXPECT_FALSE(db.InTransaction());
  db.StartTransaction();
  db.Rollback();
  db.StartTransaction();
  db.log.clear();
  db.Close();  // an open transaction is rolled back first
  EXPECT_EQ(db.log, (Log{"transaction 2", "disconnect"}));
}

// A transaction needs a connection: starting one on a closed database
// connects first, so a failed connect reports its own error.
TEST(Database, StartTransactionConnectsFirst) {
  TTestDatabase db;
  db.StartTransaction();
  ASSERT_EQ(db.log.size(), 2u);
  EXPECT_EQ(db.log[0].rfind("connect ", 0), 0u);
  EXPECT_EQ(db.log[1], "transaction 0");
  EXPECT_TRUE(db.Connected());
}

TEST(Database, ForwardersOpenWhereTheyShould) {
  TTestDatabase db;
  TStringList list;
  db.GetDatabaseNames(list);
  EXPECT_FALSE(db.Connected());
  db.GetTableNames("", "%", list, false, false);
  EXPECT_TRUE(db.Connected());
  db.Close();
  EXPECT_EQ(db.ExecSQL("update t set a = 1", nullptr, nullptr), 3);
  EXPECT_TRUE(db.Connected());
  db.Close();
  db.GetIndexNames("t", list);
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(db.log, (Log{"databases", "connect 1", "tables", "disconnect", "connect 1",
                         "exec update t set a = 1", "disconnect", "connect 1", "indexes"}));
}

TEST(Database, DataSourceNamesNeedAServerName) {
  TTestDatabase db;
  TStringList list;
  try {
    db.GetDataSourceNames(list, "");
    FAIL();
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), "No server name specified");
  }
  db.Params().Add("Server=fromparams");
  db.GetDataSourceNames(list, "");
  db.GetDataSourceNames(list, "given");
  EXPECT_EQ(db.log, (Log{"sources fromparams 30 8888", "sources given 30 8888"}));
  EXPECT_FALSE(db.Connected());
}

TEST(Database, PoolSizeAndDriverReplacement) {
  std::vector<std::string> new_log;  // outlives the database that frees its driver
  TTestDatabase db;
  db.SetConnectionPoolSize(1);
  EXPECT_EQ(db.driver_->PoolSize(), 1);
  db.Open();
  TRecordingDriver* old_driver = db.driver_;
  auto replacement = std::make_unique<TRecordingDriver>(new_log);
  TRecordingDriver* replacement_ptr = replacement.get();
  db.SetDriver(std::move(replacement));
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(db.log, (Log{"pool 1", "connect 1", "disconnect", "destroyed"}));
  EXPECT_EQ(replacement_ptr->Database(), &db);
  EXPECT_EQ(new_log, (Log{"pool 1"}));
  (void)old_driver;
}

TEST(Database, AcquireConnectionConnectsFirst) {
  TTestDatabase db;
  TConnectionHandle* acquired = db.AcquireConnection();
  EXPECT_NE(acquired, nullptr);
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(db.log, (Log{"connect 1", "acquire"}));
}

}  // namespace
}  // namespace velquarn
