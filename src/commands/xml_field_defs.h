// The XML field-definition document: the description of a result's columns
// that `sql` sends as its reply text and `info` as its payload. One line of
// code page 1252 text:
//   <?xml version = "1.0" ?><fielddefs datetimeformat="iso" decimalseparator=".">
//   <field><name>N</name><size>S</size><origin>O</origin>[<precision>P</precision>]
//   [<required>true</required>][<readonly>true</readonly>]<datatype>T</datatype></field>
//   ...</fielddefs>
// (without the line breaks). "&" and "<" in names and origins are written as
// entity references. Thread-safe: pure functions of their arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dataset/db_types.h"

namespace velquarn {

class TField;
class TcsQuery;

// The document of the query's fields.
std::string BuildFieldDefsXml(TcsQuery& query);
// The document of a list of fields.
std::string BuildFieldDefsXml(const std::vector<const TField*>& fields);

// The `datatype` name of a field type ("int32", "string", ...).
std::string_view XmlDataTypeName(TFieldType type);

}  // namespace velquarn
