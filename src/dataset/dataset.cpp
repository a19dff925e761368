#include "dataset/dataset.h"

#include <algorithm>
#include <cstring>

#include "common/text.h"
#include "dataset/data_link.h"

namespace velquarn {

std::vector<std::string> SplitFieldNames(std::string_view names) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string_view::npos) end = names.size();
    std::string name = Trim(names.substr(start, end - start));
    if (!name.empty()) result.push_back(std::move(name));
    start = end + 1;
  }
  return result;
}

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  // Data sources and lookup fields of other datasets refer to this one; they
  // are told while the dataset is still whole.
  SendRemovalNotices();
  for (TDataSource* source : std::vector<TDataSource*>(data_sources_)) source->SetDataSet(nullptr);
}

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    Fire(BeforeOpen, *this);
    try {
      InternalOpen();
      active_buffer_.assign(static_cast<size_t>(RecordSize()), '\0');
      SetState(dsBrowse);
      ReadEndRow(false);
    } catch (...) {
      state_ = dsInactive;
      try {
        InternalClose();
      } catch (...) {
        // The open's own error is the one to report.
      }
      active_buffer_.clear();
      record_count_ = 0;
      throw;
    }
    modified_ = false;
    DoAfterOpen();
    DoAfterScroll();
  } else {
    Fire(BeforeClose, *this);
    SetState(dsInactive);
    InternalClose();
    active_buffer_.clear();
    record_count_ = 0;
    cursor_valid_ = false;
    eof_ = bof_ = true;
    Fire(AfterClose, *this);
  }
}

void TDataSet::DoAfterOpen() {
  Fire(AfterOpen, *this);
  DataEvent(deDataSetChange);
}

void TDataSet::DoBeforeScroll() { Fire(BeforeScroll, *this); }

void TDataSet::DoAfterScroll() { Fire(AfterScroll, *this); }

void TDataSet::ReadEndRow(bool last) {
  if (last) {
    InternalLast();
  } else {
    InternalFirst();
  }
  const bool found = GetRecord(ActiveBuffer(), last ? gmPrior : gmNext, true) == grOK;
  record_count_ = found ? 1 : 0;
  cursor_valid_ = found;
  bof_ = !last || !found;
  eof_ = last || !found;
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ReadEndRow(false);
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ReadEndRow(true);
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    DoBeforeScroll();
    UpdateCursorPos();
    bof_ = eof_ = false;
    while (distance != 0) {
      const bool forward = distance > 0;
      TGetResult result;
      try {
        result = GetRecord(ActiveBuffer(), forward ? gmNext : gmPrior, true);
      } catch (...) {
        // A failed fetch may have moved the cursor; the next move puts it
        // back on the row the window shows.
        cursor_valid_ = false;
        throw;
      }
      if (result != grOK) {
        // The cursor went past the row that the window still shows.
        cursor_valid_ = false;
        (forward ? eof_ : bof_) = true;
        break;
      }
      cursor_valid_ = true;
      record_count_ = 1;
      distance += forward ? -1 : 1;
      moved += forward ? 1 : -1;
    }
    DataEvent(deDataSetScroll);
    DoAfterScroll();
  }
  return moved;
}

void TDataSet::UpdateCursorPos() {
  if (cursor_valid_ || record_count_ == 0 || active_buffer_.empty()) return;
  switch (GetBookmarkFlag(ActiveBuffer())) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(ActiveBuffer());
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  cursor_valid_ = true;
}

void TDataSet::Resync() {
  if (active_buffer_.empty()) return;
  char* buffer = ActiveBuffer();
  if (GetRecord(buffer, gmCurrent, false) != grOK && GetRecord(buffer, gmNext, false) != grOK &&
      GetRecord(buffer, gmPrior, false) != grOK) {
    record_count_ = 0;
    cursor_valid_ = false;
    eof_ = bof_ = true;
  } else {
    record_count_ = 1;
    cursor_valid_ = true;
    eof_ = bof_ = false;
  }
  DataEvent(deDataSetChange);
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      DataEvent(deUpdateRecord);
      if (modified_) {
        Post();
      } else {
        Cancel();
      }
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  CheckActive();
  if (IsEmpty()) {
    Insert();
    return;
  }
  CheckBrowseMode();
  if (!CanModify()) throw EDatabaseError("Cannot modify a read-only dataset");
  Fire(BeforeEdit, *this);
  UpdateCursorPos();
  InternalEdit();
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange);
  Fire(AfterEdit, *this);
}

void TDataSet::BeginInsertAppend(bool append) {
  CheckBrowseMode();
  if (!CanModify()) throw EDatabaseError("Cannot modify a read-only dataset");
  Fire(BeforeInsert, *this);
  DoBeforeScroll();
  if (append) {
    InternalLast();
  } else {
    UpdateCursorPos();
  }
  char* buffer = ActiveBuffer();
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, append ? bfEOF : bfInserted);
  // The cursor stays where the new row goes; the window shows the new row.
  cursor_valid_ = true;
  record_count_ = 1;
  eof_ = bof_ = false;
  modified_ = false;
  SetState(dsInsert);
  Fire(OnNewRecord, *this);
  DataEvent(deDataSetChange);
  Fire(AfterInsert, *this);
  DoAfterScroll();
}

void TDataSet::Insert() { BeginInsertAppend(false); }

void TDataSet::Append() { BeginInsertAppend(true); }

void TDataSet::Post() {
  DataEvent(deUpdateRecord);
  if (state_ != dsEdit && state_ != dsInsert) {
    if (state_ == dsSetKey) SetState(dsBrowse);
    return;
  }
  DataEvent(deCheckBrowseMode);
  Fire(BeforePost, *this);
  InternalPost();
  SetState(dsBrowse);
  Resync();
  Fire(AfterPost, *this);
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode);
  Fire(BeforeCancel, *this);
  InternalCancel();
  SetState(dsBrowse);
  Resync();
  Fire(AfterCancel, *this);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) {
    Cancel();
    return;
  }
  if (IsEmpty()) throw EDatabaseError("Cannot perform this operation on an empty dataset");
  DataEvent(deCheckBrowseMode);
  Fire(BeforeDelete, *this);
  DoBeforeScroll();
  UpdateCursorPos();
  InternalDelete();
  SetState(dsBrowse);
  Resync();
  Fire(AfterDelete, *this);
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  try {
    InternalRefresh();
  } catch (...) {
    Resync();
    throw;
  }
  Resync();
}

void TDataSet::AddRecordValues(const std::vector<TVariant>& values, bool append) {
  BeginInsertAppend(append);
  try {
    const size_t count = std::min(values.size(), fields_.size());
    for (size_t i = 0; i < count; ++i) {
      TField& field = *fields_[i];
      if (field.IsDataField() && !field.ReadOnly()) field.SetValue(values[i]);
    }
    DataEvent(deUpdateRecord);
    InternalAddRecord(ActiveBuffer(), append);
  } catch (...) {
    Cancel();
    throw;
  }
  SetState(dsBrowse);
  Resync();
}

void TDataSet::InsertRecord(const std::vector<TVariant>& values) { AddRecordValues(values, false); }

void TDataSet::AppendRecord(const std::vector<TVariant>& values) { AddRecordValues(values, true); }

TBookmark TDataSet::GetBookmark() {
  if (!Active() || IsEmpty() || state_ == dsInsert) return {};
  if (GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return {};
  return GetBookmarkData(ActiveBuffer());
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark);
  Resync();
  DoAfterScroll();
}

TField* TDataSet::FindField(std::string_view name) const {
  for (const auto& field : fields_) {
    if (SameText(field->FieldName(), name)) return field.get();
  }
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (field == nullptr) {
    throw EDatabaseError(
        Format("Field '%.*s' not found", static_cast<int>(name.size()), name.data()));
  }
  return *field;
}

TField* TDataSet::FieldByNumber(int field_no) const {
  if (field_no > 0 && static_cast<size_t>(field_no) < fields_by_number_.size()) {
    return fields_by_number_[static_cast<size_t>(field_no)];
  }
  if (!fields_by_number_.empty() || field_no <= 0) return nullptr;
  for (const auto& field : fields_) {
    if (field->FieldNo() == field_no) return field.get();
  }
  return nullptr;
}

TField& TDataSet::AddField(std::unique_ptr<TField> field, std::string name, TFieldKind kind) {
  CheckInactive();
  field->SetFieldName(std::move(name));
  if (field->FieldKind() != fkLookup) field->SetFieldKind(kind);
  field->dataset_ = this;
  if (field->lookup_dataset_ != nullptr) FreeNotification(field->lookup_dataset_);
  default_fields_ = false;
  fields_.push_back(std::move(field));
  return *fields_.back();
}

bool TDataSet::GetFieldData(const TField& field, void* dest) const {
  const char* data = GetFieldDataPtr(field);
  if (data == nullptr) return false;
  if (dest != nullptr) std::memcpy(dest, data, static_cast<size_t>(field.DataSize()));
  return true;
}

void TDataSet::SetFiltered(bool value) {
  if (filtered_ == value) return;
  filtered_ = value;
  if (Active()) First();
}

bool TDataSet::IsLinkedTo(const TDataSource* source) const {
  while (source != nullptr) {
    const TDataSet* dataset = source->DataSet();
    if (dataset == nullptr) return false;
    if (dataset == this) return true;
    source = dataset->DataSource();
  }
  return false;
}

void TDataSet::DataEvent(TDataEvent event, TField* field) {
  if (event == deFieldChange && field != nullptr) {
    if (field->IsDataField()) modified_ = true;
    if ((state_ == dsEdit || state_ == dsInsert) && auto_calc_fields_ && HasCalcFields() &&
        field->IsDataField()) {
      GetCalcFields(ActiveBuffer());
    }
    if (field->OnChange) field->OnChange(*field);
  }
  if (data_sources_.empty()) return;
  for (TDataSource* source : std::vector<TDataSource*>(data_sources_)) {
    source->DataEvent(event, field);
  }
}

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState saved = state_;
  state_ = state;
  return saved;
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const TFieldDef& def = field_defs_.Items(i);
    switch (def.data_type) {
      case ftUnknown:
      case ftADT:
      case ftArray:
      case ftReference:
      case ftDataSet:
        continue;
      default:
        break;
    }
    if ((def.attributes & faHiddenCol) != 0) continue;
    std::unique_ptr<TField> field = CreateFieldOfType(def.data_type, def.size);
    field->SetFieldName(def.name);
    field->SetSize(def.size);
    field->SetPrecision(def.precision);
    field->SetRequired(def.required);
    field->SetReadOnly((def.attributes & faReadonly) != 0);
    field->dataset_ = this;
    fields_.push_back(std::move(field));
  }
  default_fields_ = true;
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  fields_by_number_.clear();
  for (auto& field : fields_) {
    if (!binding) {
      if (field->IsDataField()) field->field_no_ = 0;
      continue;
    }
    if (field->IsDataField()) {
      const int index = field_defs_.IndexOf(field->FieldName());
      if (index < 0) {
        throw EDatabaseError(Format("Field '%s' not found", field->DisplayName().c_str()));
      }
      const TFieldDef& def = field_defs_.Items(index);
      field->field_no_ = def.field_no;
      if (!default_fields_) {
        field->SetSize(def.size);
        if ((def.attributes & faReadonly) != 0) field->SetReadOnly(true);
      }
    } else {
      field->field_no_ = 0;
      field->offset_ = calc_fields_size_;
      calc_fields_size_ += 1 + field->DataSize();
    }
  }
  if (!binding) return;
  int highest = 0;
  for (const auto& field : fields_) highest = std::max(highest, field->field_no_);
  fields_by_number_.assign(static_cast<size_t>(highest) + 1, nullptr);
  for (const auto& field : fields_) {
    if (field->field_no_ > 0 &&
        fields_by_number_[static_cast<size_t>(field->field_no_)] == nullptr) {
      fields_by_number_[static_cast<size_t>(field->field_no_)] = field.get();
    }
  }
}

void TDataSet::DestroyFields() {
  if (!default_fields_) return;
  fields_by_number_.clear();
  fields_.clear();
  default_fields_ = false;
}

void TDataSet::GetCalcFields(char* buffer) {
  if (buffer == nullptr || !HasCalcFields()) return;
  CalculateFields(buffer);
}

void TDataSet::CalculateFields(char* buffer) {
  char* saved_buffer = calc_buffer_;
  calc_buffer_ = buffer;
  const TDataSetState saved_state = SetTempState(dsCalcFields);
  try {
    ClearCalcFields(buffer);
    for (auto& field : fields_) {
      if (field->FieldKind() != fkLookup || field->lookup_dataset_ == nullptr ||
          !field->lookup_dataset_->Active()) {
        continue;
      }
      std::vector<TVariant> keys;
      bool any_null = false;
      for (const std::string& name : SplitFieldNames(field->KeyFields())) {
        keys.push_back(FieldByName(name).Value());
        any_null = any_null || keys.back().IsNull();
      }
      if (any_null || keys.empty()) continue;
      std::vector<TVariant> result = field->lookup_dataset_->Lookup(field->LookupKeyFields(), keys,
                                                                    field->LookupResultField());
      if (!result.empty()) field->SetValue(result.front());
    }
    Fire(OnCalcFields, *this);
  } catch (...) {
    RestoreState(saved_state);
    calc_buffer_ = saved_buffer;
    throw;
  }
  RestoreState(saved_state);
  calc_buffer_ = saved_buffer;
}

bool TDataSet::FilterRecord(char* buffer) {
  if (!filtered_ || !OnFilterRecord) return true;
  char* saved_buffer = filter_buffer_;
  filter_buffer_ = buffer;
  const TDataSetState saved_state = SetTempState(dsFilter);
  bool accept = true;
  try {
    OnFilterRecord(*this, accept);
  } catch (...) {
    RestoreState(saved_state);
    filter_buffer_ = saved_buffer;
    throw;
  }
  RestoreState(saved_state);
  filter_buffer_ = saved_buffer;
  return accept;
}

void TDataSet::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  for (auto& field : fields_) {
    if (field->lookup_dataset_ == component) field->lookup_dataset_ = nullptr;
  }
}

}  // namespace velquarn
