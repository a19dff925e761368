#include "dataset/cs_dataset.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

#include "common/memory_return.h"
#include "common/text.h"
#include "dataset/blob_stream.h"
#include "dataset/database.h"
#include "dataset/database_list.h"
#include "dataset/slot_format.h"
#include "dataset/sql_driver.h"
#include "dataset/sql_errors.h"

namespace velquarn {

namespace {

// The database as a component, for removal notices, when its class is one.
template <typename Database>
TComponent* AsComponent(Database* database) {
  if constexpr (std::is_base_of_v<TComponent, Database>) {
    return database;
  } else {
    return nullptr;
  }
}

// A result that held at least this much in its record buffers hands its
// memory back to the system when it closes (common/memory_return.h); small
// results skip the walk over the heap that it costs.
constexpr int64_t kReturnMemoryAfterBytes = 4 * 1024 * 1024;

bool IsMainThread() { return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid(); }

}  // namespace

TDataSet* TcsDatalink::DetailDataSet() const { return &query_; }

void TcsDatalink::ActiveChanged() {
  if (query_.Active()) query_.RefreshParams();
}

void TcsDatalink::RecordChanged(TField* field) {
  if (field == nullptr && query_.Active()) query_.RefreshParams();
}

void TcsDatalink::CheckBrowseMode() {
  if (query_.Active()) query_.CheckBrowseMode();
}

TcsDataset::TcsDataset() : datalink_(std::make_unique<TcsDatalink>(*this)) {}

TcsDataset::~TcsDataset() {
  try {
    if (Active()) Close();
  } catch (...) {
    // A destructor cannot report; the connection is still given back below.
  }
  try {
    if (connection_ != nullptr) ReleaseConnection(false);
  } catch (...) {
    // As above.
  }
  // Never leave a pointer to this dataset in the database's attached list.
  if (database_ != nullptr) database_->DetachDataset(this);
  SendRemovalNotices();
  datalink_->SetDataSource(nullptr);
}

void TcsDataset::SetSQL(const TStringList& sql) {
  if (sql.Text() == sql_.Text()) return;
  sql_ = sql;
  SQLChanged();
}

void TcsDataset::SetSQLText(std::string_view text) {
  TStringList list;
  list.SetText(text);
  SetSQL(list);
}

void TcsDataset::ClearSQL() {
  if (sql_.Empty()) return;
  sql_.Clear();
  SQLChanged();
}

void TcsDataset::SQLChanged() {
  if (!Loading()) UnPrepare();
  sql_changing_ = true;
  try {
    if (Active()) Close();
  } catch (...) {
    sql_changing_ = false;
    throw;
  }
  sql_changing_ = false;

  // The lines joined by CR LF, without a line break after the last one.
  std::string text = sql_.Text();
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
    text.resize(text.size() - 2);
  if (!param_check_) {
    processed_sql_ = text;
    return;
  }
  std::string flat;
  flat.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      flat.push_back(' ');
      ++i;
    } else {
      flat.push_back(text[i]);
    }
  }
  if (!Loading()) flat.push_back(' ');
  TParams fresh;
  std::string processed = ParseSQL(flat, &fresh);
  const size_t nul = processed.find('\0');
  if (nul != std::string::npos) processed.resize(nul);
  fresh.AssignValues(params_);
  params_.Clear();
  params_.Assign(fresh);
  processed_sql_ = std::move(processed);
}

void TcsDataset::SetDataBaseName(const std::string& name) {
  if (name == database_name_) return;
  if (Active()) {
    Close();
    ReleaseConnection(false);
    ForgetDatabase();
  }
  database_name_ = name;
}

void TcsDataset::SetDatabase(TcsCustomDatabase* database) {
  if (database == database_) return;
  if (Active()) {
    Close();
    ReleaseConnection(false);
  }
  ForgetDatabase();
  if (database == nullptr) return;
  database_name_ = database->DataBaseName();
  database_ = database;
  FreeNotification(AsComponent(database_));
}

void TcsDataset::ForgetDatabase() {
  if (database_ == nullptr) return;
  RemoveFreeNotification(AsComponent(database_));
  if (connection_ == nullptr) database_->DetachDataset(this);
  database_ = nullptr;
}

void TcsDataset::SetDataSource(TDataSource* source) {
  if (source == DataSource()) return;
  if (source != nullptr && IsLinkedTo(source)) {
    throw EDatabaseError("Recursive datalinks not allowed");
  }
  if (DataSource() != nullptr) RemoveFreeNotification(DataSource());
  datalink_->SetDataSource(source);
  if (source != nullptr) FreeNotification(source);
}

void TcsDataset::SetUpdateObject(TcsUpdateWriter* writer) {
  if (writer == update_object_) return;
  if (update_object_ != nullptr) RemoveFreeNotification(update_object_);
  update_object_ = writer;
  if (update_object_ != nullptr) FreeNotification(update_object_);
}

void TcsDataset::SetUpdateParams(std::unique_ptr<TcsUpdateWriter> writer) {
  update_params_ = std::move(writer);
}

void TcsDataset::Notification(TComponent* component, TOperation operation) {
  TDataSet::Notification(component, operation);
  if (operation != opRemove || component == nullptr) return;
  if (component == update_object_) update_object_ = nullptr;
  if (component == DataSource()) datalink_->SetDataSource(nullptr);
  if (database_ != nullptr && component == AsComponent(database_)) {
    // The database is still whole while it sends its notices.
    try {
      if (Active()) Close();
      if (connection_ != nullptr) database_->ReleaseDatasetConnection(*this, false);
    } catch (...) {
      // Notices cannot fail; the references are dropped regardless.
    }
    database_->DetachDataset(this);
    database_ = nullptr;
    connection_ = nullptr;
  }
}

void TcsDataset::CheckStatement() const {
  if (Trim(processed_sql_).empty()) throw EDatabaseError("No statement in query");
}

void TcsDataset::LocateDatabase() {
  if (database_ != nullptr) return;
  TcsCustomDatabase* database = GlobalDatabaseList().FindDatabase(database_name_);
  if (database == nullptr) {
    throw EDatabaseError(Format("Database '%s' not found", database_name_.c_str()));
  }
  database_ = database;
  FreeNotification(AsComponent(database_));
}

void TcsDataset::ApplyMasterParams() {
  TDataSource* source = DataSource();
  if (source == nullptr || source->DataSet() == nullptr) return;
  TDataSet& master = *source->DataSet();
  for (int i = 0; i < params_.Count(); ++i) {
    TParam& param = params_[i];
    const std::string& name = param.Name();
    if (name.size() >= 4 && SameText(std::string_view(name).substr(0, 4), "OLD_")) {
      if (TField* field = master.FindField(std::string_view(name).substr(4))) {
        param.AssignFieldValue(*field, field->OldValue());
      }
    } else if (TField* field = master.FindField(name)) {
      param.AssignField(*field);
    }
  }
}

int TcsDataset::ExecSQL() {
  CheckStatement();
  LocateDatabase();
  ApplyMasterParams();
  const int rows = database_->ExecSQL(processed_sql_, &params_, nullptr);
  rows_affected_ = std::max(rows, 0);
  return rows_affected_;
}

void TcsDataset::ExecuteQuery() {
  CheckStatement();
  LocateDatabase();
  ApplyMasterParams();
  const int rows = database_->ExecSQL(processed_sql_, &params_, this);
  rows_affected_ = std::max(rows, 0);
}

void TcsDataset::AcquireConnection() {
  if (database_ == nullptr) return;
  TConnectionHandle* connection = database_->AcquireConnection();
  if (connection == nullptr) throw EDatabaseError("Unable to acquire connection from driver");
  connection_ = connection;
  database_->AttachDataset(this);
}

void TcsDataset::ReleaseConnection(bool force) {
  if (sql_changing_) return;
  if (database_ == nullptr) return;
  database_->ReleaseDatasetConnection(*this, force);
}

void TcsDataset::Prepare() {
  if (!prepared_) {
    CheckStatement();
    LocateDatabase();
    ApplyMasterParams();
  }
  if (database_ != nullptr && database_->Driver() != nullptr) {
    database_->Driver()->Prepare(processed_sql_, *this);
    prepared_ = true;
  }
}

void TcsDataset::UnPrepare() {
  if (!prepared_) return;
  if (database_ != nullptr && database_->Driver() != nullptr) database_->Driver()->UnPrepare(*this);
  prepared_ = false;
}

void TcsDataset::AddColumnDef(const std::string& name, TFieldType data_type, int size,
                              bool required, int field_no, bool read_only, int precision) {
  TFieldDef def;
  def.name = name;
  if (FieldDefs().IndexOf(name) >= 0) def.name += IntToStr(field_no);
  def.data_type = data_type;
  def.size = std::max(size, 0);
  def.required = required;
  def.field_no = field_no;
  if (read_only || data_type == ftAutoInc) def.attributes |= faReadonly;
  if (data_type == ftFloat || data_type == ftCurrency || data_type == ftBCD) {
    def.precision = precision;
  }
  MutableFieldDefs().Add(def);
  const int value_size = FieldValueSize(data_type, def.size);
  field_offsets_.Add(data_size_, value_size);
  data_size_ += 1 + value_size;
}

void TcsDataset::StoreBlobValue(TField& field, char* record_buffer, std::string_view value) {
  const int field_no = field.FieldNo();
  if (field_no < 1 || field_no > field_offsets_.Count() || record_buffer == nullptr ||
      blob_list_ == nullptr) {
    return;
  }
  char* slot = record_buffer + field_offsets_.Offset(field_no - 1);
  const int32_t index = DecodeBlobSlot(slot + 1);
  if (index != 0) {
    blob_list_->Replace(index, value);
  } else {
    EncodeBlobSlot(slot + 1, blob_list_->Add(value));
  }
  slot[0] = 1;
}

void TcsDataset::StoreBlobValue(int field_no, char* record_buffer, std::string_view value) {
  if (TField* field = FieldByNumber(field_no)) StoreBlobValue(*field, record_buffer, value);
}

const TField* TcsDataset::ColumnField(int field_no) const {
  const TField* field = FieldByNumber(field_no);
  return field != nullptr && field->IsDataField() ? field : nullptr;
}

void TcsDataset::NewStores() {
  buffers_ = std::make_unique<TcsBuffers>(record_size_, (execute_options_ & eoUniDirectional) != 0);
  blob_list_ = std::make_unique<TcsBlobList>(TcsBlobList::kMemory);
}

void TcsDataset::FreeStores() {
  buffers_.reset();
  blob_list_.reset();
}

void TcsDataset::ComputeLayout() {
  record_size_ = data_size_ + CalcFieldsSize() + kRecordInfoSize;
  if (buffers_ != nullptr) buffers_->SetRecordSize(record_size_);
  fetch_buffer_.assign(static_cast<size_t>(record_size_), '\0');
  scratch_buffer_.assign(static_cast<size_t>(record_size_), '\0');
}

void TcsDataset::InitFieldDefs() {
  MutableFieldDefs().Clear();
  field_offsets_.Clear();
  if (connection_ == nullptr) ExecuteQuery();
  data_size_ = 0;
  if (TcsCustomSQLDriver* driver = database_->Driver()) driver->DescribeColumns(*this);
  cursor_open_ = FieldDefs().Count() > 0;
}

void TcsDataset::InternalOpen() {
  if (cursor_open_) InternalClose();
  end_of_result_ = false;
  deferred_fetch_error_ = nullptr;
  cursor_open_ = false;
  record_size_ = 0;
  NewStores();
  ExecuteQuery();
  InitFieldDefs();
  if (FieldCount() == 0) CreateFields();
  BindFields(true);
  bookmark_counter_ = 0;
  loaded_count_ = 0;
  position_ = 0;
  ComputeLayout();
  if (TcsCustomSQLDriver* driver = database_->Driver()) driver->SetFieldOrigins(*this);
  if ((execute_options_ & eoCacheAll) != 0) {
    FetchAll();
    if (database_->ConnectionPoolSize() > 0 && end_of_result_) ReleaseConnection(false);
  }
}

void TcsDataset::InternalClose() {
  const int64_t held = static_cast<int64_t>(loaded_count_) * record_size_;
  deferred_fetch_error_ = nullptr;
  if (cursor_open_) {
    cursor_open_ = false;
    BindFields(false);
    DestroyFields();
    bookmark_counter_ = 0;
    position_ = -1;
    FreeStores();
    if (connection_ != nullptr && database_ != nullptr && database_->ConnectionPoolSize() > 0) {
      ReleaseConnection(false);
    }
    end_of_result_ = false;
  } else {
    DestroyFields();
    FreeStores();
  }
  if (connection_ != nullptr && database_ != nullptr && database_->Driver() != nullptr) {
    database_->Driver()->CloseStatement(connection_);
  }
  // After the statement, so that what the driver held for it is free too.
  if (held >= kReturnMemoryAfterBytes) ReturnFreeMemory();
}

void TcsDataset::CloseCursor() { InternalClose(); }

bool TcsDataset::FetchOne() {
  if (FieldCount() == 0 || buffers_ == nullptr || database_ == nullptr ||
      database_->Driver() == nullptr || end_of_result_) {
    return false;
  }
  if (deferred_fetch_error_) std::rethrow_exception(std::exchange(deferred_fetch_error_, nullptr));
  if (max_held_bytes_ > 0 && !buffers_->SingleRow() &&
      static_cast<int64_t>(loaded_count_ + 1) * record_size_ > max_held_bytes_) {
    throw EResultTooLarge(max_held_bytes_);
  }
  char* buffer = fetch_buffer_.data();
  std::memset(buffer, 0, fetch_buffer_.size());
  if (buffers_->SingleRow()) {
    // The only held row is about to be replaced: its blob items are reused
    // in place, so that a long walk keeps the store at one row's values.
    if (const char* held = buffers_->Row(1)) {
      for (int i = 0; i < FieldCount(); ++i) {
        const TField& field = Fields(i);
        if (!field.IsBlob() || field.FieldNo() < 1 || field.FieldNo() > field_offsets_.Count()) {
          continue;
        }
        const int32_t offset = field_offsets_.Offset(field.FieldNo() - 1);
        std::memcpy(buffer + offset + 1, held + offset + 1, sizeof(int32_t));
      }
    }
  }
  if (!database_->Driver()->FetchRecord(*this, buffer)) {
    end_of_result_ = true;
    return false;
  }
  ++bookmark_counter_;
  ++loaded_count_;
  StoreSlot<int32_t>(buffer + data_size_ + CalcFieldsSize(), bookmark_counter_);
  SetBookmarkFlag(buffer, bfCurrent);
  buffers_->Add(buffer);
  return true;
}

void TcsDataset::FetchAll() {
  while (FetchOne()) {
  }
}

int TcsDataset::FetchN(int n) {
  int fetched = 0;
  while (fetched < n && FetchOne()) ++fetched;
  return fetched;
}

int TcsDataset::ReadAhead(int n, const std::function<bool()>& stop) {
  if (buffers_ == nullptr || buffers_->SingleRow() || deferred_fetch_error_) return 0;
  const int wanted = n - (buffers_->Count() - std::max(position_, 0));
  int fetched = 0;
  try {
    while (fetched < wanted && !end_of_result_ && !stop() && FetchOne()) ++fetched;
  } catch (...) {
    deferred_fetch_error_ = std::current_exception();
  }
  return fetched;
}

TGetResult TcsDataset::GetRecord(char* buffer, TGetMode mode, bool) {
  if (buffers_ == nullptr || buffer == nullptr) return mode == gmCurrent ? grError : grEOF;
  for (;;) {
    TGetResult result = grOK;
    const int held = buffers_->Count();
    switch (mode) {
      case gmCurrent:
        if (position_ < 1 || position_ > held) result = grError;
        break;
      case gmNext:
        ++position_;
        if (position_ > held) {
          if (end_of_result_) {
            position_ = held + 1;
            result = grEOF;
          } else {
            const bool fetched = FetchOne();
            position_ = buffers_->Count();
            if (!fetched) result = grEOF;
          }
        }
        break;
      case gmPrior:
        if (position_ > 1) {
          --position_;
        } else {
          result = grBOF;
        }
        break;
    }
    if (result != grOK) return result;
    buffers_->Get(buffer, position_);
    SetBookmarkFlag(buffer, bfCurrent);
    ClearCalcFields(buffer);
    GetCalcFields(buffer);
    if (FilterRecord(buffer)) return grOK;
    if (mode == gmCurrent) return grError;
  }
}

void TcsDataset::InternalLast() {
  if (!end_of_result_) FetchAll();
  position_ = (buffers_ == nullptr ? 0 : buffers_->Count()) + 1;
}

void TcsDataset::InternalInitRecord(char* buffer) {
  std::memset(buffer, 0, static_cast<size_t>(record_size_));
}

void TcsDataset::ClearCalcFields(char* buffer) {
  if (buffer != nullptr && CalcFieldsSize() > 0) {
    std::memset(buffer + data_size_, 0, static_cast<size_t>(CalcFieldsSize()));
  }
}

int32_t TcsDataset::BufferBookmark(const char* buffer) const {
  return LoadSlot<int32_t>(buffer + data_size_ + CalcFieldsSize());
}

TBookmarkFlag TcsDataset::GetBookmarkFlag(const char* buffer) const {
  return static_cast<TBookmarkFlag>(buffer[data_size_ + CalcFieldsSize() + kBookmarkSize]);
}

void TcsDataset::SetBookmarkFlag(char* buffer, TBookmarkFlag flag) {
  buffer[data_size_ + CalcFieldsSize() + kBookmarkSize] = static_cast<char>(flag);
}

TBookmark TcsDataset::GetBookmarkData(const char* buffer) const {
  const char* p = buffer + data_size_ + CalcFieldsSize();
  return TBookmark(p, p + kBookmarkSize);
}

void TcsDataset::SetBookmarkData(char* buffer, const TBookmark& bookmark) {
  if (bookmark.size() < static_cast<size_t>(kBookmarkSize)) return;
  std::memcpy(buffer + data_size_ + CalcFieldsSize(), bookmark.data(), kBookmarkSize);
}

void TcsDataset::InternalAddRecord(char* buffer, bool append) {
  if (append) InternalLast();
  ++bookmark_counter_;
  SetBookmarkFlag(buffer, bfCurrent);
  StoreSlot<int32_t>(buffer + data_size_ + CalcFieldsSize(), bookmark_counter_);
  if (!append && position_ > 0 && position_ <= buffers_->Count()) {
    buffers_->Insert(position_, buffer);
  } else {
    position_ = buffers_->Add(buffer);
  }
  ++loaded_count_;
}

bool TcsDataset::HasWriter() const {
  return update_object_ != nullptr || (update_params_ != nullptr && update_params_->CanWrite());
}

bool TcsDataset::GetCanModify() const { return HasWriter() || (query_options_ & LocalEdit) != 0; }

void TcsDataset::WriteRow(TUpdateKind kind) {
  if (update_object_ != nullptr) {
    update_object_->ApplyUpdate(*this, kind);
  } else if (update_params_ != nullptr && update_params_->CanWrite()) {
    update_params_->ApplyUpdate(*this, kind);
  }
}

void TcsDataset::ReleaseBlobsOf(const char* row, const char* keep) {
  if (row == nullptr || blob_list_ == nullptr) return;
  for (int i = 0; i < FieldCount(); ++i) {
    const TField& field = Fields(i);
    if (!field.IsBlob() || field.FieldNo() < 1 || field.FieldNo() > field_offsets_.Count()) {
      continue;
    }
    const int32_t offset = field_offsets_.Offset(field.FieldNo() - 1) + 1;
    const int32_t index = DecodeBlobSlot(row + offset);
    if (index != 0 && (keep == nullptr || DecodeBlobSlot(keep + offset) != index)) {
      blob_list_->Delete(index);
    }
  }
}

void TcsDataset::InternalPost() {
  // In single-row mode fetching would replace the very row being posted, and
  // its old values would then name another row.
  if (!end_of_result_ && !buffers_->SingleRow()) FetchAll();
  const bool inserting = State() == dsInsert;
  for (int i = 0; i < FieldCount(); ++i) {
    TField& field = Fields(i);
    if (field.ReadOnly() || field.DataType() != ftString || !field.IsDataField()) continue;
    const std::string text = field.AsString();
    const std::string trimmed = TrimRight(text);
    if (trimmed != text) field.SetAsString(trimmed);
  }
  if ((query_options_ & ConvertBlankToNull) != 0) {
    for (int i = 0; i < FieldCount(); ++i) {
      TField& field = Fields(i);
      if (field.ReadOnly() || field.DataType() != ftString || !field.IsDataField() ||
          field.IsNull()) {
        continue;
      }
      if (Trim(field.AsString()).empty()) field.Clear();
    }
  }
  if ((query_options_ & LocalEdit) == 0) {
    const TUpdateKind kind = inserting ? ukInsert : ukModify;
    if (OnUpdateRecord) {
      TUpdateAction action = uaFail;
      OnUpdateRecord(*this, kind, action);
      if (action == uaFail) throw EAbort();
    }
    try {
      WriteRow(kind);
    } catch (EcsSQLError& error) {
      if (OnPostError) {
        TDataAction action = daFail;
        OnPostError(*this, error, action);
        if (action == daAbort) throw EAbort();
      }
      throw;
    }
  }
  char* buffer = ActiveBuffer();
  if (inserting) {
    const TBookmarkFlag flag = GetBookmarkFlag(buffer);
    ++bookmark_counter_;
    SetBookmarkFlag(buffer, bfCurrent);
    StoreSlot<int32_t>(buffer + data_size_ + CalcFieldsSize(), bookmark_counter_);
    if (flag == bfEOF || position_ < 1 || position_ > buffers_->Count()) {
      position_ = buffers_->Add(buffer);
    } else {
      buffers_->Insert(position_, buffer);
    }
    ++loaded_count_;
  } else {
    ReleaseBlobsOf(buffers_->Row(position_), buffer);
    buffers_->Put(buffer, position_);
  }
  if (OnPost) {
    OnPost(*this);
    buffers_->Put(ActiveBuffer(), position_);
  }
}

void TcsDataset::InternalCancel() {
  if (buffers_ == nullptr) return;
  // Blob values written since the edit began live in items of their own.
  const char* held = State() == dsEdit ? buffers_->Row(position_) : nullptr;
  ReleaseBlobsOf(ActiveBuffer(), held);
}

void TcsDataset::InternalDelete() {
  if (!end_of_result_ && !buffers_->SingleRow()) FetchAll();
  bool write = true;
  if (OnUpdateRecord) {
    TUpdateAction action = uaFail;
    OnUpdateRecord(*this, ukDelete, action);
    if (action == uaFail) throw EAbort();
    write = action == uaSkip;
  }
  if (write && (query_options_ & LocalEdit) == 0) WriteRow(ukDelete);
  ReleaseBlobsOf(buffers_->Row(position_), nullptr);
  if (buffers_->Delete(position_)) {
    if (position_ > buffers_->Count()) --position_;
    --loaded_count_;
  }
}

void TcsDataset::InternalRefresh() {
  const int32_t saved = position_;
  cursor_open_ = false;
  NewStores();
  end_of_result_ = false;
  deferred_fetch_error_ = nullptr;
  ExecuteQuery();
  bookmark_counter_ = 0;
  loaded_count_ = 0;
  position_ = 0;
  cursor_open_ = true;
  if ((execute_options_ & eoCacheAll) != 0 && IsMainThread()) FetchAll();
  position_ = saved;
  CursorPosChanged();
}

bool TcsDataset::FindBookmark(int32_t bookmark) {
  if (buffers_ == nullptr) return false;
  if (const char* row = buffers_->Row(position_)) {
    if (BufferBookmark(row) == bookmark) return true;
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 1; i <= buffers_->Count(); ++i) {
      if (BufferBookmark(buffers_->Row(i)) == bookmark) {
        position_ = i;
        return true;
      }
    }
    if (pass == 0) {
      if (end_of_result_) break;
      InternalLast();
    }
  }
  return false;
}

void TcsDataset::InternalGotoBookmark(const TBookmark& bookmark) {
  if (bookmark.size() < static_cast<size_t>(kBookmarkSize) ||
      !FindBookmark(LoadSlot<int32_t>(bookmark.data()))) {
    throw EDatabaseError("Bookmark not found.");
  }
}

void TcsDataset::InternalSetToRecord(char* buffer) {
  InternalGotoBookmark(GetBookmarkData(buffer));
}

bool TcsDataset::BookmarkValid(const TBookmark& bookmark) {
  if (!Active()) return false;
  CursorPosChanged();
  return bookmark.size() >= static_cast<size_t>(kBookmarkSize) &&
         FindBookmark(LoadSlot<int32_t>(bookmark.data()));
}

int TcsDataset::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (&a == &b) return 0;
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return -1;
  if (b.empty()) return 1;
  const int32_t x = a.size() >= 4 ? LoadSlot<int32_t>(a.data()) : 0;
  const int32_t y = b.size() >= 4 ? LoadSlot<int32_t>(b.data()) : 0;
  return x < y ? -1 : (x > y ? 1 : 0);
}

int TcsDataset::GetRecordCount() { return buffers_ == nullptr ? 0 : buffers_->Count(); }

int TcsDataset::GetRecNo() {
  if (State() != dsCalcFields) UpdateCursorPos();
  if (position_ == 0 && GetRecordCount() > 0) return 1;
  return position_;
}

void TcsDataset::SetRecNoImpl(int value) {
  CheckBrowseMode();
  if (buffers_ == nullptr) return;
  DoBeforeScroll();
  if (value < 1 || value > buffers_->Count()) {
    // In single-row mode the held count stays 1: count the rows fetched.
    while (buffers_->Count() < value && (!buffers_->SingleRow() || loaded_count_ < value) &&
           FetchOne()) {
    }
    value = std::clamp(value, buffers_->Count() > 0 ? 1 : 0, buffers_->Count());
  }
  position_ = value;
  CursorPosChanged();
  Resync();
  DoAfterScroll();
}

char* TcsDataset::GetActiveRecBuf() const {
  switch (State()) {
    case dsBrowse:
      return IsEmpty() ? nullptr : const_cast<char*>(ActiveBuffer());
    case dsEdit:
    case dsInsert:
    case dsNewValue:
    case dsBlockRead:
      return const_cast<char*>(ActiveBuffer());
    case dsCalcFields:
      return CalcBuffer();
    case dsFilter:
      return FilterBuffer();
    case dsOldValue:
      if (scratch_buffer_.empty()) return nullptr;
      if (buffers_ != nullptr) {
        buffers_->Get(scratch_buffer_.data(), position_);
      } else {
        std::fill(scratch_buffer_.begin(), scratch_buffer_.end(), '\0');
      }
      return scratch_buffer_.data();
    default:
      return nullptr;
  }
}

const char* TcsDataset::GetFieldDataPtr(const TField& field) const {
  // The common case of a walk: a data field of the row being browsed.
  const int field_no = field.FieldNo();
  if (State() == dsBrowse && field_no > 0 && field_no <= field_offsets_.Count()) {
    if (IsEmpty()) return nullptr;
    const char* slot = ActiveBuffer() + field_offsets_.Offset(field_no - 1);
    return slot[0] == 0 ? nullptr : slot + 1;
  }
  const char* buffer = GetActiveRecBuf();
  if (buffer == nullptr) return nullptr;
  const char* slot;
  if (field.FieldNo() > 0) {
    if (field.FieldNo() > field_offsets_.Count()) return nullptr;
    slot = buffer + field_offsets_.Offset(field.FieldNo() - 1);
  } else {
    switch (State()) {
      case dsBrowse:
      case dsEdit:
      case dsInsert:
      case dsCalcFields:
        break;
      default:
        return nullptr;
    }
    slot = buffer + data_size_ + field.Offset();
  }
  return slot[0] == 0 ? nullptr : slot + 1;
}

void TcsDataset::SetFieldData(TField& field, const void* source) {
  const TDataSetState state = State();
  switch (state) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
      break;
    default:
      throw EDatabaseError("Dataset not in edit mode.");
  }
  char* buffer = GetActiveRecBuf();
  if (buffer == nullptr) return;
  if (field.FieldNo() <= 0) {
    char* slot = buffer + data_size_ + field.Offset();
    slot[0] = source != nullptr ? 1 : 0;
    if (source != nullptr && !field.IsBlob()) {
      std::memcpy(slot + 1, source, static_cast<size_t>(field.DataSize()));
    }
  } else {
    if (state == dsCalcFields) throw EDatabaseError("Dataset not in edit mode.");
    if (field.ReadOnly() && state != dsSetKey && state != dsFilter) {
      throw EDatabaseError(Format("Field '%s' is read-only", field.DisplayName().c_str()));
    }
    if (field.OnValidate) field.OnValidate(field);
    if (field.FieldNo() > field_offsets_.Count()) return;
    char* slot = buffer + field_offsets_.Offset(field.FieldNo() - 1);
    const int value_size = field_offsets_.ValueSize(field.FieldNo() - 1);
    if (source == nullptr) {
      slot[0] = 0;
    } else if (field.IsBlob()) {
      const auto& value = *static_cast<const std::string*>(source);
      const int32_t index = DecodeBlobSlot(slot + 1);
      // An edited row shares its items with the held row until it is posted:
      // a new value gets an item of its own, so that cancel and the old value
      // still see the stored one.
      const char* held =
          (state == dsEdit && buffers_ != nullptr) ? buffers_->Row(position_) : nullptr;
      const bool shared =
          held != nullptr &&
          DecodeBlobSlot(held + field_offsets_.Offset(field.FieldNo() - 1) + 1) == index;
      if (index != 0 && shared) EncodeBlobSlot(slot + 1, 0);
      StoreBlobValue(field, buffer, value);
    } else if (field.DataType() == ftString && (query_options_ & TrimAllStrings) != 0) {
      const auto* text = static_cast<const char*>(source);
      const std::string trimmed =
          TrimRight(std::string_view(text, strnlen(text, static_cast<size_t>(value_size))));
      std::memset(slot + 1, 0, static_cast<size_t>(value_size));
      std::memcpy(slot + 1, trimmed.data(), std::min<size_t>(trimmed.size(), value_size - 1));
      slot[0] = 1;
    } else {
      std::memcpy(slot + 1, source, static_cast<size_t>(std::min(value_size, field.DataSize())));
      slot[0] = 1;
    }
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
    DataEvent(deFieldChange, &field);
  }
}

std::string TcsDataset::ReadBlobValue(const TField& field, const char* record_buffer) const {
  if (record_buffer == nullptr || blob_list_ == nullptr || field.FieldNo() < 1 ||
      field.FieldNo() > field_offsets_.Count()) {
    return {};
  }
  const char* slot = record_buffer + field_offsets_.Offset(field.FieldNo() - 1);
  if (slot[0] == 0) return {};
  return blob_list_->Get(DecodeBlobSlot(slot + 1));
}

std::string_view TcsDataset::BlobView(const TField& field) const {
  const char* data = GetFieldDataPtr(field);
  if (data == nullptr || blob_list_ == nullptr || !field.IsBlob()) return {};
  return blob_list_->View(DecodeBlobSlot(data));
}

std::unique_ptr<TMemoryStream> TcsDataset::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  return std::make_unique<TBlobStream>(field, mode);
}

bool TcsDataset::SearchRecord(std::string_view key_fields, const std::vector<TVariant>& key_values,
                              TLocateOptions options, int& found) {
  found = 0;
  if (buffers_ == nullptr) return false;
  std::vector<TField*> fields;
  for (const std::string& name : SplitFieldNames(key_fields)) fields.push_back(&FieldByName(name));
  if (fields.empty()) return false;

  // Each key in the field's storage form.
  std::vector<std::string> keys;
  for (size_t k = 0; k < fields.size(); ++k) {
    const TField& field = *fields[k];
    const TVariant& value = k < key_values.size() ? key_values[k] : TVariant();
    if (value.IsNull()) return false;
    std::string key(static_cast<size_t>(field.DataSize()), '\0');
    if (EncodeScalarSlot(field.DataType(), value, key.data())) {
      keys.push_back(std::move(key));
      continue;
    }
    switch (field.DataType()) {
      case ftString:
      case ftMemo:
        key = value.AsString();
        break;
      case ftBlob:
      case ftGraphic:
      case ftFmtMemo:
      case ftParadoxOle:
      case ftDBaseOle:
      case ftTypedBinary:
        key = value.AsString();
        break;
      case ftCursor:
        key.clear();
        break;
      case ftUnknown:
        throw EDatabaseError(
            Format("Field '%s' is of undefined type.", field.DisplayName().c_str()));
      default:
        throw EDatabaseError(
            Format("Field '%s' has an unsupported type.", field.DisplayName().c_str()));
    }
    keys.push_back(std::move(key));
  }

  const bool case_insensitive = (options & loCaseInsensitive) != 0;
  const bool partial = (options & loPartialKey) != 0;
  auto matches = [&](const char* row) {
    for (size_t k = 0; k < fields.size(); ++k) {
      const TField& field = *fields[k];
      const std::string& key = keys[k];
      const char* value = row + field_offsets_.Offset(field.FieldNo() - 1) + 1;
      if (field.DataType() == ftString || field.IsBlob()) {
        // Long values are compared with their stored text, not their index.
        std::string stored;
        std::string_view text;
        if (field.IsBlob()) {
          if (value[-1] != 0) stored = blob_list_->Get(DecodeBlobSlot(value));
          text = stored;
        } else {
          text = std::string_view(value, strnlen(value, static_cast<size_t>(field.DataSize())));
        }
        if (field.DataType() == ftString || field.DataType() == ftMemo) {
          if (partial && text.size() > key.size()) text = text.substr(0, key.size());
          const bool equal = case_insensitive ? SameText(text, key) : text == key;
          if (!equal) return false;
        } else if (text != key) {
          return false;
        }
      } else if (std::memcmp(value, key.data(), key.size()) != 0) {
        return false;
      }
    }
    return true;
  };

  // The walk fetches as it goes; a fetched row is always the last held one
  // (in single-row mode the only one).
  int i = 0;
  for (;;) {
    ++i;
    if (i > buffers_->Count()) {
      if (end_of_result_ || !FetchOne()) return false;
      i = buffers_->Count();
    }
    if (matches(buffers_->Row(i))) {
      found = i;
      return true;
    }
  }
}

bool TcsDataset::SearchInFilterState(std::string_view key_fields,
                                     const std::vector<TVariant>& key_values,
                                     TLocateOptions options, int& found) {
  const TDataSetState saved_state = SetTempState(dsFilter);
  SetFilterBuffer(scratch_buffer_.data());
  bool ok = false;
  try {
    ok = SearchRecord(key_fields, key_values, options, found);
  } catch (...) {
    SetFilterBuffer(nullptr);
    RestoreState(saved_state);
    throw;
  }
  SetFilterBuffer(nullptr);
  RestoreState(saved_state);
  return ok;
}

bool TcsDataset::Locate(std::string_view key_fields, const std::vector<TVariant>& key_values,
                        TLocateOptions options) {
  if (key_values.size() == 1 && key_values[0].IsNull()) return false;
  CheckBrowseMode();
  CursorPosChanged();
  DoBeforeScroll();
  int found = 0;
  if (!SearchInFilterState(key_fields, key_values, options, found)) return false;
  position_ = found;
  Resync();
  DoAfterScroll();
  return true;
}

std::vector<TVariant> TcsDataset::Lookup(std::string_view key_fields,
                                         const std::vector<TVariant>& key_values,
                                         std::string_view result_fields) {
  if (!Active() || (key_values.size() == 1 && key_values[0].IsNull())) return {};
  CheckBrowseMode();
  CursorPosChanged();
  int found = 0;
  if (!SearchInFilterState(key_fields, key_values, 0, found)) return {};
  std::vector<char> row(static_cast<size_t>(record_size_));
  buffers_->Get(row.data(), found);
  GetCalcFields(row.data());
  std::vector<TVariant> result;
  const TDataSetState state = SetTempState(dsCalcFields);
  SetCalcBuffer(row.data());
  try {
    for (const std::string& name : SplitFieldNames(result_fields)) {
      result.push_back(FieldByName(name).Value());
    }
  } catch (...) {
    SetCalcBuffer(nullptr);
    RestoreState(state);
    throw;
  }
  SetCalcBuffer(nullptr);
  RestoreState(state);
  return result;
}

void TcsDataset::RefreshParams() {
  if (!Active()) return;
  TDataSource* source = DataSource();
  if (source == nullptr || source->DataSet() == nullptr) return;
  TDataSet& master = *source->DataSet();
  const TDataSetState state = master.State();
  if (!master.Active() || state == dsEdit || state == dsInsert || state == dsSetKey) return;
  Refresh();
  DoAfterOpen();
}

}  // namespace velquarn
