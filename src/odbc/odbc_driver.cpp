#include "odbc/odbc_driver.h"

#include <sqlext.h>

#include <cstdint>
#include <utility>

#include "common/exceptions.h"
#include "dataset/database.h"
#include "odbc/connect_string.h"
#include "odbc/odbc_diagnostics.h"
#include "odbc/odbc_entry_points.h"

namespace velquarn {

namespace {

// An ODBC attribute value passed in the pointer argument.
SQLPOINTER IntAttribute(intptr_t value) { return reinterpret_cast<SQLPOINTER>(value); }

SQLINTEGER IsolationLevel(TTransIsolation isolation) {
  switch (isolation) {
    case tiDirtyRead:
      return SQL_TXN_READ_UNCOMMITTED;
    case tiRepeatableRead:
      return SQL_TXN_REPEATABLE_READ;
    case tiReadCommitted:
    default:
      return SQL_TXN_READ_COMMITTED;
  }
}

// A driver-specific connection attribute that every new connection sets to
// 1; drivers that do not know it refuse it, and the result is ignored.
constexpr SQLINTEGER kDriverSpecificAttribute = 1257;

}  // namespace

TcsODBCDriver::TcsODBCDriver() = default;

TcsODBCDriver::~TcsODBCDriver() {
  try {
    if (connected_ || main_connection_ != nullptr || pool_.LockedCount() > 0) Disconnect();
  } catch (...) {
  }
  if (environment_ != SQL_NULL_HENV) {
    ODBC().SQLFreeHandle(SQL_HANDLE_ENV, environment_);
    environment_ = SQL_NULL_HENV;
  }
}

void TcsODBCDriver::AllocEnvironment() {
  if (environment_ != SQL_NULL_HENV) return;
  LoadODBC();
  SQLHENV environment = SQL_NULL_HENV;
  if (ODBC().SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment) != SQL_SUCCESS) {
    throw EODBCDriverError(kUnableToAllocateEnvironment);
  }
  environment_ = environment;
  SQLRETURN result =
      ODBC().SQLSetEnvAttr(environment_, SQL_ATTR_ODBC_VERSION, IntAttribute(SQL_OV_ODBC3), 0);
  if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO) {
    result =
        ODBC().SQLSetEnvAttr(environment_, SQL_ATTR_ODBC_VERSION, IntAttribute(SQL_OV_ODBC2), 0);
    if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO) {
      throw Exception("Unable to set environment attribute");
    }
  }
  ODBC().SQLSetEnvAttr(environment_, SQL_ATTR_CONNECTION_POOLING,
                       IntAttribute(SQL_CP_ONE_PER_DRIVER), SQL_IS_INTEGER);
}

std::string TcsODBCDriver::BuildConnectString() const {
  if (!dsn_.empty() && !odbc_driver_name_.empty()) {
    throw EODBCDriverError(kDsnAndDriverExclusive);
  }
  static const TStringList kNoParams;
  const TStringList& params = database_ != nullptr ? database_->Params() : kNoParams;
  // Every value is quoted: user ids and passwords come from clients, and a
  // value left bare could end early and name keywords of its own.
  std::string text;
  auto translate = [&](const char* name, const char* key) {
    std::string value = params.Values(name);
    if (!value.empty()) text += std::string(key) + "=" + QuoteConnectValue(value) + ";";
  };
  translate("Database Name", "DBQ");
  std::string server = QuoteConnectValue(params.Values("Server Name"));
  if (!server.empty()) text += "Server=" + server + ";System=" + server + ";";
  translate("User Name", "UID");
  translate("Password", "PWD");
  for (int i = 0; i < params.Count(); ++i) text += QuoteConnectPair(params[i]) + ";";
  for (int i = 0; i < driver_params_.Count(); ++i) {
    text += QuoteConnectPair(driver_params_[i]) + ";";
  }
  if (!dsn_.empty()) text += "DSN=" + QuoteConnectValue(dsn_);
  if (!odbc_driver_name_.empty()) {
    // Driver names are always written in braces, as the driver manager
    // expects for names with blanks.
    const std::string name = QuoteConnectValue(odbc_driver_name_);
    text += "Driver=" + (IsBraceQuoted(name) ? name : "{" + name + "}");
  }
  return text;
}

std::unique_ptr<TConnectionHandle> TcsODBCDriver::NewConnection() {
  // Owned here until it is complete: any failure below frees its handles.
  auto connection = std::make_unique<TConnectionHandle>(environment_);
  if (connection->AllocDbc() != SQL_SUCCESS) throw EODBCDriverError(kUnableToAllocateConnection);
  connect_string_ = BuildConnectString();
  SQLHDBC dbc = connection->Dbc();
  CheckDbcResult(
      *this, dbc,
      ODBC().SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, IntAttribute(login_timeout_), 0));
  ODBC().SQLSetConnectAttr(dbc, kDriverSpecificAttribute, IntAttribute(1), SQL_IS_INTEGER);

  std::string driver_text = charset_.ToDriver(connect_string_);
  SQLSMALLINT out_length = 0;
  SQLRETURN result =
      ODBC().SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(driver_text.data()), SQL_NTS,
                              nullptr, 0, &out_length, SQL_DRIVER_NOPROMPT);
  if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO) RaiseConnectError(dbc, result);
  connection->MarkConnected(events_.Disconnected);
  if (events_.Connected) events_.Connected();

  if (!current_catalog_.empty()) {
    std::string catalog = charset_.ToDriver(current_catalog_);
    ODBC().SQLSetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG,
                             reinterpret_cast<SQLPOINTER>(catalog.data()), SQL_NTS);
  }
  if (database_ != nullptr && database_->ReadOnly()) {
    ODBC().SQLSetConnectAttr(dbc, SQL_ATTR_ACCESS_MODE, IntAttribute(SQL_MODE_READ_ONLY), 0);
  }
  // Generated update SQL quotes identifiers with what the driver reports: a
  // backquote from MySQL-family servers, which read "x" as a string unless
  // their sql_mode has ANSI_QUOTES. A blank (no quoting) or a multi-character
  // answer keeps the double quote.
  char quote[8] = {};
  SQLSMALLINT quote_length = 0;
  if (SQL_SUCCEEDED(
          ODBC().SQLGetInfo(dbc, SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &quote_length)) &&
      quote_length == 1 && quote[0] != ' ') {
    SetIdentifierQuote(quote[0]);
  }
  SQLUSMALLINT txn_capable = SQL_TC_NONE;
  CheckDbcResult(*this, dbc, ODBC().SQLGetInfo(dbc, SQL_TXN_CAPABLE, &txn_capable, 2, nullptr));
  transactions_supported_ = txn_capable != SQL_TC_NONE;
  if (transactions_supported_) {
    CheckDbcResult(
        *this, dbc,
        ODBC().SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION,
                                 IntAttribute(IsolationLevel(trans_isolation_)), SQL_IS_INTEGER));
  }
  if (connection->AllocStmt() != SQL_SUCCESS) throw EODBCDriverError(kUnableToAllocateStatement);
  SQLHSTMT stmt = connection->Stmt();
  ODBC().SQLSetStmtOption(stmt, SQL_QUERY_TIMEOUT, static_cast<SQLULEN>(query_timeout_));
  ODBC().SQLSetStmtAttr(stmt, SQL_ATTR_NOSCAN, IntAttribute(SQL_NOSCAN_ON), 0);
  return connection;
}

void TcsODBCDriver::RaiseConnectError(SQLHDBC dbc, SQLRETURN result) {
  try {
    if (result == SQL_NO_DATA) throw EODBCDriverError(kUnableToConnect);
    RaiseDiagnostics(*this, SQL_HANDLE_DBC, dbc, result);
  } catch (const std::exception& error) {
    if (events_.ConnectFailed) events_.ConnectFailed(error);
    throw;
  }
}

TConnectionHandle& TcsODBCDriver::MainConnection() {
  if (main_connection_ == nullptr) main_connection_ = NewConnection();
  return *main_connection_;
}

void TcsODBCDriver::FreeConnection(TConnectionHandle& connection) noexcept { connection.FreeDbc(); }

bool TcsODBCDriver::DiscardLostMainConnection() noexcept {
  if (main_connection_ == nullptr) return true;
  try {
    if (InTransaction()) return false;
  } catch (...) {
    return false;
  }
  main_connection_.reset();
  return true;
}

void TcsODBCDriver::Connect() {
  if (connected_) return;
  AllocEnvironment();
  current_catalog_ = database_ != nullptr ? database_->Params().Values("Database Name") : "";
  connect_string_.clear();
  TConnectionHandle* connection = NewConnection().release();
  ReleaseConnection(connection, false);
  connected_ = true;
}

void TcsODBCDriver::Disconnect() {
  char_column_size_ = -1;
  while (pool_.LockedCount() > 0) {
    std::unique_ptr<TConnectionHandle> connection(pool_.TakeLast());
    if (connection != nullptr) FreeConnection(*connection);
  }
  if (main_connection_ != nullptr) {
    FreeConnection(*main_connection_);
    connect_string_.clear();
    main_connection_.reset();
  }
  connected_ = false;
}

void TcsODBCDriver::SetPoolSize(int size) {
  TcsCustomSQLDriver::SetPoolSize(size);
  if (size < 0) return;
  while (pool_.LockedCount() > size) {
    std::unique_ptr<TConnectionHandle> connection(pool_.TakeLast());
    if (connection != nullptr) FreeConnection(*connection);
  }
}

TConnectionHandle* TcsODBCDriver::AcquireConnection() {
  if (!connected_) Connect();
  if (TConnectionHandle* pooled = pool_.TakeFirst()) return pooled;
  return NewConnection().release();
}

void TcsODBCDriver::ReleaseConnection(TConnectionHandle*& connection, bool force) {
  if (connection == nullptr) return;
  std::unique_ptr<TConnectionHandle> owned(connection);
  connection = nullptr;
  if (force || pool_.LockedCount() >= pool_size_) {
    owned->FreeStmt();
    FreeConnection(*owned);
    return;
  }
  CloseStatement(owned.get());
  pool_.Add(owned.release());
}

void TcsODBCDriver::CloseStatement(TConnectionHandle* connection) {
  if (connection == nullptr || connection->Stmt() == SQL_NULL_HSTMT) return;
  // SQLFreeStmt(SQL_CLOSE) rather than SQLCloseCursor: after a failed
  // procedure call the PostgreSQL driver keeps its cursor open while the
  // driver manager refuses SQLCloseCursor (no cursor in its state), and every
  // later statement on the connection then fails with HY010. SQL_CLOSE
  // reaches the driver in every state and is harmless without a cursor.
  ODBC().SQLFreeStmt(connection->Stmt(), SQL_CLOSE);
}

void TcsODBCDriver::ControlTransaction(int action) {
  // Whether the data source has transactions is known only once a
  // connection was made; connecting first also lets a failed connect report
  // its own error instead of claiming that transactions are unsupported.
  if (!connected_) Connect();
  SQLHDBC dbc = MainConnection().Dbc();
  if (!transactions_supported_) throw EODBCDriverError(kTransactionsNotSupported);
  if (action < 0 || action > 2) return;
  switch (action) {
    case 0:
      CheckDbcResult(
          *this, dbc,
          ODBC().SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, IntAttribute(SQL_AUTOCOMMIT_OFF), 0));
      break;
    case 1:
    case 2:
      CheckDbcResult(
          *this, dbc,
          ODBC().SQLEndTran(SQL_HANDLE_DBC, dbc, action == 1 ? SQL_COMMIT : SQL_ROLLBACK));
      CheckDbcResult(
          *this, dbc,
          ODBC().SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, IntAttribute(SQL_AUTOCOMMIT_ON), 0));
      break;
  }
}

bool TcsODBCDriver::InTransaction() {
  // A connection not yet opened cannot be inside a transaction: answering
  // without opening one keeps a disconnect from connecting just to ask.
  if (main_connection_ == nullptr) return false;
  if (!transactions_supported_) return false;
  SQLHDBC dbc = main_connection_->Dbc();
  SQLUINTEGER autocommit = SQL_AUTOCOMMIT_ON;
  CheckDbcResult(*this, dbc, ODBC().SQLGetConnectOption(dbc, SQL_AUTOCOMMIT, &autocommit));
  return autocommit == SQL_AUTOCOMMIT_OFF;
}

void TcsODBCDriver::SetODBCDriverName(const std::string& name) {
  if (connected_ && database_ != nullptr) database_->Close();
  dsn_.clear();
  odbc_driver_name_ = name;
}

void TcsODBCDriver::SetDSN(const std::string& dsn) {
  if (connected_ && database_ != nullptr) database_->Close();
  odbc_driver_name_.clear();
  dsn_ = dsn;
}

}  // namespace velquarn
