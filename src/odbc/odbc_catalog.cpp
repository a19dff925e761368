#include <sqlext.h>

#include <algorithm>
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
// buffer that is gone. The cursor is closed first as well: a procedure call
// run on the main connection leaves its result row open (PostgreSQL), and
// the driver refuses a catalog function on a statement with an open cursor.
class TCatalogStatement {
 public:
  TCatalogStatement(TcsODBCDriver& driver, TConnectionHandle& connection)
      : driver_(driver), connection_(connection) {
    driver_.CloseStatement(&connection_);
  }
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

// An identifier as a catalog function's pattern argument matches itself only:
// the pattern characters and the escape itself are escaped. No escape, no
// change (the rows are then checked by name).
std::string EscapedPattern(const std::string& text, const std::string& escape) {
  if (escape.size() != 1) return text;
  std::string result;
  for (char c : text) {
    if (c == '_' || c == '%' || c == escape[0]) result += escape[0];
    result += c;
  }
  return result;
}

// The direction of a parameter row of SQLProcedureColumns; ptResult for a
// row that is no parameter (a result column, the return value), ptUnknown
// for a mode the driver cannot tell.
TParamType ReportedParamType(SQLSMALLINT column_type) {
  switch (column_type) {
    case SQL_PARAM_INPUT:
      return ptInput;
    case SQL_PARAM_INPUT_OUTPUT:
      return ptInputOutput;
    case SQL_PARAM_OUTPUT:
      return ptOutput;
    case SQL_RESULT_COL:
    case SQL_RETURN_VALUE:
      return ptResult;
    default:
      return ptUnknown;
  }
}

}  // namespace

TQualifiedName TcsODBCDriver::QualifiedTable(const std::string& table) {
  TQualifiedName name = SplitQualifiedName(table);
  if (name.catalog.empty()) name.catalog = CurrentCatalog();
  return name;
}

std::string TcsODBCDriver::CurrentCatalog() {
  SQLHDBC dbc = MainConnection().Dbc();
  std::vector<char> buffer(256, '\0');
  CheckDbcResult(*this, dbc, ODBC().SQLGetConnectOption(dbc, SQL_CURRENT_QUALIFIER, buffer.data()));
  buffer.back() = '\0';
  return charset_.FromDriver(buffer.data());
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

void TcsODBCDriver::GetProcedureParamTypes(const std::string& procedure,
                                           std::vector<TParamType>& types) {
  types.clear();
  Connect();
  SQLHDBC dbc = MainConnection().Dbc();
  // The SQLite driver, for one, has no procedures: it is not asked.
  char procedures[8] = {};
  SQLSMALLINT length = 0;
  if (SQL_SUCCEEDED(
          ODBC().SQLGetInfo(dbc, SQL_PROCEDURES, procedures, sizeof procedures, &length)) &&
      procedures[0] == 'N') {
    return;
  }
  std::vector<TNamePart> parts = SplitProcedureName(procedure, IdentifierQuote());
  if (parts.empty()) return;
  // A bare identifier is folded as the server folds it (PostgreSQL: to lower
  // case); a quoted one is taken as written.
  SQLUSMALLINT identifier_case = 0;
  if (!SQL_SUCCEEDED(ODBC().SQLGetInfo(dbc, SQL_IDENTIFIER_CASE, &identifier_case,
                                       sizeof identifier_case, nullptr))) {
    identifier_case = SQL_IC_MIXED;
  }
  for (TNamePart& part : parts) {
    if (part.quoted) continue;
    if (identifier_case == SQL_IC_LOWER) part.text = LowerCase(part.text);
    if (identifier_case == SQL_IC_UPPER) part.text = UpperCase(part.text);
  }
  // Rows of another name are skipped: a driver without a pattern escape
  // matches '_' anywhere, and the PostgreSQL driver answers a quoted name in
  // the wrong case with the lower-case procedure. A bare name in a server
  // that keeps mixed case (MariaDB) matches in any case.
  const bool exact_name =
      parts.back().quoted || identifier_case == SQL_IC_LOWER || identifier_case == SQL_IC_UPPER;
  std::string catalog;
  std::string schema;
  const std::string& name = parts.back().text;
  if (parts.size() == 3) {
    catalog = parts[0].text;
    schema = parts[1].text;
  } else if (parts.size() == 2) {
    // One qualifier is a schema where the server has schemas (whatever
    // statements the driver says they serve in: the PostgreSQL driver does
    // not name procedure calls); otherwise (MariaDB) it is the catalog, and
    // the driver refuses a schema.
    SQLUINTEGER schema_usage = 0;
    if (SQL_SUCCEEDED(ODBC().SQLGetInfo(dbc, SQL_SCHEMA_USAGE, &schema_usage, sizeof schema_usage,
                                        nullptr)) &&
        schema_usage != 0) {
      schema = parts[0].text;
    } else {
      catalog = parts[0].text;
    }
  }
  if (catalog.empty()) catalog = CurrentCatalog();
  char escape_buffer[8] = {};
  SQLSMALLINT escape_length = 0;
  std::string escape;
  if (SQL_SUCCEEDED(ODBC().SQLGetInfo(dbc, SQL_SEARCH_PATTERN_ESCAPE, escape_buffer,
                                      sizeof escape_buffer, &escape_length))) {
    escape_buffer[sizeof escape_buffer - 1] = '\0';
    escape = escape_buffer;
  }
  std::string driver_catalog = charset_.ToDriver(catalog);
  std::string driver_schema = EscapedPattern(charset_.ToDriver(schema), escape);
  std::string driver_name = EscapedPattern(charset_.ToDriver(name), escape);
  // No catalog or schema means any: the rows are then checked for one owner.
  auto filter = [](std::string& text) { return text.empty() ? nullptr : Text(text); };
  TCatalogStatement statement(*this, MainConnection());
  statement.Check(ODBC().SQLProcedureColumns(statement.Stmt(), filter(driver_catalog), SQL_NTS,
                                             filter(driver_schema), SQL_NTS, Text(driver_name),
                                             SQL_NTS, nullptr, 0));
  TNameColumn row_catalog;
  TNameColumn row_schema;
  TNameColumn row_name;
  SQLSMALLINT column_type = 0;
  SQLLEN column_type_indicator = 0;
  SQLINTEGER ordinal = 0;
  SQLLEN ordinal_indicator = 0;
  statement.Bind(1, row_catalog);
  statement.Bind(2, row_schema);
  statement.Bind(3, row_name);
  statement.Check(ODBC().SQLBindCol(statement.Stmt(), 5, SQL_C_SHORT, &column_type,
                                    sizeof column_type, &column_type_indicator));
  statement.Check(ODBC().SQLBindCol(statement.Stmt(), 18, SQL_C_SLONG, &ordinal, sizeof ordinal,
                                    &ordinal_indicator));
  struct TReportedParam {
    SQLINTEGER ordinal;
    TParamType type;
  };
  std::vector<TReportedParam> reported;
  std::string owner;
  bool owned = false;
  SQLRETURN fetched;
  // Any doubt leaves the list empty: the caller then binds as it does
  // without a catalog. Doubts are procedures of the same name in several
  // catalogs or schemas, and a parameter whose mode or position is unknown.
  while (SQL_SUCCEEDED(fetched = ODBC().SQLFetch(statement.Stmt()))) {
    const std::string row_procedure = row_name.Value(charset_);
    if (exact_name ? row_procedure != name : !SameText(row_procedure, name)) continue;
    const std::string row_owner = row_catalog.Value(charset_) + '\n' + row_schema.Value(charset_);
    if (owned && row_owner != owner) return;
    owner = row_owner;
    owned = true;
    if (column_type_indicator == SQL_NULL_DATA) return;
    const TParamType type = ReportedParamType(column_type);
    if (type == ptUnknown) return;
    if (type == ptResult) continue;
    if (ordinal_indicator == SQL_NULL_DATA) return;
    reported.push_back({ordinal, type});
  }
  if (fetched != SQL_NO_DATA) return;
  std::stable_sort(
      reported.begin(), reported.end(),
      [](const TReportedParam& a, const TReportedParam& b) { return a.ordinal < b.ordinal; });
  // Two parameters in one place: overloaded procedures of one name.
  for (size_t i = 1; i < reported.size(); ++i) {
    if (reported[i].ordinal == reported[i - 1].ordinal) return;
  }
  for (const TReportedParam& param : reported) types.push_back(param.type);
}

}  // namespace velquarn
