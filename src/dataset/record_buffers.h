// The row storage of a query dataset.
//
// A record buffer is one block of the record size: the data area (one slot
// per field number in order: a null byte, 0 null and 1 present, then the
// value bytes of FieldValueSize), the calculated-field area, and the info
// area (a 32-bit bookmark and a one-byte bookmark flag).
//
// TcsFieldOffsets holds each field number's slot offset; TcsBuffers the
// fixed-size copies of the rows that the dataset holds, 1-based.
// Instances belong to one dataset and are used by its thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace velquarn {

// Size of the info area: the bookmark and its flag.
constexpr int kRecordInfoSize = 5;
// The bookmark size that the framework sees.
constexpr int kBookmarkSize = 4;

class TcsFieldOffsets {
 public:
  int Count() const { return static_cast<int>(offsets_.size()); }
  // Entry index (field number - 1).
  int32_t Offset(int index) const { return offsets_[index]; }
  // The slot's value bytes (its length without the null byte).
  int32_t ValueSize(int index) const { return value_sizes_[index]; }
  void Add(int32_t offset, int32_t value_size) {
    offsets_.push_back(offset);
    value_sizes_.push_back(value_size);
  }
  void Clear() {
    offsets_.clear();
    value_sizes_.clear();
  }

 private:
  std::vector<int32_t> offsets_;
  std::vector<int32_t> value_sizes_;
};

class TcsBuffers {
 public:
  TcsBuffers(int record_size, bool single_row)
      : record_size_(record_size), single_row_(single_row) {}
  TcsBuffers(const TcsBuffers&) = delete;
  TcsBuffers& operator=(const TcsBuffers&) = delete;

  int RecordSize() const { return record_size_; }
  void SetRecordSize(int record_size);  // only while empty
  bool SingleRow() const { return single_row_; }
  int Count() const { return static_cast<int>(rows_.size()); }

  // Appends a copy and returns the new count. In single-row mode with a row
  // held, overwrites that row and returns 1.
  int Add(const char* buffer);
  // Inserts a copy before position (1..Count()+1).
  void Insert(int position, const char* buffer);
  // Frees the row; false when position is outside 1..Count().
  bool Delete(int position);
  // Copies buffer over the held row at position (ignored outside 1..Count()).
  void Put(const char* buffer, int position);
  // Copies the held row into buffer; zeros for a position outside 1..Count().
  void Get(char* buffer, int position) const;
  // The held row, or null outside 1..Count().
  const char* Row(int position) const;
  char* Row(int position);
  void Clear();

 private:
  // Room for one more row: the next place in the last chunk, or a new chunk.
  char* NextPlace();

  int record_size_;
  bool single_row_;
  // Each held row's bytes, in order. Rows added at the end are copied into
  // chunks of many rows, so that a large result costs one allocation per
  // chunk instead of one per row, and a chunk goes back whole when the
  // result closes; a deleted row's bytes stay in their chunk until Clear
  // (they were fetched, so the result's size bounds them). A row inserted
  // between others has an allocation of its own, freed when it is deleted.
  std::vector<char*> rows_;
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::vector<std::unique_ptr<char[]>> inserted_;
  size_t rows_left_in_chunk_ = 0;
  char* next_in_chunk_ = nullptr;
};

}  // namespace velquarn
