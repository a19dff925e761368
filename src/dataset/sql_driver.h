// TcsCustomSQLDriver: the seam between the dataset layer and a concrete SQL
// driver. TcsODBCDriver (src/odbc) is its only implementation. The dataset
// layer never looks inside a TConnectionHandle: it is the driver's own.
#pragma once

#include <memory>
#include <string>

#include "dataset/db_types.h"

namespace velquarn {

class TcsCustomDatabase;
class TcsDataset;
class TField;
class TParams;
class TStringList;
class EcsSQLError;
class TConnectionHandle;  // defined by the driver

class TcsCustomSQLDriver {
 public:
  TcsCustomSQLDriver() = default;
  TcsCustomSQLDriver(const TcsCustomSQLDriver&) = delete;
  TcsCustomSQLDriver& operator=(const TcsCustomSQLDriver&) = delete;
  virtual ~TcsCustomSQLDriver();

  // Virtual operations, in slot order; see each for its default.
  virtual void SetFieldOrigins(TcsDataset& dataset);  // default: nothing
  virtual void SetPoolSize(int size);                  // default: stores size
  virtual void Disconnect() = 0;
  virtual void Connect() = 0;
  virtual void ControlTransaction(int action) = 0;  // 0 start, 1 commit, 2 roll back
  virtual bool InTransaction() = 0;
  virtual void GetDefaultIndexFields(const std::string& table, TStringList& list);  // nothing
  virtual void GetIndexFields(const std::string& table, const std::string& index,
                              TStringList& list) = 0;
  virtual void GetIndexNames(const std::string& table, TStringList& list) = 0;
  virtual void GetTableNames(const std::string& schema, const std::string& pattern,
                             TStringList& list, bool system_tables, bool reserved) = 0;
  virtual void GetDatabaseNames(TStringList& list) = 0;
  virtual void GetDataSourceNames(TStringList& list, const std::string& server_name,
                                  int timeout, int port);  // default: nothing
  // Returns the rows affected. dataset may be null (main connection).
  virtual int ExecSQL(const std::string& sql, TParams* params, TcsDataset* dataset) = 0;
  virtual bool DescribeColumns(TcsDataset& dataset);  // default: false
  virtual bool FetchRecord(TcsDataset& dataset, char* record_buffer) = 0;
  // Sets connection to null; a null connection does nothing.
  virtual void ReleaseConnection(TConnectionHandle*& connection, bool force) = 0;
  virtual void CloseStatement(TConnectionHandle* connection);  // default: nothing
  virtual TConnectionHandle* AcquireConnection() = 0;
  virtual void Prepare(const std::string& sql, TcsDataset& dataset);  // default: nothing
  virtual void UnPrepare(TcsDataset& dataset);                        // default: nothing

  // Helpers for implementations.
  // Appends a diagnostic record to the pending error, creating it if needed.
  void AddError(const std::string& state, const std::string& message, int native_error,
                int column);
  // Raises the pending error, if any, and forgets it.
  void RaisePendingError();
  void StoreBlobValue(TcsDataset& dataset, TField& field, char* record_buffer,
                      const std::string& value);

  TTransIsolation TransIsolation() const { return trans_isolation_; }
  void SetTransIsolation(TTransIsolation value) { trans_isolation_ = value; }
  int PoolSize() const { return pool_size_; }
  TcsCustomDatabase* Database() const { return database_; }
  // Tells the driver which database it serves; closes any other connected
  // database it served before.
  virtual void SetDatabase(TcsCustomDatabase* database);

 protected:
  TTransIsolation trans_isolation_ = tiReadCommitted;
  int pool_size_ = 0;
  TcsCustomDatabase* database_ = nullptr;  // not owned
  std::unique_ptr<EcsSQLError> pending_error_;
};

}  // namespace velquarn
