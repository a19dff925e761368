#include "odbc/odbc_entry_points.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "common/exceptions.h"

namespace velquarn {

#define VELQUARN_ODBC_ENTRY_POINTS(X)                                                              \
  X(SQLAllocHandle)                                                                                \
  X(SQLSetEnvAttr)                                                                                 \
  X(SQLFreeHandle)                                                                                 \
  X(SQLGetInfo) X(SQLGetTypeInfo) X(SQLProcedures) X(SQLColumns) X(SQLSpecialColumns)              \
      X(SQLGetDiagRec) X(SQLConnect) X(SQLDisconnect) X(SQLDriverConnect) X(SQLExecDirect)         \
          X(SQLPrepare) X(SQLCloseCursor) X(SQLCancel) X(SQLExecute) X(SQLFetch) X(SQLMoreResults) \
              X(SQLNumResultCols) X(SQLDescribeCol) X(SQLFetchScroll) X(SQLExtendedFetch)          \
                  X(SQLGetData) X(SQLSetStmtAttr) X(SQLGetStmtAttr) X(SQLBulkOperations)           \
                      X(SQLPutData) X(SQLBindCol) X(SQLSetPos) X(SQLDataSources) X(SQLDrivers)     \
                          X(SQLSetConnectAttr) X(SQLGetConnectOption) X(SQLSetStmtOption)          \
                              X(SQLGetCursorName) X(SQLSetCursorName) X(SQLRowCount)               \
                                  X(SQLBindParameter) X(SQLParamData) X(SQLFreeStmt)               \
                                      X(SQLColAttribute) X(SQLEndTran) X(SQLTables)                \
                                          X(SQLPrimaryKeys) X(SQLStatistics)                       \
                                              X(SQLProcedureColumns)

namespace {

// Owns the dlopen handle; the process-end destructor unloads the library.
class TODBCLibrary {
 public:
  ~TODBCLibrary() { Close(); }

  void Close() noexcept {
    if (handle_ != nullptr) {
      dlclose(handle_);
      handle_ = nullptr;
    }
  }

  std::mutex mutex;
  void* handle_ = nullptr;                                       // Guarded by mutex
  std::vector<std::string> names{"libodbc.so.2", "libodbc.so"};  // Guarded by mutex
  int load_count = 0;                                            // Guarded by mutex
};

TODBCLibrary g_library;
TODBCEntryPoints g_table{};
// Set, with release order, only after every slot of g_table is filled.
std::atomic<bool> g_loaded{false};

void* GetODBCEntryPoint(void* handle, const char* name) {
  void* address = dlsym(handle, name);
  if (address == nullptr) {
    throw Exception(std::string("GetProcAddress for odbc32.dll failed. Entrypoint: ") + name);
  }
  return address;
}

}  // namespace

const std::vector<std::string>& ODBCEntryPointNames() {
#define VELQUARN_NAME(name) #name,
  static const std::vector<std::string> names{VELQUARN_ODBC_ENTRY_POINTS(VELQUARN_NAME)};
#undef VELQUARN_NAME
  return names;
}

void LoadODBC() {
  if (g_loaded.load(std::memory_order_acquire)) return;
  std::scoped_lock lock(g_library.mutex);
  if (g_loaded.load(std::memory_order_relaxed)) return;

  void* handle = nullptr;
  std::string error;
  for (const std::string& name : g_library.names) {
    handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) break;
    const char* text = dlerror();
    error = text != nullptr ? text : name + ": cannot be loaded";
  }
  if (handle == nullptr) throw Exception(error);

  TODBCEntryPoints table{};
  try {
#define VELQUARN_RESOLVE(name) \
  table.name = reinterpret_cast<decltype(table.name)>(GetODBCEntryPoint(handle, #name));
    VELQUARN_ODBC_ENTRY_POINTS(VELQUARN_RESOLVE)
#undef VELQUARN_RESOLVE
  } catch (...) {
    // Nothing of a failed load is kept: the next call starts over.
    dlclose(handle);
    throw;
  }
  g_table = table;
  g_library.handle_ = handle;
  ++g_library.load_count;
  g_loaded.store(true, std::memory_order_release);
}

const TODBCEntryPoints& ODBC() { return g_table; }

namespace odbc_testing {

void SetLibraryNames(std::vector<std::string> names) {
  std::scoped_lock lock(g_library.mutex);
  if (names.empty()) names = {"libodbc.so.2", "libodbc.so"};
  g_library.names = std::move(names);
}

void Unload() {
  std::scoped_lock lock(g_library.mutex);
  g_loaded.store(false, std::memory_order_release);
  g_table = TODBCEntryPoints{};
  g_library.Close();
}

int LoadCount() {
  std::scoped_lock lock(g_library.mutex);
  return g_library.load_count;
}

ScopedEntryPoints::ScopedEntryPoints(const TODBCEntryPoints& fakes) {
  try {
    LoadODBC();
  } catch (const Exception&) {
  }
  std::scoped_lock lock(g_library.mutex);
  saved_ = g_table;
  g_table = fakes;
  g_loaded.store(true, std::memory_order_release);
}

ScopedEntryPoints::~ScopedEntryPoints() {
  std::scoped_lock lock(g_library.mutex);
  g_table = saved_;
  g_loaded.store(g_library.handle_ != nullptr, std::memory_order_release);
}

}  // namespace odbc_testing

}  // namespace velquarn
