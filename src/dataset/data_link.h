// Data sources and data links: how one dataset follows another. A
// TDataSource points at a dataset and passes the dataset's events on to the
// data links attached to it; a TDataLink reacts to them through its virtual
// hooks. TDetailDataLink is the link that a detail dataset holds to its
// master's data source.
//
// A data source borrows its dataset and clears the reference when the
// dataset goes away (removal notice); a link borrows its data source, which
// detaches its links when it goes away.
// Instances are used by the thread that uses the datasets.
#pragma once

#include <vector>

#include "dataset/component.h"
#include "dataset/dataset.h"

namespace velquarn {

class TDataLink;

class TDataSource : public TComponent {
 public:
  TDataSource() = default;
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // The dataset's state, dsInactive without an (enabled) dataset.
  TDataSetState State() const;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, TField* field);
  void UpdateLinks();

  TDataSet* dataset_ = nullptr;    // borrowed
  std::vector<TDataLink*> links_;  // borrowed; each detaches itself
  bool enabled_ = true;
};

class TDataLink {
 public:
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  virtual ~TDataLink();

  TDataSource* DataSource() const { return data_source_; }
  void SetDataSource(TDataSource* source);
  // The data source's dataset, or null.
  TDataSet* DataSet() const;
  // True while the data source's dataset is open.
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }

 protected:
  virtual void ActiveChanged() {}
  virtual void EditingChanged() {}
  // A field changed (field) or the whole row did (null).
  virtual void RecordChanged(TField*) {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled() { DataSetChanged(); }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void CheckBrowseMode() {}
  virtual void UpdateData() {}

 private:
  friend class TDataSource;

  void DataEvent(TDataEvent event, TField* field);
  void UpdateState();

  TDataSource* data_source_ = nullptr;  // borrowed
  bool active_ = false;
  bool editing_ = false;
};

class TDetailDataLink : public TDataLink {
 public:
  virtual TDataSet* DetailDataSet() const = 0;
};

}  // namespace velquarn
