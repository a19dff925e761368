#include "dataset/record_buffers.h"

#include <algorithm>
#include <cstring>

namespace velquarn {

namespace {

// A chunk's size: large enough that a big result costs few allocations,
// and above the allocator's mmap threshold, so that a closed result's
// chunks go back to the system at once.
constexpr size_t kChunkBytes = 256 * 1024;

}  // namespace

void TcsBuffers::SetRecordSize(int record_size) {
  if (rows_.empty()) record_size_ = record_size;
}

char* TcsBuffers::NextPlace() {
  const auto size = static_cast<size_t>(record_size_);
  if (rows_left_in_chunk_ == 0) {
    const size_t rows = size == 0 ? 1 : std::max<size_t>(1, kChunkBytes / size);
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(std::max<size_t>(rows * size, 1)));
    next_in_chunk_ = chunks_.back().get();
    rows_left_in_chunk_ = rows;
  }
  char* place = next_in_chunk_;
  next_in_chunk_ += size;
  --rows_left_in_chunk_;
  return place;
}

int TcsBuffers::Add(const char* buffer) {
  if (single_row_ && !rows_.empty()) {
    std::memcpy(rows_.front(), buffer, static_cast<size_t>(record_size_));
    return 1;
  }
  char* row = NextPlace();
  std::memcpy(row, buffer, static_cast<size_t>(record_size_));
  rows_.push_back(row);
  return Count();
}

void TcsBuffers::Insert(int position, const char* buffer) {
  if (position < 1) position = 1;
  if (position > Count() + 1) position = Count() + 1;
  const auto size = static_cast<size_t>(record_size_);
  inserted_.push_back(std::make_unique_for_overwrite<char[]>(std::max<size_t>(size, 1)));
  std::memcpy(inserted_.back().get(), buffer, size);
  rows_.insert(rows_.begin() + (position - 1), inserted_.back().get());
}

bool TcsBuffers::Delete(int position) {
  if (position < 1 || position > Count()) return false;
  const auto row = rows_.begin() + (position - 1);
  const auto own =
      std::find_if(inserted_.begin(), inserted_.end(),
                   [&](const std::unique_ptr<char[]>& place) { return place.get() == *row; });
  rows_.erase(row);
  if (own != inserted_.end()) inserted_.erase(own);
  return true;
}

void TcsBuffers::Clear() {
  rows_.clear();
  chunks_.clear();
  inserted_.clear();
  rows_left_in_chunk_ = 0;
  next_in_chunk_ = nullptr;
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
  return rows_[static_cast<size_t>(position - 1)];
}

char* TcsBuffers::Row(int position) {
  if (position < 1 || position > Count()) return nullptr;
  return rows_[static_cast<size_t>(position - 1)];
}

}  // namespace velquarn
