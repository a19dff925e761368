// TTextStream: the growable in-memory byte stream in which reply payloads are
// built, and the counted block that carries a payload on the wire (a 4-byte
// unsigned big-endian byte count, then the bytes).
//
// The stream only ever appends; Clear() rewinds it to empty but keeps its
// capacity, so a stream reused for many payloads stops allocating once it has
// grown to the largest one. Four bytes are kept free in front of the payload
// for the count, so a finished payload goes out as a counted block in one
// write without being copied. Instances are not thread-safe; each belongs to
// one connection thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velquarn {

class TTextStream {
 public:
  TTextStream() : buffer_(kHeaderSize, '\0') {}
  TTextStream(const TTextStream&) = delete;
  TTextStream& operator=(const TTextStream&) = delete;

  // Appends the bytes of an 8-bit string, with no terminator or length.
  void AppendText(std::string_view text) { buffer_.append(text.data(), text.size()); }
  void AppendChar(char c) { buffer_.push_back(c); }
  void Write(const void* data, size_t count) {
    buffer_.append(static_cast<const char*>(data), count);
  }

  // The write position: the number of bytes written since the last Clear().
  size_t Position() const { return buffer_.size() - kHeaderSize; }
  // The bytes from offset 0 up to the write position. Valid until the next write.
  std::string_view Bytes() const { return std::string_view(buffer_).substr(kHeaderSize); }
  // The payload as a counted block: its 4-byte big-endian size, then the
  // bytes. Raises Exception when the payload does not fit a 32-bit count.
  // Valid until the next write.
  std::string_view CountedBlock();
  // Drops the bytes written after size (no effect when size >= Position()).
  void Truncate(size_t size) {
    if (size < Position()) buffer_.resize(size + kHeaderSize);
  }
  void Clear() { buffer_.resize(kHeaderSize); }
  void Reserve(size_t capacity) { buffer_.reserve(capacity + kHeaderSize); }
  size_t Capacity() const { return buffer_.capacity() - kHeaderSize; }
  void ShrinkToFit() { buffer_.shrink_to_fit(); }

 private:
  static constexpr size_t kHeaderSize = 4;
  std::string buffer_;
};

// The 4-byte header of a counted block of size payload bytes. Raises Exception
// when the payload does not fit a 32-bit count.
std::array<char, 4> CountedBlockHeader(size_t size);

}  // namespace velquarn
