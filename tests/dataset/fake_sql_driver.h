// A small in-memory SQL driver for the dataset layer's unit tests: it serves
// one table to every statement that begins with "select", counts rows
// affected for every other statement, and records what the dataset asked of
// it. Real drivers cannot be made to report these counts or to fail on
// demand; everything that touches ODBC is tested against real drivers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/string_list.h"
#include "common/text.h"
#include "dataset/cs_dataset.h"
#include "dataset/database.h"
#include "dataset/slot_format.h"
#include "dataset/sql_driver.h"
#include "dataset/sql_errors.h"

namespace velquarn::testing {

struct FakeColumn {
  std::string name;
  TFieldType type = ftInteger;
  int size = 0;
  bool required = false;
  bool read_only = false;
};

class FakeSQLDriver : public TcsCustomSQLDriver {
 public:
  std::vector<FakeColumn> columns;
  std::vector<std::vector<TVariant>> rows;
  int rows_affected = 1;
  // The FetchRecord call (1-based) that fails, or 0.
  int failing_fetch = 0;

  // What the dataset asked for.
  std::vector<std::string> statements;
  std::vector<bool> with_dataset;
  std::vector<TParams> params_seen;
  int fetch_calls = 0;
  int acquired = 0;
  int released = 0;
  int forced_releases = 0;
  int closed_statements = 0;
  int prepared = 0;

  void Disconnect() override { connected_ = false; }
  void Connect() override { connected_ = true; }
  void ControlTransaction(int) override {}
  bool InTransaction() override { return false; }
  void GetIndexFields(const std::string&, const std::string&, TStringList&) override {}
  void GetIndexNames(const std::string&, TStringList&) override {}
  void GetTableNames(const std::string&, const std::string&, TStringList&, bool, bool) override {}
  void GetDatabaseNames(TStringList&) override {}

  int ExecSQL(const std::string& sql, TParams* params, TcsDataset* dataset) override {
    statements.push_back(sql);
    with_dataset.push_back(dataset != nullptr);
    params_seen.push_back(params != nullptr ? *params : TParams());
    if (dataset != nullptr && dataset->Connection() == nullptr) dataset->AcquireConnection();
    result_open_ = StartsWithSelect(sql);
    cursor_ = 0;
    return result_open_ ? 0 : rows_affected;
  }

  bool DescribeColumns(TcsDataset& dataset) override {
    if (!result_open_) return false;
    for (size_t c = 0; c < columns.size(); ++c) {
      const FakeColumn& column = columns[c];
      dataset.AddColumnDef(column.name, column.type, column.size, column.required,
                           static_cast<int>(c) + 1, column.read_only, 0);
    }
    return true;
  }

  bool FetchRecord(TRecordSink& record, char* buffer) override {
    ++fetch_calls;
    if (fetch_calls == failing_fetch) throw EcsSQLError(1, "HY000:fetch failed");
    if (!result_open_ || cursor_ >= rows.size()) return false;
    const std::vector<TVariant>& row = rows[cursor_++];
    for (size_t c = 0; c < columns.size() && c < row.size(); ++c) {
      const int field_no = static_cast<int>(c) + 1;
      const TVariant& value = row[c];
      const TFieldType type = columns[c].type;
      char slot[8] = {};
      if (value.IsNull()) {
        record.StoreFieldNull(field_no, buffer);
      } else if (type == ftString) {
        const std::string text = value.AsString();
        record.StoreFieldValue(field_no, text.data(), buffer, static_cast<int>(text.size()));
      } else if (type == ftFloat) {
        EncodeFloatSlot(value.AsFloat(), slot);
        record.StoreFieldValue(field_no, slot, buffer, sizeof(double));
      } else if (type == ftMemo || type == ftBlob) {
        record.StoreBlobValue(field_no, buffer, value.AsString());
      } else {
        // Every other column is served as a 32-bit integer.
        EncodeIntegerSlot(ftInteger, value.AsInteger(), slot);
        record.StoreFieldValue(field_no, slot, buffer, sizeof(int32_t));
      }
    }
    return true;
  }

  void ReleaseConnection(TConnectionHandle*& connection, bool force) override {
    if (connection == nullptr) return;
    ++released;
    if (force) ++forced_releases;
    connection = nullptr;
  }
  void CloseStatement(TConnectionHandle*) override { ++closed_statements; }
  TConnectionHandle* AcquireConnection() override {
    ++acquired;
    return reinterpret_cast<TConnectionHandle*>(&handle_);
  }
  void Prepare(const std::string&, TcsDataset&) override { ++prepared; }

  // The parameters of the last statement as "name=value;" pairs, a null
  // value as "null".
  std::string LastParamsText() const {
    const TParams& params = params_seen.back();
    std::string text;
    for (int i = 0; i < params.Count(); ++i) {
      text += params.Items(i).Name() + "=" +
              (params.Items(i).IsNull() ? "null" : params.Items(i).AsString()) + ";";
    }
    return text;
  }

 private:
  static bool StartsWithSelect(const std::string& sql) {
    return SameText(Trim(sql).substr(0, 6), "select");
  }

  bool connected_ = false;
  bool result_open_ = false;
  size_t cursor_ = 0;
  int handle_ = 0;
};

// A database with a fake driver, registered in the global list under a
// name of its own.
class FakeDatabase {
 public:
  explicit FakeDatabase(const std::string& name, int pool_size = 1) {
    auto driver = std::make_unique<FakeSQLDriver>();
    driver_ = driver.get();
    database_.SetLoginPrompt(false);
    database_.SetDriver(std::move(driver));
    database_.SetConnectionPoolSize(pool_size);
    database_.SetName(name);
  }
  FakeSQLDriver& Driver() { return *driver_; }
  TcsCustomDatabase& Database() { return database_; }
  const std::string& Name() const { return database_.DataBaseName(); }

 private:
  TcsCustomDatabase database_;
  FakeSQLDriver* driver_;
};

}  // namespace velquarn::testing
