#include "odbc/odbc_types.h"

#include <sqlext.h>

namespace velquarn {

TFieldType FieldTypeForSQLType(SQLSMALLINT sql_type, SQLULEN column_size,
                               SQLSMALLINT decimal_digits) {
  switch (sql_type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
      return ftString;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      return column_size > static_cast<SQLULEN>(kParamValueSize) ? ftMemo : ftString;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
      return ftWideString;
    case SQL_BIT:
      return ftBoolean;
    case SQL_TINYINT:
    case SQL_SMALLINT:
      return ftSmallint;
    case SQL_INTEGER:
      return ftInteger;
    case SQL_BIGINT:
      return ftLargeint;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      if (decimal_digits > 0) return ftFloat;
      if (column_size < 3) return ftSmallint;
      if (column_size < 10) return ftInteger;
      return ftLargeint;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
      return ftFloat;
    case SQL_DATE:
    case SQL_TYPE_DATE:
      return ftDate;
    case SQL_TIME:
    case SQL_TYPE_TIME:
      return ftTime;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP:
      return ftDateTime;
    case SQL_BINARY:
      return ftBytes;
    case SQL_VARBINARY:
      return ftVarBytes;
    case SQL_LONGVARBINARY:
      return ftBlob;
    default:
      return ftUnknown;
  }
}

SQLSMALLINT SQLTypeForParam(TFieldType type) {
  switch (type) {
    case ftSmallint:
      return SQL_SMALLINT;
    case ftInteger:
    case ftAutoInc:
      return SQL_INTEGER;
    case ftBoolean:
      return SQL_BIT;
    case ftFloat:
    case ftCurrency:
      return SQL_FLOAT;
    case ftLargeint:
      return SQL_BIGINT;
    case ftBytes:
    case ftVarBytes:
      return SQL_BINARY;
    case ftBlob:
      return SQL_LONGVARBINARY;
    case ftMemo:
      return SQL_LONGVARCHAR;
    default:
      return SQL_CHAR;
  }
}

SQLSMALLINT CTypeForParam(TFieldType type) {
  switch (type) {
    case ftSmallint:
      return SQL_C_SSHORT;
    case ftInteger:
    case ftAutoInc:
      return SQL_C_LONG;
    case ftBoolean:
      return SQL_C_BIT;
    case ftFloat:
    case ftCurrency:
      return SQL_C_DOUBLE;
    case ftLargeint:
      return SQL_C_SBIGINT;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
      return SQL_C_BINARY;
    default:
      return SQL_C_CHAR;
  }
}

}  // namespace velquarn
