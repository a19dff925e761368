#include "dataset/database.h"

#include <utility>

#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/cs_dataset.h"
#include "dataset/database_list.h"
#include "dataset/login_prompt.h"

namespace velquarn {

namespace {

constexpr char kNoDriver[] = "Database has no driver defined";
constexpr char kClosedDatabase[] = "Operation invalid on closed database";
constexpr char kNoTransaction[] = "No transaction active.";
constexpr char kTransactionStarted[] =
    "Transaction already started. Must Commit or Rollback before starting new transaction.";
constexpr char kNoServerName[] = "No server name specified";

bool IsIdentifier(const std::string& name) {
  if (name.empty()) return false;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!letter(name[0])) return false;
  for (char c : name) {
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

}  // namespace

TcsCustomDatabase::TcsCustomDatabase() = default;

TcsCustomDatabase::~TcsCustomDatabase() {
  // Leaving the global list first means no other thread can find a database
  // that is half destroyed; the notices go out while the database is whole,
  // because their receivers give their connections back through it.
  RemoveFromGlobalDatabaseList(this);
  SendRemovalNotices();
  // Datasets are owned elsewhere: a dataset still attached only loses its
  // connection here, it is not freed.
  while (TcsDataset* dataset = datasets_.TakeFirst()) {
    if (driver_ != nullptr) {
      try {
        driver_->ReleaseConnection(dataset->ConnectionRef(), true);
      } catch (...) {
      }
    }
  }
  if (driver_ != nullptr) {
    try {
      driver_->Disconnect();
    } catch (...) {
    }
    driver_.reset();
  }
  connected_ = false;
}

void TcsCustomDatabase::SetDriver(std::unique_ptr<TcsCustomSQLDriver> driver) {
  if (driver.get() == driver_.get()) {
    // The caller handed back the driver that this database already owns.
    (void)driver.release();
    return;
  }
  if (driver_ != nullptr && connected_) Close();
  driver_ = std::move(driver);
  if (driver_ != nullptr) {
    driver_->SetDatabase(this);
    driver_->SetPoolSize(connection_pool_size_);
  }
}

void TcsCustomDatabase::Close() {
  closing_ = true;
  try {
    SetConnected(false);
  } catch (...) {
    closing_ = false;
    throw;
  }
  closing_ = false;
}

void TcsCustomDatabase::Open() {
  closing_ = false;
  SetConnected(true);
}

void TcsCustomDatabase::SetConnected(bool value) {
  if (Loading()) {
    stream_connected_ = value;
    return;
  }
  ApplyConnected(value);
}

void TcsCustomDatabase::ApplyConnected(bool value) {
  if (value == connected_) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(*this);
    DoConnect();
    if (AfterConnect) AfterConnect(*this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(*this);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(*this);
  }
}

void TcsCustomDatabase::Loaded() {
  if (DataBaseName().empty()) database_name_ = Name();
  const bool wanted = stream_connected_;
  stream_connected_ = false;
  // The remembered value is applied as part of the loading, so a cancelled
  // login prompt stays silent here.
  struct ClearOnExit {
    bool& flag;
    ~ClearOnExit() { flag = false; }
  } clear_on_exit{applying_stream_};
  applying_stream_ = true;
  ApplyConnected(wanted);
}

void TcsCustomDatabase::DoConnect() {
  TcsCustomSQLDriver& driver = RequireDriver();
  bool cancel_open = false;
  if (OnLogin) {
    OnLogin(*this, cancel_open);
    if (cancel_open) return;
  }
  if (login_prompt_ && !ShowLoginPrompt(database_name_, params_)) {
    if (Loading() || applying_stream_) return;
    throw EAbort();
  }
  driver.SetTransIsolation(trans_isolation_);
  driver.Connect();
  connected_ = true;
}

void TcsCustomDatabase::DoDisconnect() {
  try {
    if (driver_ != nullptr) {
      if (driver_->InTransaction()) driver_->ControlTransaction(2);
      while (TcsDataset* dataset = datasets_.TakeFirst()) {
        driver_->ReleaseConnection(dataset->ConnectionRef(), false);
      }
      driver_->Disconnect();
    }
  } catch (...) {
    connected_ = false;
    throw;
  }
  connected_ = false;
}

void TcsCustomDatabase::SetName(const std::string& name) {
  if (!IsIdentifier(name)) {
    throw Exception(Format("''%s'' is not a valid component name", name.c_str()));
  }
  TComponent::SetName(name);
  if (!Loading() && database_name_.empty()) {
    database_name_ = name;
    GlobalDatabaseList().AddDatabase(this);
  }
}

void TcsCustomDatabase::SetDataBaseName(const std::string& name) {
  if (name == database_name_) return;
  if (GlobalDatabaseList().RenameDatabase(this, name)) database_name_ = name;
}

void TcsCustomDatabase::SetConnectionPoolSize(int size) {
  connection_pool_size_ = size;
  if (driver_ != nullptr) driver_->SetPoolSize(size);
}

TcsCustomSQLDriver& TcsCustomDatabase::RequireDriver() const {
  if (driver_ == nullptr) throw EDatabaseError(kNoDriver);
  return *driver_;
}

void TcsCustomDatabase::OpenIfClosed() {
  if (!connected_) Open();
}

void TcsCustomDatabase::StartTransaction() {
  TcsCustomSQLDriver& driver = RequireDriver();
  // Whether the data source has transactions is known only after a connect;
  // connecting here also lets a database that cannot be reached report the
  // driver's own error rather than "not supported".
  if (!connected_) Open();
  if (driver.InTransaction()) throw EDatabaseError(kTransactionStarted);
  driver.ControlTransaction(0);
}

void TcsCustomDatabase::Commit() {
  if (!connected_) throw EDatabaseError(kClosedDatabase);
  TcsCustomSQLDriver& driver = RequireDriver();
  if (!driver.InTransaction()) throw EDatabaseError(kNoTransaction);
  driver.ControlTransaction(1);
}

void TcsCustomDatabase::Rollback() {
  if (!connected_) throw EDatabaseError(kClosedDatabase);
  TcsCustomSQLDriver& driver = RequireDriver();
  if (!driver.InTransaction()) throw EDatabaseError(kNoTransaction);
  driver.ControlTransaction(2);
}

bool TcsCustomDatabase::InTransaction() {
  if (!connected_) throw EDatabaseError(kClosedDatabase);
  return RequireDriver().InTransaction();
}

void TcsCustomDatabase::GetDataSourceNames(TStringList& list, const std::string& server_name,
                                           int timeout, int port) {
  std::string server = server_name.empty() ? params_.Values("Server") : server_name;
  if (server.empty()) throw EDatabaseError(kNoServerName);
  RequireDriver().GetDataSourceNames(list, server, timeout, port);
}

void TcsCustomDatabase::GetDatabaseNames(TStringList& list) {
  RequireDriver().GetDatabaseNames(list);
}

void TcsCustomDatabase::GetTableNames(const std::string& schema, const std::string& pattern,
                                      TStringList& list, bool system_tables, bool reserved) {
  OpenIfClosed();
  RequireDriver().GetTableNames(schema, pattern, list, system_tables, reserved);
}

void TcsCustomDatabase::GetIndexNames(const std::string& table, TStringList& list) {
  OpenIfClosed();
  RequireDriver().GetIndexNames(table, list);
}

void TcsCustomDatabase::GetIndexFields(const std::string& table, const std::string& index,
                                       TStringList& list) {
  OpenIfClosed();
  RequireDriver().GetIndexFields(table, index, list);
}

void TcsCustomDatabase::GetDefaultIndexFields(const std::string& table, TStringList& list) {
  OpenIfClosed();
  RequireDriver().GetDefaultIndexFields(table, list);
}

void TcsCustomDatabase::GetProcedureParamTypes(const std::string& procedure,
                                               std::vector<TParamType>& types) {
  OpenIfClosed();
  RequireDriver().GetProcedureParamTypes(procedure, types);
}

int TcsCustomDatabase::ExecSQL(const std::string& sql, TParams* params, TcsDataset* dataset) {
  OpenIfClosed();
  return RequireDriver().ExecSQL(sql, params, dataset);
}

TConnectionHandle* TcsCustomDatabase::AcquireConnection() {
  if (driver_ == nullptr) return nullptr;
  if (!connected_) SetConnected(true);
  return driver_->AcquireConnection();
}

void TcsCustomDatabase::AttachDataset(TcsDataset* dataset) { datasets_.Add(dataset); }

void TcsCustomDatabase::DetachDataset(TcsDataset* dataset) { datasets_.Remove(dataset); }

void TcsCustomDatabase::ReleaseDatasetConnection(TcsDataset& dataset, bool force) {
  if (driver_ != nullptr) driver_->ReleaseConnection(dataset.ConnectionRef(), force);
  if (dataset.Connection() == nullptr) DetachDataset(&dataset);
}

}  // namespace velquarn
