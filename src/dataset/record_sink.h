// TRecordSink: what a driver's fetch sees of the dataset it fetches for: the
// connection that holds the result, the data field bound to each result
// column, and the stores that write one record buffer in the formats of
// slot_format.h. TcsDataset implements it; a driver needs nothing else of
// the dataset to fetch a row. Used by the thread that uses the dataset.
#pragma once

#include <string_view>

namespace velquarn {

class TConnectionHandle;
class TField;

class TRecordSink {
 public:
  // The driver's connection that holds the open result, or null.
  virtual TConnectionHandle* Connection() const = 0;
  // Result columns are numbered 1 to ColumnCount(); ColumnField is the data
  // field bound to a column, or null for a number without one.
  virtual int ColumnCount() const = 0;
  virtual const TField* ColumnField(int field_no) const = 0;

  // Copies length bytes (at most the slot's value size) and marks the slot
  // present; a field number without a slot does nothing.
  virtual void StoreFieldValue(int field_no, const void* value, char* record_buffer,
                               int length) = 0;
  virtual void StoreFieldNull(int field_no, char* record_buffer) = 0;
  // Stores a long value of a blob field in the blob store.
  virtual void StoreBlobValue(int field_no, char* record_buffer, std::string_view value) = 0;

 protected:
  ~TRecordSink() = default;
};

}  // namespace velquarn
