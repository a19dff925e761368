// Splitting qualified names for the catalog queries: a table name
// (catalog.schema.table, with a table name that may be in double quotes) and
// a procedure name as a call statement spells it.
#pragma once

#include <string>
#include <vector>

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

struct TNamePart {
  std::string text;
  bool quoted = false;
};

// The parts of a procedure name, outermost first: one to three
// (procedure; qualifier.procedure; catalog.schema.procedure), separated by
// dots. A part in double quotes or in identifier_quote loses its quotes, has
// a doubled quote inside reduced to one and keeps any dots; a bare part is
// cut at the next dot and loses the blanks around it. Empty when the name is
// not of this form: an empty part, an unterminated quote, text after a
// closing quote, a quote inside a bare part, more than three parts.
std::vector<TNamePart> SplitProcedureName(const std::string& name, char identifier_quote);

}  // namespace velquarn
