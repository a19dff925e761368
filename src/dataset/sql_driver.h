// TcsCustomSQLDriver: the seam between the dataset layer and a concrete SQL
// driver. TcsODBCDriver (src/odbc) is its only implementation. The dataset
// layer never looks inside a TConnectionHandle: it is the driver's own, and
// the dataset layer only passes references back to the driver.
//
// Thread-safety: a driver is used by the thread that owns its database. Only
// the connection pool of an implementation is shared (it is a locked list).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/db_types.h"
#include "dataset/record_sink.h"
#include "dataset/sql_errors.h"

namespace velquarn {

class TcsCustomDatabase;
class TcsDataset;
class TField;
class TParams;
class TStringList;
class TConnectionHandle;  // defined by the driver

class TcsCustomSQLDriver {
 public:
  TcsCustomSQLDriver() = default;
  TcsCustomSQLDriver(const TcsCustomSQLDriver&) = delete;
  TcsCustomSQLDriver& operator=(const TcsCustomSQLDriver&) = delete;
  virtual ~TcsCustomSQLDriver();

  // Virtual operations, in slot order; "default" is what this class does.

  // Called once per open after the dataset's fields are bound: every field
  // with a field number above 0 gets the result column's name as its origin,
  // "Column%d" (1-based position) when the name is empty. Default: nothing.
  virtual void SetFieldOrigins(TcsDataset& dataset);
  // Maximum number of idle pooled connections; a lower value trims the pool
  // at once. Default: stores size.
  virtual void SetPoolSize(int size);
  // Closes and frees every pooled connection and the main connection.
  virtual void Disconnect() = 0;
  // No effect when connected; otherwise opens one connection from the
  // database's Params and releases it into the pool. Raises on failure.
  virtual void Connect() = 0;
  // 0 start, 1 commit, 2 roll back; on the main connection only.
  virtual void ControlTransaction(int action) = 0;
  virtual bool InTransaction() = 0;
  // Each catalog call clears the list and fills it. Default: clears nothing.
  virtual void GetDefaultIndexFields(const std::string& table, TStringList& list);
  virtual void GetIndexFields(const std::string& table, const std::string& index,
                              TStringList& list) = 0;
  virtual void GetIndexNames(const std::string& table, TStringList& list) = 0;
  virtual void GetTableNames(const std::string& schema, const std::string& pattern,
                             TStringList& list, bool system_tables, bool reserved) = 0;
  virtual void GetDatabaseNames(TStringList& list) = 0;
  // Default: nothing. The ODBC driver ignores the last three arguments.
  virtual void GetDataSourceNames(TStringList& list, const std::string& server_name, int timeout,
                                  int port);
  // The directions of a stored procedure's parameters in their order
  // (ptInput, ptOutput or ptInputOutput each), as the database's catalog
  // reports them; cleared and left empty when it reports none or the answer
  // is ambiguous. Default: clears.
  virtual void GetProcedureParamTypes(const std::string& procedure, std::vector<TParamType>& types);
  // Runs sql ("?" markers). With a dataset: on its connection (acquiring one
  // if it has none), leaving the result open; without: on the main
  // connection. Returns the rows affected. On failure the dataset's
  // connection is force-released before the error is raised.
  virtual int ExecSQL(const std::string& sql, TParams* params, TcsDataset* dataset) = 0;
  // Calls dataset.AddColumnDef per result column. Default: returns false.
  virtual bool DescribeColumns(TcsDataset& dataset);
  // Fetches the next row of the result on record.Connection() into
  // record_buffer through the record's stores; false (buffer untouched) at
  // the end.
  virtual bool FetchRecord(TRecordSink& record, char* record_buffer) = 0;
  // Gives the connection back: closes and frees it when force is set or the
  // pool is full, else pools it. Sets connection to null; null does nothing.
  virtual void ReleaseConnection(TConnectionHandle*& connection, bool force) = 0;
  // Closes any open cursor on the connection. Default: nothing.
  virtual void CloseStatement(TConnectionHandle* connection);
  // Connects if needed, then returns the oldest idle pooled connection or a
  // new one. The caller holds it until ReleaseConnection.
  virtual TConnectionHandle* AcquireConnection() = 0;
  // Default: nothing.
  virtual void Prepare(const std::string& sql, TcsDataset& dataset);
  // Default: nothing.
  virtual void UnPrepare(TcsDataset& dataset);

  // Helpers for implementations.

  // Appends a record to the pending error; when none is pending, creates it
  // with this record, whose text becomes the error's message.
  void AddError(int native_error, const std::string& error_text, int aux1, int aux2);
  void AddError(TcsError record);
  // Raises the pending error, if any, and forgets it.
  void RaisePendingError();
  bool HasPendingError() const { return pending_error_ != nullptr; }

  // The quote around identifiers in generated SQL, as the database reports
  // it when connected (SQLGetInfo SQL_IDENTIFIER_QUOTE_CHAR for ODBC); a
  // double quote until then and when the database reports none.
  char IdentifierQuote() const { return identifier_quote_; }
  void SetIdentifierQuote(char quote) { identifier_quote_ = quote; }

  TTransIsolation TransIsolation() const { return trans_isolation_; }
  void SetTransIsolation(TTransIsolation value) { trans_isolation_ = value; }
  int PoolSize() const { return pool_size_; }
  TcsCustomDatabase* Database() const { return database_; }
  // Tells the driver which database it serves; closes the database it served
  // before when that one is a different, connected database.
  virtual void SetDatabase(TcsCustomDatabase* database);

 protected:
  TTransIsolation trans_isolation_ = tiReadCommitted;
  int pool_size_ = 0;
  char identifier_quote_ = '"';
  TcsCustomDatabase* database_ = nullptr;  // not owned
  std::unique_ptr<EcsSQLError> pending_error_;
};

}  // namespace velquarn
