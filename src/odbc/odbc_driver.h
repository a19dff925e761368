// TcsODBCDriver: the ODBC implementation of the SQL driver interface. It owns
// one ODBC environment, a main connection (statements without a dataset,
// catalog calls and transaction control) and a pool of idle connections that
// datasets borrow. Text crossing into the driver manager is converted from
// code page 1252 to the driver's encoding (Charset) here, and back.
//
// Thread-safety: a driver is used by the thread that owns its database; the
// pool is a locked list, so connections may be released from other threads.
#pragma once

#include <sql.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/cp1252.h"
#include "common/string_list.h"
#include "dataset/sql_driver.h"
#include "dataset/thread_list.h"
#include "odbc/odbc_catalog_names.h"
#include "odbc/odbc_connection.h"

namespace velquarn {

// The idle connections of one driver: released ones join at the end,
// AcquireConnection takes from the front (the longest idle first), trimming
// and disconnecting take from the end. Holds the connections it lists.
class TcsConnectionPool : public TcsThreadList<TConnectionHandle> {};

struct TColumnFetch;

class TcsODBCDriver : public TcsCustomSQLDriver {
 public:
  TcsODBCDriver();
  // Disconnects, then frees the environment. Never throws.
  ~TcsODBCDriver() override;

  // Connection side.
  void SetPoolSize(int size) override;
  void Disconnect() override;
  void Connect() override;
  // EODBCDriverError "Transactions are not supported by the driver" when the
  // data source has no transactions; EcsSQLError from the driver manager.
  void ControlTransaction(int action) override;
  bool InTransaction() override;
  void ReleaseConnection(TConnectionHandle*& connection, bool force) override;
  void CloseStatement(TConnectionHandle* connection) override;
  TConnectionHandle* AcquireConnection() override;

  // Statements and catalog.
  void SetFieldOrigins(TcsDataset& dataset) override;
  int ExecSQL(const std::string& sql, TParams* params, TcsDataset* dataset) override;
  bool DescribeColumns(TcsDataset& dataset) override;
  bool FetchRecord(TRecordSink& record, char* record_buffer) override;
  void Prepare(const std::string& sql, TcsDataset& dataset) override;
  void UnPrepare(TcsDataset& dataset) override;
  void GetDefaultIndexFields(const std::string& table, TStringList& list) override;
  void GetIndexFields(const std::string& table, const std::string& index,
                      TStringList& list) override;
  void GetIndexNames(const std::string& table, TStringList& list) override;
  void GetTableNames(const std::string& schema, const std::string& pattern, TStringList& list,
                     bool system_tables, bool reserved) override;
  void GetDatabaseNames(TStringList& list) override;
  void GetDataSourceNames(TStringList& list, const std::string& server_name, int timeout,
                          int port) override;
  // Asks SQLProcedureColumns on the main connection (a driver that reports
  // no procedures is not asked). The name is cut by SplitProcedureName; a
  // single qualifier is the schema where the server has schemas, else the
  // catalog; without a catalog the current one is used. Bare parts are
  // folded as the server folds identifiers. Empty when no procedure matches
  // or several do (one name in several schemas, overloads), or when a
  // parameter's mode or position is unknown. Raises EcsSQLError when the
  // driver refuses the catalog function.
  void GetProcedureParamTypes(const std::string& procedure,
                              std::vector<TParamType>& types) override;

  // Properties. Setting ODBCDriverName or DSN closes the owning database
  // first when connected, and empties the other one.
  const std::string& ODBCDriverName() const { return odbc_driver_name_; }
  void SetODBCDriverName(const std::string& name);
  const std::string& DSN() const { return dsn_; }
  void SetDSN(const std::string& dsn);
  const TStringList& DriverParams() const { return driver_params_; }
  TStringList& DriverParams() { return driver_params_; }
  void SetDriverParams(const TStringList& params) { driver_params_ = params; }
  // Seconds; take effect for connections opened afterwards.
  int LoginTimeout() const { return login_timeout_; }
  void SetLoginTimeout(int seconds) { login_timeout_ = seconds; }
  int QueryTimeout() const { return query_timeout_; }
  void SetQueryTimeout(int seconds) { query_timeout_ = seconds; }
  const TCharset& Charset() const { return charset_; }
  void SetCharset(const TCharset& charset) { charset_ = charset; }

  bool IsConnected() const { return connected_; }
  bool TransactionsSupported() const { return transactions_supported_; }
  const std::string& ConnectString() const { return connect_string_; }
  int IdleCount() const { return pool_.LockedCount(); }
  bool HasMainConnection() const { return main_connection_ != nullptr; }

  // Loads the driver manager if needed and allocates the environment once.
  // EODBCDriverError "Unable to allocate environment handle"; Exception
  // "Unable to set environment attribute" when neither ODBC 3 nor 2 is
  // accepted (the handle then stays).
  void AllocEnvironment();
  // The connection string (in code page 1252) from the database's Params,
  // DriverParams, DSN and ODBCDriverName. EODBCDriverError "DSN and DRIVER
  // are mutually exclusive parameters" when both are set.
  std::string BuildConnectString() const;
  // A new connected connection with its statement handle; the caller owns
  // it. A connection that fails part-way is freed, never returned.
  std::unique_ptr<TConnectionHandle> NewConnection();
  // The main connection, opened on first need.
  TConnectionHandle& MainConnection();
  // Disconnects and frees the connection's handles (results not tested).
  void FreeConnection(TConnectionHandle& connection) noexcept;
  // Frees the main connection after it was found lost; the next statement
  // that needs it opens a new one. False, and nothing freed, while it holds
  // a transaction: a retry on a fresh connection would run outside it.
  bool DiscardLostMainConnection() noexcept;

  // The number of result columns found by the most recent ExecSQL; -1 when
  // it found no result set.
  int ColumnCount() const { return column_count_; }

  // Observers of the driver's work for the service's log, set by whoever
  // opens the database: a connection attempt that the driver manager or the
  // driver refused (called with the error before it is raised), and every
  // statement ExecSQL ran, with its text (code page 1252) and how long the
  // driver took, failed or not. They run on the thread using the driver and
  // must not throw.
  struct TEvents {
    std::function<void(const std::exception& error)> ConnectFailed;
    std::function<void(const std::string& sql, uint64_t elapsed_ms)> StatementRan;
    // A connection was made; Disconnected follows when it is let go (each
    // runs on the thread that made or freed it and must not throw).
    std::function<void()> Connected;
    std::function<void()> Disconnected;
  };
  void SetEvents(TEvents events) { events_ = std::move(events); }

 private:
  // Binds params to the statement, executes it (SQLExecute when prepared)
  // and sends data-at-execution values; returns the execution's result, or
  // raises its diagnostics (CheckExecution). Output parameters take their
  // returned values. The bindings are removed on return.
  SQLRETURN ExecWithParams(TConnectionHandle& connection, TParams& params,
                           const std::string& driver_sql, bool prepared);
  // Raises the statement's diagnostics unless the execution's result is
  // success, success with info or no data.
  void CheckExecution(SQLHSTMT stmt, SQLRETURN result);
  // Raises the diagnostics of a failed SQLDriverConnect, after telling
  // events_.ConnectFailed.
  [[noreturn]] void RaiseConnectError(SQLHDBC dbc, SQLRETURN result);
  // The COLUMN_SIZE the data source reports for SQL_CHAR (0 if none),
  // capped at kParamValueSize; asked once per driver.
  int CharColumnSize(TConnectionHandle& connection);
  // The split table name, with the main connection's current catalog when
  // the name gives none.
  TQualifiedName QualifiedTable(const std::string& table);
  // The main connection's current catalog (SQL_CURRENT_QUALIFIER); raises
  // EcsSQLError when the driver does not answer.
  std::string CurrentCatalog();
  // Reads a long value of column whole; false for a null value.
  bool ReadLongData(SQLHSTMT stmt, SQLUSMALLINT column, std::string& value);
  // Fetches a blob or memo column into the record (memo text converted).
  void FetchLongData(const TColumnFetch& fetch);

  bool connected_ = false;
  SQLHENV environment_ = SQL_NULL_HENV;
  std::string connect_string_;
  std::unique_ptr<TConnectionHandle> main_connection_;
  std::string current_catalog_;
  TStringList driver_params_;
  int login_timeout_ = 30;
  int query_timeout_ = 30;
  bool transactions_supported_ = false;
  std::string odbc_driver_name_;
  std::string dsn_;
  TCharset charset_;
  TcsConnectionPool pool_;  // owns the connections it lists
  SQLSMALLINT column_count_ = -1;
  int char_column_size_ = -1;  // -1 until asked
  TEvents events_;
};

}  // namespace velquarn
