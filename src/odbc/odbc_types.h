// The type mappings between ODBC and the dataset layer: the field type of a
// result column, and the SQL and C types that bind a parameter.
#pragma once

#include <sql.h>

#include "dataset/db_types.h"

namespace velquarn {

// Values and lengths of one parameter slot, and the cap of character column
// sizes and parameter lengths.
inline constexpr int kParamValueSize = 8196;

// The field type of a result column: SQL_CHAR/VARCHAR ftString, long
// character types ftMemo above 8196 characters (else ftString), wide
// characters ftWideString, NUMERIC/DECIMAL by scale and precision, ...;
// ftUnknown for a type without a mapping.
TFieldType FieldTypeForSQLType(SQLSMALLINT sql_type, SQLULEN column_size,
                               SQLSMALLINT decimal_digits);
// The SQL type and C type that bind a parameter of the field type.
SQLSMALLINT SQLTypeForParam(TFieldType type);
SQLSMALLINT CTypeForParam(TFieldType type);

}  // namespace velquarn
