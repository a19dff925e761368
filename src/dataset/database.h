// TcsCustomDatabase: the abstract database component. It holds the
// connection parameters, owns one driver, tracks the connected state and the
// datasets that hold a connection from its driver, and forwards transaction
// and catalog calls to the driver. TcsODBCDatabase (src/odbc) is the
// concrete class.
//
// Thread-safety: a database is used by one thread at a time (in the server,
// the thread of the client connection that owns it). The attached-datasets
// list is a locked list and may be touched from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/string_list.h"
#include "dataset/component.h"
#include "dataset/db_types.h"
#include "dataset/sql_driver.h"
#include "dataset/thread_list.h"

namespace velquarn {

class TcsDataset;
class TParams;

class TcsCustomDatabase : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TcsCustomDatabase& sender)>;
  // Setting cancel_open stops the connect without an error.
  using TLoginEvent = std::function<void(TcsCustomDatabase& sender, bool& cancel_open)>;

  TcsCustomDatabase();
  // Leaves the global list, sends the removal notices (datasets linked by
  // FreeNotification let go of the database), releases the connections of
  // datasets still attached (they are not owned, so not freed), then
  // disconnects and frees the driver. Never throws.
  ~TcsCustomDatabase() override;

  // Virtual operations, in slot order.

  // Takes ownership of driver (null detaches). Closes the database first when
  // a driver is attached and connected, tells the new driver its database and
  // passes ConnectionPoolSize on. Passing the current driver does nothing.
  virtual void SetDriver(std::unique_ptr<TcsCustomSQLDriver> driver);
  // Sets Connected to False; Closing() is true meanwhile.
  virtual void Close();
  // Sets Connected to True.
  virtual void Open();

  // Connected. Setting fires BeforeConnect, connects, fires AfterConnect (or
  // the disconnect counterparts); AfterConnect also fires when OnLogin
  // cancelled the connect, but not when the connect raised. While loading,
  // the value is only remembered and applied by EndLoading.
  // Connect raises EDatabaseError "Database has no driver defined" without a
  // driver and EAbort when the login prompt is cancelled (not while loading);
  // driver errors pass through unchanged.
  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  bool Closing() const { return closing_; }

  // Streaming (TComponent::BeginLoading / EndLoading): when loading ends,
  // an empty DataBaseName is set to the component name (without
  // registering it) and the remembered Connected is applied.

  // The component name. It must be an identifier, else Exception
  // "''%s'' is not a valid component name". When DataBaseName is empty and
  // the database is not loading, it becomes the name and the database is
  // added to the global database list (which may rename it).
  void SetName(const std::string& name) override;

  // The key in the global database list. Setting a different name takes it
  // only when the list has no database of that name; otherwise the name
  // silently stays.
  const std::string& DataBaseName() const { return database_name_; }
  void SetDataBaseName(const std::string& name);

  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value) { exclusive_ = value; }
  bool LoginPrompt() const { return login_prompt_; }
  void SetLoginPrompt(bool value) { login_prompt_ = value; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  TStringList& Params() { return params_; }
  const TStringList& Params() const { return params_; }
  void SetParams(const TStringList& params) { params_ = params; }
  TTransIsolation TransIsolation() const { return trans_isolation_; }
  void SetTransIsolation(TTransIsolation value) { trans_isolation_ = value; }
  int ConnectionPoolSize() const { return connection_pool_size_; }
  // Stores the size and passes it to the driver's SetPoolSize.
  void SetConnectionPoolSize(int size);

  TNotifyEvent BeforeConnect;
  TNotifyEvent AfterConnect;
  TNotifyEvent BeforeDisconnect;
  TNotifyEvent AfterDisconnect;
  TLoginEvent OnLogin;

  TcsCustomSQLDriver* Driver() const { return driver_.get(); }

  // Transactions. StartTransaction connects first when closed (raising the
  // connect's error) and raises "Transaction already started. Must
  // Commit or Rollback before starting new transaction." while one is open;
  // Commit and Rollback raise "Operation invalid on closed database" when not
  // connected and "No transaction active." without a transaction;
  // InTransaction raises "Operation invalid on closed database" when not
  // connected. All are EDatabaseError.
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction();

  // Catalog forwarders. All but GetDatabaseNames and GetDataSourceNames open
  // the database first. An empty server_name is replaced by Params "Server";
  // if still empty, EDatabaseError "No server name specified".
  void GetDataSourceNames(TStringList& list, const std::string& server_name, int timeout = 30,
                          int port = 8888);
  void GetDatabaseNames(TStringList& list);
  void GetTableNames(const std::string& schema, const std::string& pattern, TStringList& list,
                     bool system_tables, bool reserved);
  void GetIndexNames(const std::string& table, TStringList& list);
  void GetIndexFields(const std::string& table, const std::string& index, TStringList& list);
  void GetDefaultIndexFields(const std::string& table, TStringList& list);
  // The driver's GetProcedureParamTypes; opens the database first.
  void GetProcedureParamTypes(const std::string& procedure, std::vector<TParamType>& types);

  // Opens the database when needed and returns the driver's result.
  int ExecSQL(const std::string& sql, TParams* params, TcsDataset* dataset);
  // Connects when needed, then asks the driver; null without a driver.
  TConnectionHandle* AcquireConnection();

  // Attached datasets: those that hold a connection from this database's
  // driver. Attaching an attached dataset does nothing.
  void AttachDataset(TcsDataset* dataset);
  void DetachDataset(TcsDataset* dataset);
  // Hands the dataset's connection back to the driver and, once the
  // dataset's reference is null, detaches it.
  void ReleaseDatasetConnection(TcsDataset& dataset, bool force);
  int AttachedCount() const { return datasets_.LockedCount(); }

 protected:
  // The connect and disconnect steps behind SetConnected.
  virtual void DoConnect();
  virtual void DoDisconnect();
  void Loaded() override;

 private:
  friend class TGlobalDatabaseList;
  void ApplyConnected(bool value);
  TcsCustomSQLDriver& RequireDriver() const;
  void OpenIfClosed();

  bool connected_ = false;
  bool stream_connected_ = false;
  bool applying_stream_ = false;  // Loaded is applying the remembered Connected
  bool closing_ = false;
  std::string database_name_;
  bool exclusive_ = false;
  bool login_prompt_ = true;
  bool read_only_ = false;
  TStringList params_;
  TTransIsolation trans_isolation_ = tiReadCommitted;
  int connection_pool_size_ = 5;
  std::unique_ptr<TcsCustomSQLDriver> driver_;
  TcsThreadList<TcsDataset> datasets_;
};

}  // namespace velquarn
