#include "dataset/data_link.h"

#include <algorithm>

namespace velquarn {

TDataSource::~TDataSource() {
  SendRemovalNotices();
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset_ == dataset) return;
  if (dataset_ != nullptr) {
    std::erase(dataset_->data_sources_, this);
    RemoveFreeNotification(dataset_);
  }
  dataset_ = dataset;
  if (dataset_ != nullptr) {
    dataset_->data_sources_.push_back(this);
    FreeNotification(dataset_);
  }
  UpdateLinks();
}

void TDataSource::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  UpdateLinks();
}

TDataSetState TDataSource::State() const {
  return (dataset_ != nullptr && enabled_) ? dataset_->State() : dsInactive;
}

void TDataSource::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == dataset_) SetDataSet(nullptr);
}

void TDataSource::DataEvent(TDataEvent event, TField* field) {
  if (event == deUpdateState) {
    UpdateLinks();
    return;
  }
  if (!enabled_) return;
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->DataEvent(event, field);
}

void TDataSource::UpdateLinks() {
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->UpdateState();
}

TDataLink::~TDataLink() {
  if (data_source_ != nullptr) std::erase(data_source_->links_, this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (data_source_ == source) return;
  if (data_source_ != nullptr) std::erase(data_source_->links_, this);
  data_source_ = source;
  if (data_source_ != nullptr) data_source_->links_.push_back(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const {
  return data_source_ == nullptr ? nullptr : data_source_->DataSet();
}

void TDataLink::UpdateState() {
  const TDataSetState state = data_source_ == nullptr ? dsInactive : data_source_->State();
  const bool active = state != dsInactive;
  if (active != active_) {
    active_ = active;
    ActiveChanged();
  }
  const bool editing = state == dsEdit || state == dsInsert;
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::DataEvent(TDataEvent event, TField* field) {
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      RecordChanged(field);
      break;
    case deDataSetChange:
      DataSetChanged();
      break;
    case deDataSetScroll:
      DataSetScrolled();
      break;
    case deLayoutChange:
      LayoutChanged();
      break;
    case deUpdateRecord:
      UpdateData();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deUpdateState:
      break;
  }
}

}  // namespace velquarn
