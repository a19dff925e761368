// TDataSet: the generic dataset of the framework. It keeps the state, one
// active record buffer (the row the fields show), the end and beginning
// flags, the field list and field definitions, and drives the moves and the
// edit cycle through the virtual operations that a concrete dataset
// (TcsDataset) implements.
//
// The window holds a single active buffer. The concrete dataset keeps its
// own cursor position; the framework remembers whether that cursor still
// stands on the active row and puts it back (UpdateCursorPos, through the
// row's bookmark) before any operation that depends on it.
//
// Record buffers are blocks of RecordSize() bytes; the framework knows of a
// buffer only its calculated-field area (CalcFieldsOffset(), of
// CalcFieldsSize() bytes: per calculated or lookup field one null byte and
// DataSize() value bytes at the field's Offset()) and what the bookmark
// operations tell it.
//
// Instances are used by one thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/exceptions.h"
#include "dataset/component.h"
#include "dataset/field.h"
#include "dataset/memory_stream.h"

namespace velquarn {

class TDataSource;

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsBlockRead,
  dsInternalCalc
};
enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TDataEvent : uint8_t {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode
};
enum TDataAction : uint8_t { daFail, daAbort, daRetry };
enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };
enum TLocateOption : uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = uint8_t;

// The bookmark bytes of a row; empty is the nil bookmark.
using TBookmark = std::vector<char>;

// The names of a field list such as "A; B;C": split at ';', each trimmed,
// empty ones left out.
std::vector<std::string> SplitFieldNames(std::string_view names);

class TDataSet;
using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;
using TDataSetErrorEvent = std::function<void(TDataSet&, EDatabaseError&, TDataAction&)>;

class TDataSet : public TComponent {
 public:
  TDataSet();
  ~TDataSet() override;

  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != dsInactive; }
  // Opening runs BeforeOpen, the concrete open, moves to the first row and
  // runs AfterOpen and AfterScroll. A failed open leaves the dataset closed.
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  // True when no row is shown.
  bool IsEmpty() const { return record_count_ == 0; }
  bool Modified() const { return modified_; }

  // Moves. Each leaves edit mode first (CheckBrowseMode) and fires
  // BeforeScroll and AfterScroll. MoveBy returns the rows actually moved.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int distance);
  int RecNo() { return GetRecNo(); }
  void SetRecNo(int value) { SetRecNoImpl(value); }
  int RecordCount() { return GetRecordCount(); }

  // The edit cycle. Edit on an empty dataset inserts. Post and Cancel return
  // to browse state and show the row at the cursor again. Raise
  // EDatabaseError "Cannot modify a read-only dataset" when !CanModify().
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void Refresh();
  // Inserts (or appends) a row with the values given in field order, through
  // the concrete dataset's add-record operation, and posts nothing else.
  void InsertRecord(const std::vector<TVariant>& values);
  void AppendRecord(const std::vector<TVariant>& values);
  // Posts or cancels a pending edit; raises when the dataset is closed.
  void CheckBrowseMode();
  bool CanModify() const { return GetCanModify(); }

  TBookmark GetBookmark();
  // Raises "Bookmark not found." (from the concrete dataset) when absent.
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark) = 0;
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b) = 0;

  // Search. key_fields are field names separated by ";", with one key value
  // per name. Lookup returns the values of result_fields (";" separated) of
  // the first matching row, or an empty vector when none matches.
  virtual bool Locate(std::string_view key_fields, const std::vector<TVariant>& key_values,
                      TLocateOptions options) = 0;
  bool Locate(std::string_view key_fields, const TVariant& key_value, TLocateOptions options) {
    return Locate(key_fields, std::vector<TVariant>{key_value}, options);
  }
  virtual std::vector<TVariant> Lookup(std::string_view key_fields,
                                       const std::vector<TVariant>& key_values,
                                       std::string_view result_fields) = 0;

  // Fields, in field order.
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const { return *fields_.at(index); }
  TField* FindField(std::string_view name) const;  // case-insensitive
  // Raises EDatabaseError "Field '%s' not found".
  TField& FieldByName(std::string_view name) const;
  // The field with that field number, or null (one lookup while open).
  TField* FieldByNumber(int field_no) const;
  // Adds a persistent field (a data field bound by name to a column at open,
  // or a calculated or lookup field) to a closed dataset; returns it.
  TField& AddField(std::unique_ptr<TField> field, std::string name, TFieldKind kind = fkData);
  // True while the fields were made from the definitions at open.
  bool DefaultFields() const { return default_fields_; }
  const TFieldDefs& FieldDefs() const { return field_defs_; }

  // The value bytes of the field in the record that the state selects, or
  // null when the value is null or there is no such record.
  virtual const char* GetFieldDataPtr(const TField& field) const = 0;
  // Copies the field's DataSize() value bytes into dest (when not null);
  // returns false for a null value.
  bool GetFieldData(const TField& field, void* dest) const;
  // Writes the field's value (null for source == nullptr); see TcsDataset.
  virtual void SetFieldData(TField& field, const void* source) = 0;
  // A stream over a blob field's value in the current record; freeing it
  // stores what was written (TBlobStream).
  virtual std::unique_ptr<TMemoryStream> CreateBlobStream(TField& field, TBlobStreamMode mode) = 0;

  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value);
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool value) { auto_calc_fields_ = value; }

  // The master data source of a detail dataset, or null.
  virtual TDataSource* DataSource() const { return nullptr; }
  // True when the data source's dataset is this one or, following the data
  // sources of masters, leads back to it.
  bool IsLinkedTo(const TDataSource* source) const;

  // Sends an event to the attached data sources (and their links).
  void DataEvent(TDataEvent event, TField* field = nullptr);
  // Marks that the concrete cursor no longer stands on the active row.
  void CursorPosChanged() { cursor_valid_ = false; }
  // Puts the concrete cursor back on the active row.
  void UpdateCursorPos();
  // Shows the row at the cursor again (or the next, or the prior one).
  void Resync();

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TFilterRecordEvent OnFilterRecord;
  TDataSetErrorEvent OnPostError;

 protected:
  // The concrete dataset.
  virtual void InternalOpen() = 0;   // open the cursor, make and bind fields
  virtual void InternalClose() = 0;  // close the cursor
  virtual bool IsCursorOpen() const = 0;
  virtual int RecordSize() const = 0;
  // Fills buffer with the row that mode selects; only grOK writes it.
  virtual TGetResult GetRecord(char* buffer, TGetMode mode, bool do_check) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInitRecord(char* buffer) = 0;
  virtual void InternalAddRecord(char* buffer, bool append) = 0;
  virtual void InternalPost() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalRefresh() = 0;
  virtual void InternalEdit() {}
  virtual void InternalCancel() {}
  virtual void InternalSetToRecord(char* buffer) = 0;
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(const char* buffer) const = 0;
  virtual void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) = 0;
  virtual TBookmark GetBookmarkData(const char* buffer) const = 0;
  virtual void SetBookmarkData(char* buffer, const TBookmark& bookmark) = 0;
  virtual int GetRecordCount() = 0;
  virtual int GetRecNo() = 0;
  virtual void SetRecNoImpl(int value) = 0;
  virtual bool GetCanModify() const = 0;
  virtual void ClearCalcFields(char* buffer) = 0;
  // The offset of the calculated-field area in a record buffer.
  virtual int CalcFieldsOffset() const = 0;

  void SetState(TDataSetState state);
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state) { state_ = state; }
  void SetModified(bool value) { modified_ = value; }
  void CheckActive() const;    // "Cannot perform this operation on a closed dataset"
  void CheckInactive() const;  // "Cannot perform this operation on an open dataset"

  char* ActiveBuffer() { return active_buffer_.empty() ? nullptr : active_buffer_.data(); }
  const char* ActiveBuffer() const {
    return active_buffer_.empty() ? nullptr : active_buffer_.data();
  }
  // The buffer being calculated (dsCalcFields) and the candidate row being
  // filtered or the search buffer of a locate (dsFilter).
  char* CalcBuffer() const { return calc_buffer_; }
  char* FilterBuffer() const { return filter_buffer_; }
  void SetFilterBuffer(char* buffer) { filter_buffer_ = buffer; }
  void SetCalcBuffer(char* buffer) { calc_buffer_ = buffer; }

  // Field definitions and fields, for the concrete open and close.
  TFieldDefs& MutableFieldDefs() { return field_defs_; }
  // Makes a field for every definition that can have one (not ftUnknown,
  // ftADT, ftArray, ftReference, ftDataSet, nor hidden); DefaultFields()
  // becomes true.
  void CreateFields();
  // Binding gives data fields their field numbers (persistent fields find
  // their definition by name: "Field '%s' not found" otherwise) and lays out
  // the calculated-field area. Unbinding clears the field numbers.
  void BindFields(bool binding);
  // Frees the fields made by CreateFields.
  void DestroyFields();
  int CalcFieldsSize() const { return calc_fields_size_; }
  bool HasCalcFields() const { return calc_fields_size_ > 0; }
  // Clears and computes the calculated and lookup fields of buffer.
  void GetCalcFields(char* buffer);
  // Runs OnFilterRecord on buffer in the filter state when Filtered is set.
  bool FilterRecord(char* buffer);
  void DoBeforeScroll();
  void DoAfterScroll();
  void DoAfterOpen();

  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TDataSource;
  friend class TField;

  void CalculateFields(char* buffer);
  void BeginInsertAppend(bool append);
  // Puts the cursor at the start (or, for `last`, the end) and reads the
  // row next to it into the window; the flags and count say whether one was.
  void ReadEndRow(bool last);
  void AddRecordValues(const std::vector<TVariant>& values, bool append);
  static void Fire(const TDataSetNotifyEvent& event, TDataSet& dataset) {
    if (event) event(dataset);
  }

  TDataSetState state_ = dsInactive;
  bool eof_ = true;
  bool bof_ = true;
  bool modified_ = false;
  bool filtered_ = false;
  bool auto_calc_fields_ = true;
  bool default_fields_ = false;
  bool cursor_valid_ = false;
  int record_count_ = 0;  // rows in the window: 0 or 1
  int calc_fields_size_ = 0;
  std::vector<char> active_buffer_;
  char* calc_buffer_ = nullptr;
  char* filter_buffer_ = nullptr;
  TFieldDefs field_defs_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<TField*> fields_by_number_;   // index field number; filled by BindFields
  std::vector<TDataSource*> data_sources_;  // borrowed; each unlinks itself
};

}  // namespace velquarn
