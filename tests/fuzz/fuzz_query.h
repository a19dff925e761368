// A query whose columns and rows the fuzz input chooses, served by a driver
// that stores values the way the ODBC driver does (the slot formats of
// field.h): text of any bytes, integers of any bits, floats of any bits
// (NaN and infinities included, as PostgreSQL's float8 delivers them),
// dates and times within the calendar, blobs and memos of any bytes.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/string_list.h"
#include "dataset/cs_dataset.h"
#include "dataset/database.h"
#include "dataset/query.h"
#include "dataset/record_sink.h"
#include "dataset/sql_driver.h"

namespace velquarn::fuzz {

struct TFuzzColumn {
  std::string name;
  TFieldType type = ftInteger;
  int size = 0;
};

// One value as raw slot bytes; null when absent.
struct TFuzzValue {
  bool null = true;
  std::string bytes;
};

class TFuzzDriver : public TcsCustomSQLDriver {
 public:
  std::vector<TFuzzColumn> columns;
  std::vector<std::vector<TFuzzValue>> rows;

  void Disconnect() override {}
  void Connect() override {}
  void ControlTransaction(int) override {}
  bool InTransaction() override { return false; }
  void GetIndexFields(const std::string&, const std::string&, TStringList&) override {}
  void GetIndexNames(const std::string&, TStringList&) override {}
  void GetTableNames(const std::string&, const std::string&, TStringList&, bool, bool) override {}
  void GetDatabaseNames(TStringList&) override {}
  TConnectionHandle* AcquireConnection() override {
    return reinterpret_cast<TConnectionHandle*>(&handle_);
  }
  void ReleaseConnection(TConnectionHandle*& connection, bool) override { connection = nullptr; }

  int ExecSQL(const std::string&, TParams*, TcsDataset* dataset) override {
    if (dataset != nullptr && dataset->Connection() == nullptr) dataset->AcquireConnection();
    cursor_ = 0;
    return 0;
  }
  bool DescribeColumns(TcsDataset& dataset) override {
    for (size_t c = 0; c < columns.size(); ++c) {
      dataset.AddColumnDef(columns[c].name, columns[c].type, columns[c].size, false,
                           static_cast<int>(c) + 1, false, 0);
    }
    return true;
  }
  bool FetchRecord(TRecordSink& record, char* buffer) override {
    if (cursor_ >= rows.size()) return false;
    const std::vector<TFuzzValue>& row = rows[cursor_++];
    for (size_t c = 0; c < columns.size(); ++c) {
      const int field_no = static_cast<int>(c) + 1;
      if (row[c].null) {
        record.StoreFieldNull(field_no, buffer);
      } else if (columns[c].type == ftBlob || columns[c].type == ftMemo) {
        record.StoreBlobValue(field_no, buffer, row[c].bytes);
      } else {
        record.StoreFieldValue(field_no, row[c].bytes.data(), buffer,
                               static_cast<int>(row[c].bytes.size()));
      }
    }
    return true;
  }

 private:
  size_t cursor_ = 0;
  int handle_ = 0;
};

// The types the ODBC driver produces.
inline constexpr TFieldType kFuzzTypes[] = {
    ftString,  ftWideString, ftSmallint, ftInteger,  ftAutoInc, ftLargeint, ftFloat, ftCurrency,
    ftBoolean, ftDate,       ftTime,     ftDateTime, ftBytes,   ftVarBytes, ftBlob,  ftMemo};

// A value of the column's type, as the ODBC driver would store it.
inline TFuzzValue FuzzValue(FuzzedDataProvider& input, const TFuzzColumn& column) {
  TFuzzValue value;
  value.null = input.ConsumeIntegralInRange<int>(0, 7) == 0;
  if (value.null) return value;
  auto raw = [&](auto number) {
    value.bytes.assign(reinterpret_cast<const char*>(&number), sizeof number);
  };
  switch (column.type) {
    case ftSmallint:
      raw(input.ConsumeIntegral<int16_t>());
      break;
    case ftBoolean:
      raw(static_cast<int16_t>(input.ConsumeBool()));
      break;
    case ftInteger:
    case ftAutoInc:
      raw(input.ConsumeIntegral<int32_t>());
      break;
    case ftLargeint:
      raw(input.ConsumeIntegral<int64_t>());
      break;
    case ftFloat:
    case ftCurrency:
      raw(input.ConsumeIntegral<uint64_t>());  // any bits: NaN, infinities, subnormals
      break;
    case ftDate:  // 0001-01-01 .. 9999-12-31
      raw(input.ConsumeIntegralInRange<int32_t>(1, 3652059));
      break;
    case ftTime:
      raw(input.ConsumeIntegralInRange<int32_t>(0, 86399999));
      break;
    case ftDateTime:
      raw(static_cast<double>(input.ConsumeIntegralInRange<int32_t>(1, 3652059)) * 86400000.0 +
          input.ConsumeIntegralInRange<int32_t>(0, 86399999));
      break;
    default:  // text, bytes, blobs and memos
      value.bytes = input.ConsumeRandomLengthString(column.size > 0 ? column.size : 200);
      break;
  }
  return value;
}

// A database of its own name and the query on it, filled from the input.
class TFuzzQuery {
 public:
  TFuzzQuery() {
    auto driver = std::make_unique<TFuzzDriver>();
    driver_ = driver.get();
    database_.SetLoginPrompt(false);
    database_.SetDriver(std::move(driver));
    database_.SetName("FuzzDb");
  }

  // Chooses up to 8 columns and up to 6 rows; opens a new query on them.
  TcsQuery& Open(FuzzedDataProvider& input) {
    driver_->columns.clear();
    driver_->rows.clear();
    const int column_count = input.ConsumeIntegralInRange<int>(1, 8);
    for (int c = 0; c < column_count; ++c) {
      TFuzzColumn column;
      column.type = input.PickValueInArray(kFuzzTypes);
      column.size = input.ConsumeIntegralInRange<int>(0, 40);
      column.name = input.ConsumeRandomLengthString(12);
      driver_->columns.push_back(column);
    }
    const int row_count = input.ConsumeIntegralInRange<int>(0, 6);
    for (int r = 0; r < row_count; ++r) {
      std::vector<TFuzzValue> row;
      for (const TFuzzColumn& column : driver_->columns) row.push_back(FuzzValue(input, column));
      driver_->rows.push_back(std::move(row));
    }
    query_ = std::make_unique<TcsQuery>();
    query_->SetDataBaseName("FuzzDb");
    query_->SetSQLText("select");
    query_->Open();
    return *query_;
  }

 private:
  TcsCustomDatabase database_;
  TFuzzDriver* driver_;
  std::unique_ptr<TcsQuery> query_;
};

}  // namespace velquarn::fuzz
