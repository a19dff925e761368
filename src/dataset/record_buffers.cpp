#include "dataset/record_buffers.h"

#include <cstring>

namespace velquarn {

void TcsBuffers::SetRecordSize(int record_size) {
  if (rows_.empty()) record_size_ = record_size;
}

int TcsBuffers::Add(const char* buffer) {
  if (single_row_ && !rows_.empty()) {
    std::memcpy(rows_.front().data(), buffer, static_cast<size_t>(record_size_));
    return 1;
  }
  rows_.emplace_back(buffer, buffer + record_size_);
  return Count();
}

void TcsBuffers::Insert(int position, const char* buffer) {
  if (position < 1) position = 1;
  if (position > Count() + 1) position = Count() + 1;
  rows_.emplace(rows_.begin() + (position - 1), buffer, buffer + record_size_);
}

bool TcsBuffers::Delete(int position) {
  if (position < 1 || position > Count()) return false;
  rows_.erase(rows_.begin() + (position - 1));
  return true;
}

void TcsBuffers::Put(const char* buffer, int position) {
  if (char* row = Row(position)) std::memcpy(row, buffer, static_cast<size_t>(record_size_));
}

void TcsBuffers::Get(char* buffer, int position) const {
  if (const char* row = Row(position)) {
    std::memcpy(buffer, row, static_cast<size_t>(record_size_));
  } else {
    std::memset(buffer, 0, static_cast<size_t>(record_size_));
  }
}

const char* TcsBuffers::Row(int position) const {
  if (position < 1 || position > Count()) return nullptr;
  return rows_[static_cast<size_t>(position - 1)].data();
}

char* TcsBuffers::Row(int position) {
  if (position < 1 || position > Count()) return nullptr;
  return rows_[static_cast<size_t>(position - 1)].data();
}

}  // namespace velquarn
