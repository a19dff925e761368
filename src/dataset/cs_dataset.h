// TcsDataset: the query dataset of the dataset layer. It holds an SQL
// statement and its parameters, runs the statement through its database's
// driver on a connection borrowed from that driver, and holds the result
// rows as fixed-size record buffers (TcsBuffers) with long values in a blob
// store (TcsBlobList). TcsQuery publishes it.
//
// Rows are fetched lazily, one per step of the cursor, unless eoCacheAll
// fetches them all at open; eoUniDirectional keeps only the last fetched
// row. Positions are 1-based; 0 is before the first row.
//
// Fast row access: after a move, GetFieldDataPtr(field) points at the value
// bytes of the current row (null for a null value), in the slot formats of
// field.h, and BlobView(field) views a blob value in place; neither
// allocates.
//
// Messages (EDatabaseError): "No statement in query", "Database '%s' not
// found", "Unable to acquire connection from driver", "Recursive datalinks
// not allowed", "Dataset not in edit mode.", "Field '%s' is read-only",
// "Bookmark not found.", "Field '%s' is of undefined type.", "Field '%s' has
// an unsupported type.". Driver errors pass through as EcsSQLError.
//
// A dataset is used by one thread at a time.
#pragma once

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/string_list.h"
#include "dataset/blob_list.h"
#include "dataset/data_link.h"
#include "dataset/dataset.h"
#include "dataset/db_types.h"
#include "dataset/params.h"
#include "dataset/record_buffers.h"
#include "dataset/record_sink.h"
#include "dataset/update_writer.h"

namespace velquarn {

class TConnectionHandle;
class TcsCustomDatabase;
class TcsDataset;

enum TcsExecuteOption : uint8_t { eoCacheAll = 1, eoUniDirectional = 2 };
using TcsExecuteOptions = uint8_t;
enum TcsQueryOption : uint8_t {
  ConvertBlankToNull = 1,
  LocalEdit = 2,
  TrimAllStrings = 4,
  SuppressNullsOnInsert = 8
};
using TcsQueryOptions = uint8_t;

using TUpdateRecordEvent = std::function<void(TDataSet&, TUpdateKind, TUpdateAction&)>;
using TUpdateErrorEvent =
    std::function<void(TDataSet&, EDatabaseError&, TUpdateKind, TUpdateAction&)>;

// The link from a detail query to its master's data source: a change of the
// master's row or active state re-runs the detail with the master's values.
class TcsDatalink : public TDetailDataLink {
 public:
  explicit TcsDatalink(TcsDataset& query) : query_(query) {}
  TDataSet* DetailDataSet() const override;

 protected:
  void ActiveChanged() override;
  void RecordChanged(TField* field) override;
  void CheckBrowseMode() override;

 private:
  TcsDataset& query_;
};

class TcsDataset : public TDataSet, public TRecordSink {
 public:
  TcsDataset();
  // Closes, gives a held connection back (not forced), and leaves its
  // database's attached list.
  ~TcsDataset() override;

  // The statement. Setting a different text fires the SQL change: unprepare,
  // close (keeping the connection), and with ParamCheck re-parse the
  // parameters, keeping the values of parameters that keep their names.
  const TStringList& SQL() const { return sql_; }
  void SetSQL(const TStringList& sql);
  void SetSQLText(std::string_view text);
  void ClearSQL();
  // The text sent to the driver ("?" for each parameter).
  const std::string& ProcessedSQL() const { return processed_sql_; }
  TParams& Params() { return params_; }
  const TParams& Params() const { return params_; }
  void SetParams(const TParams& params) { params_.Assign(params); }
  bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool value) { param_check_ = value; }

  // The key in the global database list. A different name closes an active
  // dataset, gives its connection back and forgets its database.
  const std::string& DataBaseName() const { return database_name_; }
  void SetDataBaseName(const std::string& name);
  // The database found by name at the first execution, or the one handed
  // over with SetDatabase; null before either.
  TcsCustomDatabase* Database() const { return database_; }
  // Binds the dataset to database directly (borrowed; the dataset is told
  // when it is destroyed), without the lookup in the global list; the
  // database name becomes database's. A different database closes an
  // active dataset and gives its connection back first.
  void SetDatabase(TcsCustomDatabase* database);

  // Master/detail. Raises "Recursive datalinks not allowed" for a source
  // that already leads back to this dataset.
  TDataSource* DataSource() const override { return datalink_->DataSource(); }
  void SetDataSource(TDataSource* source);

  TcsExecuteOptions ExecuteOptions() const { return execute_options_; }
  void SetExecuteOptions(TcsExecuteOptions options) { execute_options_ = options; }
  TcsQueryOptions QueryOptions() const { return query_options_; }
  void SetQueryOptions(TcsQueryOptions options) { query_options_ = options; }

  // The writers of posted and deleted rows (update_writer.h).
  TcsUpdateWriter* UpdateObject() const { return update_object_; }
  void SetUpdateObject(TcsUpdateWriter* writer);  // borrowed
  TcsUpdateWriter* UpdateParams() const { return update_params_.get(); }
  void SetUpdateParams(std::unique_ptr<TcsUpdateWriter> writer);  // owned

  TUpdateRecordEvent OnUpdateRecord;
  TUpdateErrorEvent OnUpdateError;
  TDataSetNotifyEvent OnPost;

  // Runs the statement without opening a result (on the driver's main
  // connection) and returns RowsAffected.
  int ExecSQL();
  // Rows affected by the last execution; kept when an execution raises.
  int RowsAffected() const { return rows_affected_; }
  // Closes the open result and its statement, without a state change.
  void CloseCursor();
  // Re-runs the detail with the master's current values.
  void RefreshParams();

  // Connection handling (the driver's side of the contract).
  TConnectionHandle* Connection() const override { return connection_; }
  TConnectionHandle*& ConnectionRef() { return connection_; }
  bool Prepared() const { return prepared_; }
  // Asks the database for a connection and joins its attached datasets;
  // "Unable to acquire connection from driver" on a null answer. Does
  // nothing without a database.
  void AcquireConnection();
  // Gives the connection back to the driver (force: close it, never pool);
  // suppressed while the SQL text is being changed.
  void ReleaseConnection(bool force);

  // Driver callback while describing. A duplicate column name gets the
  // field number appended; ftAutoInc is always read-only.
  void AddColumnDef(const std::string& name, TFieldType data_type, int size, bool required,
                    int field_no, bool read_only, int precision);
  // The record sink of the driver's fetch (record_sink.h).
  int ColumnCount() const override { return FieldCount(); }
  const TField* ColumnField(int field_no) const override;
  void StoreFieldValue(int field_no, const void* value, char* record_buffer, int length) override {
    if (field_no < 1 || field_no > field_offsets_.Count() || record_buffer == nullptr) return;
    char* slot = record_buffer + field_offsets_.Offset(field_no - 1);
    const int value_size = field_offsets_.ValueSize(field_no - 1);
    const int n = std::clamp(length, 0, value_size);
    slot[0] = 1;
    if (n > 0) std::memcpy(slot + 1, value, static_cast<size_t>(n));
    // Text is stored zero-terminated whatever the buffer held before.
    if (n < value_size) slot[1 + n] = '\0';
  }
  void StoreFieldNull(int field_no, char* record_buffer) override {
    if (field_no < 1 || field_no > field_offsets_.Count() || record_buffer == nullptr) return;
    record_buffer[field_offsets_.Offset(field_no - 1)] = 0;
  }
  // Stores a long value: replaces the slot's blob item, or adds one and
  // writes its index into the slot; marks the slot present.
  void StoreBlobValue(TField& field, char* record_buffer, std::string_view value);
  void StoreBlobValue(int field_no, char* record_buffer, std::string_view value) override;

  // Fetching: one row (false at the end of the result), all rows, or up to
  // n rows (returns how many were fetched).
  bool FetchOne();
  void FetchAll();
  int FetchN(int n);
  // True once the driver reported that no further row exists.
  bool EndOfResult() const { return end_of_result_; }
  // Fetches rows until n are held beyond the cursor's row, so that later
  // moves read them from memory, while the caller has nothing else to do. stop is asked
  // before each row; the read-ahead ends as soon as it answers true. A
  // fetch that fails here is not raised: its error is kept and raised by the
  // next fetch, which is the move that reaches that row, so a client sees
  // it where it would have without the read-ahead. Returns the rows
  // fetched; none in single-row mode, where a row read ahead would replace
  // the current one.
  int ReadAhead(int n, const std::function<bool()>& stop);

  const char* GetFieldDataPtr(const TField& field) const override;
  void SetFieldData(TField& field, const void* source) override;
  std::unique_ptr<TMemoryStream> CreateBlobStream(TField& field, TBlobStreamMode mode) override;
  // The blob value of the field in the record the state selects; empty for
  // a null value or index 0.
  std::string_view BlobView(const TField& field) const;
  std::string ReadBlobValue(const TField& field, const char* record_buffer) const;
  // The record buffer the state selects (see the active-buffer rules), or
  // null.
  char* GetActiveRecBuf() const;

  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;
  bool Locate(std::string_view key_fields, const std::vector<TVariant>& key_values,
              TLocateOptions options) override;
  using TDataSet::Locate;
  std::vector<TVariant> Lookup(std::string_view key_fields, const std::vector<TVariant>& key_values,
                               std::string_view result_fields) override;

  // Layout of the open result.
  int DataSize() const { return data_size_; }
  const TcsFieldOffsets& FieldOffsets() const { return field_offsets_; }
  const TcsBuffers* RecordBuffers() const { return buffers_.get(); }
  TcsBlobList* BlobList() const { return blob_list_.get(); }
  // Rows held / fetched so far, and the position.
  int LoadedCount() const { return loaded_count_; }
  // The most the record buffers of one result may hold; a fetch that would
  // go past it raises EResultTooLarge and leaves the rows fetched so far.
  // 0 (the default): no limit. Long values in the blob store are not
  // counted.
  void SetMaxHeldBytes(int64_t bytes) { max_held_bytes_ = bytes; }
  int CurrentPosition() const { return position_; }

 protected:
  void Prepare();
  void UnPrepare();

  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return cursor_open_; }
  int RecordSize() const override { return record_size_; }
  TGetResult GetRecord(char* buffer, TGetMode mode, bool do_check) override;
  void InternalFirst() override { position_ = 0; }
  void InternalLast() override;
  void InternalInitRecord(char* buffer) override;
  void InternalAddRecord(char* buffer, bool append) override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  void InternalCancel() override;
  void InternalSetToRecord(char* buffer) override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  TBookmarkFlag GetBookmarkFlag(const char* buffer) const override;
  void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override;
  TBookmark GetBookmarkData(const char* buffer) const override;
  void SetBookmarkData(char* buffer, const TBookmark& bookmark) override;
  int GetRecordCount() override;
  int GetRecNo() override;
  void SetRecNoImpl(int value) override;
  bool GetCanModify() const override;
  void ClearCalcFields(char* buffer) override;
  int CalcFieldsOffset() const override { return data_size_; }

  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TcsDatalink;

  void SQLChanged();
  void LocateDatabase();
  void ApplyMasterParams();
  void CheckStatement() const;
  void ExecuteQuery();
  void InitFieldDefs();
  void ComputeLayout();
  void NewStores();
  void FreeStores();
  bool FindBookmark(int32_t bookmark);
  int32_t BufferBookmark(const char* buffer) const;
  void WriteRow(TUpdateKind kind);
  bool HasWriter() const;
  bool SearchRecord(std::string_view key_fields, const std::vector<TVariant>& key_values,
                    TLocateOptions options, int& found);
  // SearchRecord with the dataset in dsFilter on the scratch buffer for the
  // call, so the key fields read the rows searched.
  bool SearchInFilterState(std::string_view key_fields, const std::vector<TVariant>& key_values,
                           TLocateOptions options, int& found);
  void ReleaseBlobsOf(const char* row, const char* keep);
  void ForgetDatabase();

  TStringList sql_;
  std::string processed_sql_;
  TParams params_;
  bool param_check_ = true;
  std::string database_name_;
  TcsCustomDatabase* database_ = nullptr;    // borrowed
  TConnectionHandle* connection_ = nullptr;  // borrowed from the driver
  bool prepared_ = false;
  bool sql_changing_ = false;  // the SQL-change guard
  std::unique_ptr<TcsDatalink> datalink_;
  TcsExecuteOptions execute_options_ = 0;
  TcsQueryOptions query_options_ = 0;
  TcsUpdateWriter* update_object_ = nullptr;  // borrowed
  std::unique_ptr<TcsUpdateWriter> update_params_;
  int rows_affected_ = 0;

  std::unique_ptr<TcsBuffers> buffers_;
  std::unique_ptr<TcsBlobList> blob_list_;
  TcsFieldOffsets field_offsets_;
  int data_size_ = 0;
  int record_size_ = 0;
  int64_t max_held_bytes_ = 0;
  int32_t position_ = 0;
  int32_t loaded_count_ = 0;
  int32_t bookmark_counter_ = 0;
  bool end_of_result_ = false;
  // The error a read-ahead met, raised by the next fetch; cleared by a
  // close or a new execution.
  std::exception_ptr deferred_fetch_error_;
  bool cursor_open_ = false;
  std::vector<char> fetch_buffer_;
  mutable std::vector<char> scratch_buffer_;  // old values and searches
};

}  // namespace velquarn
