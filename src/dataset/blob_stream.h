// TBlobStream: the stream a query dataset hands out for a blob or memo field
// of the current record (TDataSet::CreateBlobStream).
//   bmRead       holds a copy of the stored value;
//   bmWrite      starts empty; what is written is stored when the stream is
//                freed (an empty stream sets the field to null);
//   bmReadWrite  starts empty and stores nothing: what is written is
//                discarded.
// Opening for bmWrite or bmReadWrite raises EDatabaseError "Field '%s' is
// read-only" for a read-only field and "Dataset not in edit mode." outside
// the edit and insert states. Failures while storing on free go to the
// application exception handler and are not passed on.
// Instances are used by the dataset's thread and freed before the record
// moves.
#pragma once

#include <exception>
#include <functional>

#include "dataset/dataset.h"
#include "dataset/memory_stream.h"

namespace velquarn {

class TcsDataset;

// Receives exceptions that cannot be passed on (a blob stream's free). The
// default writes the message to standard error.
using TApplicationExceptionHandler = std::function<void(const std::exception&)>;
void SetApplicationExceptionHandler(TApplicationExceptionHandler handler);
void HandleApplicationException(const std::exception& error) noexcept;

class TBlobStream : public TMemoryStream {
 public:
  // Raises EDatabaseError "Invalid typecast" unless field is a TBlobField of
  // a TcsDataset.
  TBlobStream(TField& field, TBlobStreamMode mode);
  ~TBlobStream() override;

  bool Opened() const { return opened_; }
  bool StreamModified() const { return modified_; }

 private:
  TField& field_;
  TcsDataset* dataset_;
  TBlobStreamMode mode_;
  char* record_ = nullptr;
  bool opened_ = false;
  bool modified_ = false;
};

}  // namespace velquarn
