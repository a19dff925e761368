#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/string_list.h"
#include "common/text.h"
#include "odbc/odbc_catalog_names.h"
#include "odbc/odbc_diagnostics.h"
#include "odbc/odbc_driver.h"
#include "odbc/odbc_entry_points.h"

namespace velquarn {

namespace {

// Catalog names are cut to this many characters.
constexpr size_t kNameLength = 128;
// Room for kNameLength characters in any encoding the driver may use.
constexpr SQLLEN kNameBufferBytes = kNameLength * 4 + 1;

// A text column bound for a catalog query.
struct TNameColumn {
  std::vector<char> buffer = std::vector<char>(kNameBufferBytes, '\0');
  SQLLEN indicator = 0;

  std::string Value(const TCharset& charset) const {
    if (indicator == SQL_NULL_DATA) return {};
    std::string text =
        charset.FromDriver(std::string(buffer.data(), strnlen(buffer.data(), buffer.size())));
    if (text.size() > kNameLength) text.resize(kNameLength);
    return text;
  }
};

// Unbinds the main connection's statement and closes its cursor when the
// query ends, on failure as on success, so no column stays bound to a
// buffer that is gone.
class TCatalogStatement {
 public:
  TCatalogStatement(TcsODBCDriver& driver, TConnectionHandle& connection)
      : driver_(driver), connection_(connection) {}
  ~TCatalogStatement() {
    ODBC().SQLFreeStmt(connection_.Stmt(), SQL_UNBIND);
    driver_.CloseStatement(&connection_);
  }
  TCatalogStatement(const TCatalogStatement&) = delete;
  TCatalogStatement& operator=(const TCatalogStatement&) = delete;

  SQLHSTMT Stmt() const { return connection_.Stmt(); }
  void Check(SQLRETURN result) { CheckStmtResult(driver_, connection_.Stmt(), result); }
  void Bind(SQLUSMALLINT column, TNameColumn& name) {
    Check(ODBC().SQLBindCol(Stmt(), column, SQL_C_CHAR, name.buffer.data(),
                            static_cast<SQLLEN>(name.buffer.size()), &name.indicator));
  }
  // Fetch loops end at the first result that is not a success, an error
  // included.
  bool Fetch() {
    SQLRETURN result = ODBC().SQLFetch(Stmt());
    return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO;
  }

 private:
  TcsODBCDriver& driver_;
  TConnectionHandle& connection_;
};

SQLCHAR* Text(std::string& text) { return reinterpret_cast<SQLCHAR*>(text.data()); }

}  // namespace

TQualifiedName TcsODBCDriver::QualifiedTable(const std::string& table) {
  TQualifiedName name = SplitQualifiedName(table);
  if (name.catalog.empty()) {
    SQLHDBC dbc = MainConnection().Dbc();
    std::vector<char> buffer(256, '\0');
    CheckDbcResult(*this, dbc,
                   ODBC().SQLGetConnectOption(dbc, SQL_CURRENT_QUALIFIER, buffer.data()));
    buffer.back() = '\0';
    name.catalog = charset_.FromDriver(buffer.data());
  }
  return name;
}

void TcsODBCDriver::GetDataSourceNames(TStringList& list, const std::string&, int, int) {
  AllocEnvironment();
  list.Clear();
  SQLCHAR name[33] = {};
  SQLSMALLINT name_length = 0;
  SQLSMALLINT description_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (ODBC().SQLDataSources(environment_, direction, name, sizeof name, &name_length, nullptr, 0,
                               &description_length) == SQL_SUCCESS) {
    name[sizeof name - 1] = 0;
    list.Add(charset_.FromDriver(reinterpret_cast<const char*>(name)));
    direction = SQL_FETCH_NEXT;
  }
}

void TcsODBCDriver::GetDatabaseNames(TStringList& list) {
  Connect();
  TCatalogStatement statement(*this, MainConnection());
  std::string empty;
  std::string all = "%";
  statement.Check(ODBC().SQLTables(statement.Stmt(), Text(empty), 0, Text(all), 1, Text(empty), 0,
                                   Text(empty), 0));
  TNameColumn schema;
  statement.Bind(2, schema);
  list.Clear();
  while (statement.Fetch()) list.Add(schema.Value(charset_));
}

void TcsODBCDriver::GetTableNames(const std::string& schema, const std::string& pattern,
                                  TStringList& list, bool system_tables, bool) {
  Connect();
  std::string types = system_tables ? "TABLE,VIEW,SYSTEM TABLE" : "TABLE,VIEW";
  const std::string wanted_schema = schema.empty() ? current_catalog_ : schema;
  std::string driver_schema = charset_.ToDriver(wanted_schema);
  std::string driver_pattern = charset_.ToDriver(pattern);
  TCatalogStatement statement(*this, MainConnection());
  // No schema or no pattern means no filter. An empty string is a filter
  // that drivers read differently: the PostgreSQL driver ignores it, the
  // SQLite driver (which has no schemas) matches nothing with it.
  auto filter = [](std::string& text) { return text.empty() ? nullptr : Text(text); };
  statement.Check(ODBC().SQLTables(statement.Stmt(), nullptr, 0, filter(driver_schema), SQL_NTS,
                                   filter(driver_pattern), SQL_NTS, Text(types), SQL_NTS));
  TNameColumn table;
  TNameColumn row_schema;
  statement.Bind(3, table);
  statement.Bind(2, row_schema);
  list.Clear();
  while (statement.Fetch()) {
    std::string name = Trim(table.Value(charset_));
    // A name holding a dot comes in the driver's identifier quote, so that
    // a client can use it in a statement as it is.
    if (name.find('.') != std::string::npos) {
      name = IdentifierQuote() + name + IdentifierQuote();
    }
    const std::string owner = row_schema.Value(charset_);
    if (row_schema.indicator > 0 && !SameText(owner, wanted_schema)) {
      list.Add(owner + "." + name);
    } else {
      list.Add(name);
    }
  }
}

void TcsODBCDriver::GetIndexNames(const std::string& table, TStringList& list) {
  Connect();
  TQualifiedName name = QualifiedTable(table);
  std::string catalog = charset_.ToDriver(name.catalog);
  std::string schema = charset_.ToDriver(name.schema);
  std::string table_name = charset_.ToDriver(name.table);
  TCatalogStatement statement(*this, MainConnection());
  // No schema is a null argument, as for the index fields: the MariaDB
  // driver, whose server has no schemas, lists nothing for an empty one.
  statement.Check(ODBC().SQLStatistics(statement.Stmt(), Text(catalog), SQL_NTS,
                                       schema.empty() ? nullptr : Text(schema), SQL_NTS,
                                       Text(table_name), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK));
  TNameColumn index;
  SQLSMALLINT type = 0;
  SQLLEN type_indicator = 0;
  statement.Bind(6, index);
  statement.Check(
      ODBC().SQLBindCol(statement.Stmt(), 7, SQL_C_SHORT, &type, sizeof type, &type_indicator));
  list.Clear();
  while (statement.Fetch()) {
    if (type == SQL_TABLE_STAT) continue;
    std::string index_name = index.Value(charset_);
    if (list.IndexOf(index_name) < 0) list.Add(index_name);
  }
}

void TcsODBCDriver::GetIndexFields(const std::string& table, const std::string& index,
                                   TStringList& list) {
  Connect();
  TQualifiedName name = QualifiedTable(table);
  std::string catalog = charset_.ToDriver(name.catalog);
  std::string schema = charset_.ToDriver(name.schema);
  std::string table_name = charset_.ToDriver(name.table);
  std::string last_direction = "A";
  TCatalogStatement statement(*this, MainConnection());
  statement.Check(ODBC().SQLStatistics(statement.Stmt(), Text(catalog), SQL_NTS,
                                       schema.empty() ? nullptr : Text(schema), SQL_NTS,
                                       Text(table_name), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK));
  TNameColumn index_name;
  TNameColumn column;
  TNameColumn direction;
  statement.Bind(6, index_name);
  statement.Bind(9, column);
  statement.Bind(10, direction);
  list.Clear();
  while (statement.Fetch()) {
    if (index_name.indicator == SQL_NULL_DATA || index_name.Value(charset_) != index) continue;
    list.Add(column.Value(charset_));
    last_direction = direction.Value(charset_);
  }
  if (list.Count() > 0 && last_direction == "D") {
    list.SetStrings(list.Count() - 1, list[list.Count() - 1] + " DESC");
  }
}

void TcsODBCDriver::GetDefaultIndexFields(const std::string& table, TStringList& list) {
  Connect();
  TQualifiedName name = QualifiedTable(table);
  std::string catalog = charset_.ToDriver(name.catalog);
  std::string schema = charset_.ToDriver(name.schema);
  std::string table_name = charset_.ToDriver(name.table);
  TCatalogStatement statement(*this, MainConnection());
  SQLRETURN result =
      ODBC().SQLSpecialColumns(statement.Stmt(), SQL_BEST_ROWID, Text(catalog), SQL_NTS,
                               schema.empty() ? nullptr : Text(schema), SQL_NTS, Text(table_name),
                               SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE);
  if (result != SQL_SUCCESS) return;
  TNameColumn column;
  statement.Bind(2, column);
  list.Clear();
  while (statement.Fetch()) list.Add(column.Value(charset_));
}

}  // namespace velquarn
