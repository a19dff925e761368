#include "odbc/odbc_sources.h"

#include <sql.h>
#include <sqlext.h>

#include "dataset/sql_errors.h"
#include "odbc/odbc_entry_points.h"

namespace velquarn {

namespace {

// The environment handle of one listing, freed on every path.
class TEnvironment {
 public:
  TEnvironment() {
    LoadODBC();
    if (ODBC().SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle_) != SQL_SUCCESS) {
      handle_ = SQL_NULL_HENV;
      throw EODBCDriverError(kUnableToAllocateEnvironment);
    }
    ODBC().SQLSetEnvAttr(handle_, SQL_ATTR_ODBC_VERSION,
                         reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0);
  }
  TEnvironment(const TEnvironment&) = delete;
  TEnvironment& operator=(const TEnvironment&) = delete;
  ~TEnvironment() { ODBC().SQLFreeHandle(SQL_HANDLE_ENV, handle_); }
  SQLHENV Get() const { return handle_; }

 private:
  SQLHENV handle_ = SQL_NULL_HENV;
};

// Names longer than the buffer come back truncated with
// SQL_SUCCESS_WITH_INFO; 256 bytes hold any name unixODBC accepts in its
// INI files.
constexpr SQLSMALLINT kNameBytes = 256;

template <typename List>
std::vector<std::string> Collect(List list) {
  std::vector<std::string> names;
  SQLCHAR name[kNameBytes] = {};
  SQLSMALLINT name_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    const SQLRETURN result = list(direction, name, &name_length);
    if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO) break;
    name[kNameBytes - 1] = 0;
    names.emplace_back(reinterpret_cast<const char*>(name));
    direction = SQL_FETCH_NEXT;
  }
  return names;
}

}  // namespace

TODBCSources ListODBCSources() {
  TEnvironment environment;
  SQLHENV env = environment.Get();
  TODBCSources sources;
  sources.DataSources = Collect([env](SQLUSMALLINT direction, SQLCHAR* name, SQLSMALLINT* length) {
    SQLSMALLINT description_length = 0;
    return ODBC().SQLDataSources(env, direction, name, kNameBytes, length, nullptr, 0,
                                 &description_length);
  });
  sources.Drivers = Collect([env](SQLUSMALLINT direction, SQLCHAR* name, SQLSMALLINT* length) {
    SQLSMALLINT attributes_length = 0;
    return ODBC().SQLDrivers(env, direction, name, kNameBytes, length, nullptr, 0,
                             &attributes_length);
  });
  return sources;
}

}  // namespace velquarn
