#include "dataset/blob_stream.h"

#include <cstdio>
#include <mutex>

#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/cs_dataset.h"

namespace velquarn {

namespace {

std::mutex handler_mutex;
TApplicationExceptionHandler& Handler() {
  static TApplicationExceptionHandler handler;  // Guarded by handler_mutex
  return handler;
}

}  // namespace

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler) {
  std::scoped_lock lock(handler_mutex);
  Handler() = std::move(handler);
}

void HandleApplicationException(const std::exception& error) noexcept {
  try {
    TApplicationExceptionHandler handler;
    {
      std::scoped_lock lock(handler_mutex);
      handler = Handler();
    }
    if (handler) {
      handler(error);
    } else {
      std::fprintf(stderr, "%s\n", error.what());
    }
  } catch (...) {
    // Nothing more can be done with a failure of the handler itself.
  }
}

TBlobStream::TBlobStream(TField& field, TBlobStreamMode mode)
    : field_(field),
      dataset_(dynamic_cast<TcsDataset*>(field.DataSet())),
      mode_(mode) {
  if (dataset_ == nullptr || dynamic_cast<TBlobField*>(&field) == nullptr) {
    throw EDatabaseError("Invalid typecast");
  }
  record_ = dataset_->GetActiveRecBuf();
  if (record_ == nullptr) return;
  opened_ = true;
  if (mode_ == bmWrite || mode_ == bmReadWrite) {
    if (field_.ReadOnly()) {
      throw EDatabaseError(Format("Field '%s' is read-only", field_.DisplayName().c_str()));
    }
    if (dataset_->State() != dsEdit && dataset_->State() != dsInsert) {
      throw EDatabaseError("Dataset not in edit mode.");
    }
    // Read-write mode neither loads the value nor marks the stream modified,
    // so what is written there is never stored.
    if (mode_ == bmWrite) {
      Clear();
      modified_ = true;
    }
  } else {
    const std::string value = dataset_->ReadBlobValue(field_, record_);
    Write(value.data(), static_cast<int64_t>(value.size()));
  }
  Seek(0, soBeginning);
}

TBlobStream::~TBlobStream() {
  if (!modified_) return;
  try {
    Seek(0, soBeginning);
    if (Size() > 0) {
      const std::string bytes = Bytes();
      field_.SetData(&bytes);
      field_.SetModified(true);
    } else {
      field_.SetData(nullptr);
    }
  } catch (const std::exception& error) {
    HandleApplicationException(error);
  } catch (...) {
    HandleApplicationException(Exception("Unknown error while storing a blob value"));
  }
}

}  // namespace velquarn
