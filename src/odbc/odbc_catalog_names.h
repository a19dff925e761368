// Splitting a qualified table name (catalog.schema.table, with a table name
// that may be in double quotes) for the catalog queries.
#pragma once

#include <string>

namespace velquarn {

struct TQualifiedName {
  std::string catalog;
  std::string schema;
  std::string table;
};

// ORDERS -> table ORDERS; LIB.ORDERS -> schema LIB; CAT.LIB.ORDERS -> catalog
// CAT, schema LIB; LIB."MY.TABLE" -> schema LIB, table MY.TABLE. A quoted
// part loses its quotes and has doubled quotes reduced to one; a part that
// is not properly quoted is taken unchanged.
TQualifiedName SplitQualifiedName(const std::string& name);

}  // namespace velquarn
