#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/cs_dataset.h"
#include "dataset/field.h"
#include "dataset/params.h"
#include "dataset/record_sink.h"
#include "dataset/slot_format.h"
#include "odbc/odbc_diagnostics.h"
#include "odbc/odbc_driver.h"
#include "odbc/odbc_entry_points.h"
#include "odbc/odbc_types.h"

namespace velquarn {

namespace {

SQLCHAR* Text(std::string& text) { return reinterpret_cast<SQLCHAR*>(text.data()); }

bool IsLongType(TFieldType type) {
  return type == ftBlob || type == ftMemo || type == ftGraphic || type == ftFmtMemo;
}

// One bound parameter: the length/indicator and the value area.
struct TParamSlot {
  SQLLEN indicator = 0;
  char value[kParamValueSize] = {};
};

// The text that stands for a date, time or date-time parameter.
std::string DateTimeText(const TParam& param) {
  switch (param.DataType()) {
    case ftDate:
      return DateToStr(param.AsDateTime()).substr(0, 10);
    case ftTime:
      return TimeToStr(param.AsDateTime()).substr(0, 8);
    default:
      return DateTimeToStr(param.AsDateTime()).substr(0, 19);
  }
}

bool IsDateTimeType(TFieldType type) {
  return type == ftDate || type == ftTime || type == ftDateTime;
}

// The parameter's value in its native form (numbers) or as the text or
// bytes that the driver receives (character data in the driver's encoding).
std::string DriverValue(const TParam& param, const TCharset& charset) {
  if (IsDateTimeType(param.DataType())) return DateTimeText(param);
  if (CTypeForParam(param.DataType()) == SQL_C_CHAR) {
    return charset.ToDriver(param.AsString());
  }
  if (param.DataType() == ftBytes || param.DataType() == ftVarBytes ||
      IsLongType(param.DataType())) {
    return param.AsString();
  }
  std::string native(static_cast<size_t>(std::max(param.GetDataSize(), 0)), '\0');
  if (!native.empty()) param.GetData(native.data());
  return native;
}

}  // namespace

int TcsODBCDriver::CharColumnSize(TConnectionHandle& connection) {
  if (char_column_size_ >= 0) return char_column_size_;
  // Asked on a statement of its own, so that a statement prepared on the
  // connection's handle stays prepared.
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (ODBC().SQLAllocHandle(SQL_HANDLE_STMT, connection.Dbc(), &stmt) != SQL_SUCCESS) {
    throw EODBCDriverError(kUnableToAllocateStatement);
  }
  struct FreeOnExit {
    SQLHSTMT stmt;
    ~FreeOnExit() { ODBC().SQLFreeHandle(SQL_HANDLE_STMT, stmt); }
  } free_on_exit{stmt};
  CheckStmtResult(*this, stmt, ODBC().SQLGetTypeInfo(stmt, SQL_CHAR));
  SQLINTEGER size = 0;
  SQLLEN indicator = 0;
  CheckStmtResult(*this, stmt,
                  ODBC().SQLBindCol(stmt, 3, SQL_C_LONG, &size, sizeof size, &indicator));
  SQLINTEGER last = 0;
  for (int rows = 0; rows < 1000; ++rows) {
    size = 0;
    SQLRETURN result = ODBC().SQLFetch(stmt);
    if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO) break;
    last = indicator == SQL_NULL_DATA ? 0 : size;
  }
  ODBC().SQLFreeStmt(stmt, SQL_UNBIND);
  ODBC().SQLCloseCursor(stmt);
  char_column_size_ = std::clamp<int>(last, 0, kParamValueSize);
  return char_column_size_;
}

SQLRETURN TcsODBCDriver::ExecWithParams(TConnectionHandle& connection, TParams& params,
                                        const std::string& driver_sql, bool prepared) {
  SQLHSTMT stmt = connection.Stmt();
  const int char_size = CharColumnSize(connection);
  std::vector<TParamSlot> slots(static_cast<size_t>(params.Count()));
  // The bindings point into slots: they are removed before slots is freed,
  // on every path, or the next statement with a marker on this handle would
  // make the driver read freed memory.
  struct UnbindOnExit {
    SQLHSTMT stmt;
    ~UnbindOnExit() { ODBC().SQLFreeStmt(stmt, SQL_RESET_PARAMS); }
  } unbind_on_exit{stmt};
  for (int i = 0; i < params.Count(); ++i) {
    TParam& param = params[i];
    TParamSlot& slot = slots[static_cast<size_t>(i)];
    const TFieldType type = param.DataType();
    SQLSMALLINT direction = SQL_PARAM_INPUT;
    if (param.ParamType() == ptOutput) direction = SQL_PARAM_OUTPUT;
    if (param.ParamType() == ptInputOutput) direction = SQL_PARAM_INPUT_OUTPUT;
    const SQLSMALLINT c_type = CTypeForParam(type);
    const SQLSMALLINT sql_type = SQLTypeForParam(type);
    const bool at_exec = !param.IsNull() && direction == SQL_PARAM_INPUT &&
                         (c_type == SQL_C_CHAR || c_type == SQL_C_BINARY);
    int data_size = param.GetDataSize();
    if (type == ftDate || type == ftTime) data_size = 6;
    if (type == ftDateTime) data_size = 14;
    if (type == ftLargeint) data_size = 8;

    if (param.IsNull()) {
      slot.indicator = SQL_NULL_DATA;
    } else if (at_exec) {
      // The length announced with the data-at-execution marker: the SQLite
      // driver stores an empty value without it.
      slot.indicator =
          SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(DriverValue(param, charset_).size()));
    } else {
      std::string value = DriverValue(param, charset_);
      if (c_type == SQL_C_CHAR) {
        const size_t length = std::min<size_t>(value.size(), kParamValueSize - 1);
        std::memcpy(slot.value, value.data(), length);
        slot.value[length] = '\0';
        slot.indicator = static_cast<SQLLEN>(length);
      } else {
        const size_t length = std::min<size_t>(value.size(), kParamValueSize);
        std::memcpy(slot.value, value.data(), length);
        slot.indicator = static_cast<SQLLEN>(length);
      }
    }

    SQLULEN column_size = 0;
    if (param.IsNull()) {
      column_size = 1;
    } else if (c_type == SQL_C_CHAR) {
      column_size = IsLongType(type) ? static_cast<SQLULEN>(std::max(data_size, 1))
                                     : static_cast<SQLULEN>(char_size);
    } else {
      column_size = IsLongType(type) ? static_cast<SQLULEN>(std::max(data_size, 1))
                                     : static_cast<SQLULEN>(kParamValueSize);
    }
    SQLPOINTER value_pointer = at_exec ? reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(i))
                                       : static_cast<SQLPOINTER>(slot.value);
    const SQLLEN buffer_length = at_exec ? 0 : kParamValueSize;
    CheckStmtResult(
        *this, stmt,
        ODBC().SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), direction, c_type, sql_type,
                                column_size, 0, value_pointer, buffer_length, &slot.indicator));
  }

  std::string text = driver_sql;
  SQLRETURN result =
      prepared ? ODBC().SQLExecute(stmt) : ODBC().SQLExecDirect(stmt, Text(text), SQL_NTS);
  while (result == SQL_NEED_DATA) {
    SQLPOINTER token = nullptr;
    result = ODBC().SQLParamData(stmt, &token);
    if (result != SQL_NEED_DATA) break;
    const auto index = static_cast<int>(reinterpret_cast<intptr_t>(token));
    if (index < 0 || index >= params.Count()) continue;
    std::string value = DriverValue(params[index], charset_);
    ODBC().SQLPutData(stmt, value.data(), static_cast<SQLLEN>(value.size()));
  }
  // Read here, before the unbinding resets the statement's diagnostics.
  CheckExecution(stmt, result);

  for (int i = 0; i < params.Count(); ++i) {
    TParam& param = params[i];
    if (param.ParamType() != ptOutput && param.ParamType() != ptInputOutput) continue;
    const TParamSlot& slot = slots[static_cast<size_t>(i)];
    param.SetSize(static_cast<int>(slot.indicator));
    if (slot.indicator == SQL_NULL_DATA) {
      param.Clear();
      continue;
    }
    const int length = static_cast<int>(std::clamp<SQLLEN>(slot.indicator, 0, kParamValueSize));
    if (CTypeForParam(param.DataType()) == SQL_C_CHAR) {
      std::string text_value = charset_.FromDriver(
          std::string(slot.value, strnlen(slot.value, static_cast<size_t>(kParamValueSize))));
      param.SetData(text_value.c_str(), static_cast<int>(text_value.size()) + 1);
    } else {
      param.SetData(slot.value, length);
    }
  }
  return result;
}

void TcsODBCDriver::CheckExecution(SQLHSTMT stmt, SQLRETURN result) {
  if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO && result != SQL_NO_DATA) {
    CheckStmtResult(*this, stmt, result);
  }
}

int TcsODBCDriver::ExecSQL(const std::string& sql, TParams* params, TcsDataset* dataset) {
  column_count_ = -1;
  TConnectionHandle* connection = nullptr;
  bool prepared = false;
  if (dataset != nullptr) {
    if (dataset->Connection() == nullptr) {
      dataset->AcquireConnection();
    } else {
      prepared = dataset->Prepared();
    }
    connection = dataset->Connection();
    if (connection == nullptr) throw EDatabaseError("Unable to acquire connection from driver");
  } else {
    connection = &MainConnection();
  }
  CloseStatement(connection);
  SQLHSTMT stmt = connection->Stmt();
  std::string driver_sql = charset_.ToDriver(sql);
  // Timed from here, after any connect, to the end of the results' counts,
  // on every path: a statement that fails slowly is as worth logging.
  struct TReportOnExit {
    const TEvents& events;
    const std::string& sql;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    ~TReportOnExit() {
      if (!events.StatementRan) return;
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - started);
      events.StatementRan(sql, static_cast<uint64_t>(elapsed.count()));
    }
  } report_on_exit{events_, sql};
  SQLRETURN result;
  try {
    if (params != nullptr && params->Count() > 0) {
      result = ExecWithParams(*connection, *params, driver_sql, prepared);
    } else {
      result =
          ODBC().SQLExecDirect(stmt, Text(driver_sql), static_cast<SQLINTEGER>(driver_sql.size()));
      CheckExecution(stmt, result);
    }
  } catch (...) {
    // A failed statement may leave the connection in any state: it is
    // closed, not pooled.
    if (dataset != nullptr && dataset->Connection() != nullptr) dataset->ReleaseConnection(true);
    throw;
  }
  int rows = 0;
  while (result != SQL_NO_DATA) {
    CheckStmtResult(*this, stmt, ODBC().SQLNumResultCols(stmt, &column_count_));
    if (column_count_ > 0) break;
    SQLLEN count = 0;
    CheckStmtResult(*this, stmt, ODBC().SQLRowCount(stmt, &count));
    rows += static_cast<int>(count);
    result = ODBC().SQLMoreResults(stmt);
    if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO && result != SQL_NO_DATA) break;
  }
  if (column_count_ == 0) column_count_ = -1;
  return rows;
}

void TcsODBCDriver::Prepare(const std::string& sql, TcsDataset& dataset) {
  if (dataset.Connection() == nullptr) dataset.AcquireConnection();
  TConnectionHandle* connection = dataset.Connection();
  if (connection == nullptr) throw EDatabaseError("Unable to acquire connection from driver");
  CloseStatement(connection);
  std::string driver_sql = charset_.ToDriver(sql);
  CheckStmtResult(*this, connection->Stmt(),
                  ODBC().SQLPrepare(connection->Stmt(), Text(driver_sql),
                                    static_cast<SQLINTEGER>(driver_sql.size())));
}

void TcsODBCDriver::UnPrepare(TcsDataset& dataset) {
  if (dataset.Connection() != nullptr) CloseStatement(dataset.Connection());
}

bool TcsODBCDriver::DescribeColumns(TcsDataset& dataset) {
  if (column_count_ < 1 || dataset.Connection() == nullptr) return false;
  SQLHSTMT stmt = dataset.Connection()->Stmt();
  for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(column_count_); ++c) {
    SQLCHAR name_buffer[256] = {};
    SQLSMALLINT name_length = 0;
    SQLSMALLINT sql_type = 0;
    SQLULEN column_size = 0;
    SQLSMALLINT decimal_digits = 0;
    SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
    ODBC().SQLDescribeCol(stmt, c, name_buffer, sizeof name_buffer, &name_length, &sql_type,
                          &column_size, &decimal_digits, &nullable);
    name_buffer[sizeof name_buffer - 1] = 0;
    std::string name = charset_.FromDriver(reinterpret_cast<const char*>(name_buffer));
    if (name.empty()) name = Format("Column%d", static_cast<int>(c));
    TFieldType type = FieldTypeForSQLType(sql_type, column_size, decimal_digits);
    bool required = nullable == SQL_NO_NULLS && type != ftBlob && type != ftMemo;
    // Wide column sizes count characters, as every size here does: the
    // field keeps room for all of them once they are converted.
    SQLLEN updatable = SQL_ATTR_READWRITE_UNKNOWN;
    ODBC().SQLColAttribute(stmt, c, SQL_DESC_UPDATABLE, nullptr, 0, nullptr, &updatable);
    bool read_only = updatable == SQL_ATTR_READONLY;
    SQLLEN fixed = SQL_FALSE;
    ODBC().SQLColAttribute(stmt, c, SQL_DESC_FIXED_PREC_SCALE, nullptr, 0, nullptr, &fixed);
    if (fixed == SQL_TRUE) type = ftCurrency;
    SQLLEN auto_unique = SQL_FALSE;
    ODBC().SQLColAttribute(stmt, c, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr, &auto_unique);
    int size = 0;
    if (auto_unique == SQL_TRUE) {
      type = ftAutoInc;
      required = false;
      read_only = false;
    } else if (type == ftString || type == ftBCD || type == ftBytes || type == ftVarBytes ||
               type == ftWideString) {
      // A record buffer holds the whole column: a size beyond the system's
      // cap would make every row that large.
      size = static_cast<int>(std::min<SQLULEN>(column_size, kParamValueSize));
    }
    dataset.AddColumnDef(name, type, size, required, c, read_only, decimal_digits);
  }
  return true;
}

void TcsODBCDriver::SetFieldOrigins(TcsDataset& dataset) {
  if (dataset.FieldCount() == 0 || dataset.Connection() == nullptr) return;
  SQLHSTMT stmt = dataset.Connection()->Stmt();
  for (int p = 1; p <= dataset.FieldCount(); ++p) {
    TField& field = dataset.Fields(p - 1);
    if (field.FieldNo() <= 0) continue;
    SQLCHAR name_buffer[256] = {};
    SQLSMALLINT length = 0;
    SQLRETURN result = ODBC().SQLColAttribute(stmt, static_cast<SQLUSMALLINT>(field.FieldNo()),
                                              SQL_DESC_BASE_COLUMN_NAME, name_buffer,
                                              sizeof name_buffer, &length, nullptr);
    if (result == SQL_NO_DATA) return;
    CheckStmtResult(*this, stmt, result);
    name_buffer[sizeof name_buffer - 1] = 0;
    std::string name = charset_.FromDriver(reinterpret_cast<const char*>(name_buffer));
    field.SetOrigin(name.empty() ? Format("Column%d", p) : name);
  }
}

bool TcsODBCDriver::ReadLongData(SQLHSTMT stmt, SQLUSMALLINT column, std::string& value) {
  value.clear();
  // Read in pieces: a driver may not know the total length (SQL_NO_TOTAL),
  // and one that does gets the rest asked for in one read.
  std::vector<char> chunk(8192);
  while (true) {
    SQLLEN indicator = 0;
    SQLRETURN result = ODBC().SQLGetData(stmt, column, SQL_C_BINARY, chunk.data(),
                                         static_cast<SQLLEN>(chunk.size()), &indicator);
    if (result == SQL_NO_DATA) return true;
    CheckStmtResult(*this, stmt, result);
    if (indicator == SQL_NULL_DATA) return false;
    if (result == SQL_SUCCESS) {
      const size_t piece = indicator >= 0
                               ? std::min<size_t>(static_cast<size_t>(indicator), chunk.size())
                               : chunk.size();
      value.append(chunk.data(), piece);
      return true;
    }
    value.append(chunk.data(), chunk.size());
    if (indicator > static_cast<SQLLEN>(chunk.size())) {
      chunk.resize(static_cast<size_t>(indicator) - chunk.size());
    }
  }
}

// One column of the row being fetched: where it is read from and where its
// value goes. The readers below each handle one kind of column.
struct TColumnFetch {
  TcsODBCDriver& driver;
  SQLHSTMT stmt;
  TRecordSink& record;
  char* record_buffer;
  int field_no;
  const TField& field;

  SQLUSMALLINT Column() const { return static_cast<SQLUSMALLINT>(field_no); }
  // SQLGetData into buffer, checked; false when the value is null, which is
  // then stored.
  bool Get(SQLSMALLINT c_type, void* buffer, SQLLEN length) const {
    SQLLEN indicator = 0;
    return GetWithIndicator(c_type, buffer, length, indicator);
  }
  bool GetWithIndicator(SQLSMALLINT c_type, void* buffer, SQLLEN length, SQLLEN& indicator) const {
    CheckStmtResult(driver, stmt,
                    ODBC().SQLGetData(stmt, Column(), c_type, buffer, length, &indicator));
    if (indicator != SQL_NULL_DATA) return true;
    StoreNull();
    return false;
  }
  void Store(const void* value, int length) const {
    record.StoreFieldValue(field_no, value, record_buffer, length);
  }
  void StoreNull() const { record.StoreFieldNull(field_no, record_buffer); }
};

namespace {

void FetchText(const TColumnFetch& fetch) {
  const TCharset& charset = fetch.driver.Charset();
  const int size = fetch.field.Size();
  // Room for the field's characters in the driver's encoding (up to four
  // bytes each in UTF-8); the converted text is cut to the field.
  const size_t bytes = static_cast<size_t>(size) * (charset.IsUtf8() ? 4 : 1) + 1;
  char local[1024];
  std::vector<char> large;
  char* buffer = local;
  if (bytes > sizeof local) {
    large.resize(bytes);
    buffer = large.data();
  }
  if (!fetch.Get(SQL_C_CHAR, buffer, static_cast<SQLLEN>(bytes))) return;
  std::string_view text(buffer, strnlen(buffer, bytes));
  std::string converted;
  if (charset.IsUtf8() &&
      std::any_of(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; })) {
    converted = charset.FromDriver(text);
    text = converted;
  }
  if (static_cast<int>(text.size()) > size) text = text.substr(0, static_cast<size_t>(size));
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  fetch.Store(text.data(), static_cast<int>(text.size()));
}

void FetchWideText(const TColumnFetch& fetch) {
  const int size = fetch.field.Size();
  SQLWCHAR local[512];
  std::vector<SQLWCHAR> large;
  SQLWCHAR* buffer = local;
  const size_t units_room = static_cast<size_t>(size) + 1;
  if (units_room > std::size(local)) {
    large.resize(units_room);
    buffer = large.data();
  }
  buffer[0] = 0;
  if (!fetch.Get(SQL_C_WCHAR, buffer, static_cast<SQLLEN>(units_room * sizeof(SQLWCHAR)))) {
    return;
  }
  size_t units = 0;
  while (units < static_cast<size_t>(size) && buffer[units] != 0) ++units;
  // Plain ASCII, the common case, needs no table lookup.
  if (units <= 1024 &&
      std::all_of(buffer, buffer + units, [](SQLWCHAR unit) { return unit < 0x80; })) {
    char narrow[1024];
    for (size_t i = 0; i < units; ++i) narrow[i] = static_cast<char>(buffer[i]);
    fetch.Store(narrow, static_cast<int>(units));
    return;
  }
  const std::string text = Utf16ToCp1252(reinterpret_cast<const char16_t*>(buffer), units);
  fetch.Store(text.c_str(), static_cast<int>(text.size()));
}

// The integer and float types arrive in the slot's own width and byte
// order, so the driver's bytes are the slot's.
void FetchNumber(const TColumnFetch& fetch) {
  SQLSMALLINT c_type = SQL_C_DOUBLE;
  switch (fetch.field.DataType()) {
    case ftSmallint:
      c_type = SQL_C_SSHORT;
      break;
    case ftInteger:
    case ftAutoInc:
      c_type = SQL_C_SLONG;
      break;
    case ftLargeint:
      c_type = SQL_C_SBIGINT;
      break;
    default:
      break;
  }
  alignas(8) char value[8] = {};
  if (fetch.Get(c_type, value, sizeof value)) fetch.Store(value, fetch.field.DataSize());
}

void FetchBoolean(const TColumnFetch& fetch) {
  unsigned char bit = 0;
  if (!fetch.Get(SQL_C_BIT, &bit, sizeof bit)) return;
  char value[2];
  EncodeBooleanSlot(bit != 0, value);
  fetch.Store(value, sizeof value);
}

// Dates, times and date-times all arrive as a timestamp structure. A value
// that is no calendar date or time of day (a driver's zero timestamp, a
// year the day number cannot hold) is treated by kind:
//   ftDate, ftTime: raises the date encoder's conversion error, so the
//     client learns that the column holds something the field cannot;
//   ftDateTime: stores nothing. The record buffer is cleared before every
//     fetch, so the field reads as null and the rest of the row stays
//     readable.
void FetchDateTime(const TColumnFetch& fetch) {
  SQL_TIMESTAMP_STRUCT stamp{};
  if (!fetch.Get(SQL_C_TIMESTAMP, &stamp, sizeof stamp)) return;
  const auto millisecond = static_cast<int>(stamp.fraction / 1000000);
  int32_t day = 0;
  const bool date_valid = TryEncodeDayNumber(stamp.year, stamp.month, stamp.day, day);
  TDateTime time_of_day = 0;
  const bool time_valid =
      stamp.fraction <= 999999999 &&
      TryEncodeTime(stamp.hour, stamp.minute, stamp.second, millisecond, time_of_day);
  const int32_t milliseconds = static_cast<int32_t>(stamp.hour) * 3600000 +
                               static_cast<int32_t>(stamp.minute) * 60000 +
                               static_cast<int32_t>(stamp.second) * 1000 + millisecond;
  char value[8];
  switch (fetch.field.DataType()) {
    case ftDate:
      if (!date_valid) EncodeDate(stamp.year, stamp.month, stamp.day);  // raises
      StoreSlot(value, day);
      fetch.Store(value, sizeof day);
      return;
    case ftTime:
      if (!time_valid) EncodeTime(stamp.hour, stamp.minute, stamp.second, millisecond);  // raises
      StoreSlot(value, milliseconds);
      fetch.Store(value, sizeof milliseconds);
      return;
    default:
      if (!date_valid || !time_valid) return;
      StoreSlot(value, DateTimeSlotValue(day, milliseconds));
      fetch.Store(value, sizeof value);
      return;
  }
}

void FetchBinary(const TColumnFetch& fetch) {
  const int size = fetch.field.Size();
  std::vector<char> buffer(static_cast<size_t>(std::max(size, 1)), '\0');
  SQLLEN indicator = 0;
  if (!fetch.GetWithIndicator(SQL_C_BINARY, buffer.data(), static_cast<SQLLEN>(buffer.size()),
                              indicator)) {
    return;
  }
  const SQLLEN length =
      indicator < 0 ? size : std::min<SQLLEN>(indicator, static_cast<SQLLEN>(size));
  fetch.Store(buffer.data(), static_cast<int>(length));
}

}  // namespace

void TcsODBCDriver::FetchLongData(const TColumnFetch& fetch) {
  std::string value;
  if (!ReadLongData(fetch.stmt, fetch.Column(), value)) {
    fetch.StoreNull();
    return;
  }
  if (fetch.field.DataType() == ftMemo) {
    value = charset_.FromDriver(value);
    std::string replaced;
    replaced.reserve(value.size());
    for (char ch : value) {
      if (ch == '\x1A') {
        replaced += "\r\n";
      } else {
        replaced += ch;
      }
    }
    value = std::move(replaced);
  }
  fetch.record.StoreBlobValue(fetch.field_no, fetch.record_buffer, value);
}

bool TcsODBCDriver::FetchRecord(TRecordSink& record, char* record_buffer) {
  if (record.Connection() == nullptr) throw Exception("Dataset not connected");
  SQLHSTMT stmt = record.Connection()->Stmt();
  SQLRETURN result = ODBC().SQLFetch(stmt);
  if (result == SQL_NO_DATA) return false;
  CheckStmtResult(*this, stmt, result);
  const int count = record.ColumnCount();
  for (int field_no = 1; field_no <= count; ++field_no) {
    const TField* field = record.ColumnField(field_no);
    if (field == nullptr) continue;
    const TColumnFetch fetch{*this, stmt, record, record_buffer, field_no, *field};
    switch (field->DataType()) {
      case ftString:
        FetchText(fetch);
        break;
      case ftWideString:
        FetchWideText(fetch);
        break;
      case ftSmallint:
      case ftInteger:
      case ftAutoInc:
      case ftFloat:
      case ftCurrency:
      case ftLargeint:
        FetchNumber(fetch);
        break;
      case ftBoolean:
        FetchBoolean(fetch);
        break;
      case ftDate:
      case ftTime:
      case ftDateTime:
        FetchDateTime(fetch);
        break;
      case ftBytes:
      case ftVarBytes:
        FetchBinary(fetch);
        break;
      case ftBlob:
      case ftMemo:
        FetchLongData(fetch);
        break;
      default:
        fetch.StoreNull();
        break;
    }
  }
  return true;
}

}  // namespace velquarn
