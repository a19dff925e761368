// The process-wide table of the ODBC driver manager's entry points. The
// driver manager (unixODBC) is loaded with dlopen at run time, never linked:
// LoadODBC resolves forty-seven functions by name, in the order of the
// table, and every ODBC call of this folder goes through ODBC().
//
// Thread-safety: LoadODBC may be called from many threads at once; it loads
// under a mutex and publishes the table (an atomic flag, release/acquire)
// only when every slot is filled, so the table is read without locking by
// any thread that has returned from LoadODBC. The library is unloaded once,
// at process end.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

namespace velquarn {

// The ANSI ODBC 3 API, plus two functions of ODBC 2 standing
// (SQLGetConnectOption, SQLSetStmtOption), in resolution order.
struct TODBCEntryPoints {
  decltype(&::SQLAllocHandle) SQLAllocHandle;
  decltype(&::SQLSetEnvAttr) SQLSetEnvAttr;
  decltype(&::SQLFreeHandle) SQLFreeHandle;
  decltype(&::SQLGetInfo) SQLGetInfo;
  decltype(&::SQLGetTypeInfo) SQLGetTypeInfo;
  decltype(&::SQLProcedures) SQLProcedures;
  decltype(&::SQLColumns) SQLColumns;
  decltype(&::SQLSpecialColumns) SQLSpecialColumns;
  decltype(&::SQLGetDiagRec) SQLGetDiagRec;
  decltype(&::SQLConnect) SQLConnect;
  decltype(&::SQLDisconnect) SQLDisconnect;
  decltype(&::SQLDriverConnect) SQLDriverConnect;
  decltype(&::SQLExecDirect) SQLExecDirect;
  decltype(&::SQLPrepare) SQLPrepare;
  decltype(&::SQLCloseCursor) SQLCloseCursor;
  decltype(&::SQLCancel) SQLCancel;
  decltype(&::SQLExecute) SQLExecute;
  decltype(&::SQLFetch) SQLFetch;
  decltype(&::SQLMoreResults) SQLMoreResults;
  decltype(&::SQLNumResultCols) SQLNumResultCols;
  decltype(&::SQLDescribeCol) SQLDescribeCol;
  decltype(&::SQLFetchScroll) SQLFetchScroll;
  decltype(&::SQLExtendedFetch) SQLExtendedFetch;
  decltype(&::SQLGetData) SQLGetData;
  decltype(&::SQLSetStmtAttr) SQLSetStmtAttr;
  decltype(&::SQLGetStmtAttr) SQLGetStmtAttr;
  decltype(&::SQLBulkOperations) SQLBulkOperations;
  decltype(&::SQLPutData) SQLPutData;
  decltype(&::SQLBindCol) SQLBindCol;
  decltype(&::SQLSetPos) SQLSetPos;
  decltype(&::SQLDataSources) SQLDataSources;
  decltype(&::SQLDrivers) SQLDrivers;
  decltype(&::SQLSetConnectAttr) SQLSetConnectAttr;
  decltype(&::SQLGetConnectOption) SQLGetConnectOption;
  decltype(&::SQLSetStmtOption) SQLSetStmtOption;
  decltype(&::SQLGetCursorName) SQLGetCursorName;
  decltype(&::SQLSetCursorName) SQLSetCursorName;
  decltype(&::SQLRowCount) SQLRowCount;
  decltype(&::SQLBindParameter) SQLBindParameter;
  decltype(&::SQLParamData) SQLParamData;
  decltype(&::SQLFreeStmt) SQLFreeStmt;
  decltype(&::SQLColAttribute) SQLColAttribute;
  decltype(&::SQLEndTran) SQLEndTran;
  decltype(&::SQLTables) SQLTables;
  decltype(&::SQLPrimaryKeys) SQLPrimaryKeys;
  decltype(&::SQLStatistics) SQLStatistics;
  decltype(&::SQLProcedureColumns) SQLProcedureColumns;
};

inline constexpr int kODBCEntryPointCount = 47;

// The names of the table's slots, in resolution order.
const std::vector<std::string>& ODBCEntryPointNames();

// Loads the driver manager and fills the table; returns at once when loaded.
// Tries "libodbc.so.2", then "libodbc.so". Raises Exception with the
// dlerror() text of the last attempt when neither loads, and Exception
// "GetProcAddress for odbc32.dll failed. Entrypoint: <name>" for the first
// name, in table order, that the library lacks. After a failure nothing is
// kept, so the next call starts over.
void LoadODBC();

// The loaded table. REQUIRES: LoadODBC has returned on this thread, or the
// caller holds an object (environment, connection) created after it did.
const TODBCEntryPoints& ODBC();

// Test hooks. None of them may run while another thread uses ODBC.
namespace odbc_testing {
// The library names LoadODBC tries, in order; an empty list restores the
// defaults. Takes effect at the next load.
void SetLibraryNames(std::vector<std::string> names);
// Unloads the library (if loaded) so that the next LoadODBC starts over.
// REQUIRES: no ODBC handle of the old library is alive.
void Unload();
// How many times the library was loaded successfully in this process.
int LoadCount();
// Replaces the table by `fakes` while the object lives (the real library
// stays loaded; LoadODBC loads it first if needed, so fakes may call
// through to the saved real table). Restores the previous table on
// destruction.
class ScopedEntryPoints {
 public:
  explicit ScopedEntryPoints(const TODBCEntryPoints& fakes);
  ~ScopedEntryPoints();
  ScopedEntryPoints(const ScopedEntryPoints&) = delete;
  ScopedEntryPoints& operator=(const ScopedEntryPoints&) = delete;
  // The table that was in force before this object replaced it.
  const TODBCEntryPoints& Saved() const { return saved_; }

 private:
  TODBCEntryPoints saved_;
};
}  // namespace odbc_testing

}  // namespace velquarn
