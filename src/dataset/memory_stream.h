// TMemoryStream: a byte stream held in memory, with a position. The base of
// the blob streams that datasets hand out for blob fields.
// Instances are used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>

namespace velquarn {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TMemoryStream {
 public:
  TMemoryStream() = default;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;
  virtual ~TMemoryStream() = default;

  // Copies up to count bytes from the position on; returns how many.
  int64_t Read(void* buffer, int64_t count);
  // Writes at the position, growing the stream as needed.
  int64_t Write(const void* buffer, int64_t count);
  // Returns the new position, kept within 0..Size.
  int64_t Seek(int64_t offset, TSeekOrigin origin);
  int64_t Position() const { return position_; }
  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size);
  void Clear();
  // All bytes, whatever the position.
  const std::string& Bytes() const { return data_; }

 private:
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace velquarn
