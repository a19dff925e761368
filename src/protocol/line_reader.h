// TLineReader: the command protocol's line framing on a byte buffer, with no
// socket behind it. A line is the bytes up to a LF; the LF and one CR
// directly before it are removed. Bytes that do not yet form a line stay
// buffered for the next call. One line may not exceed the maximum length
// (its bytes before the line end); the reader reports the overflow as soon
// as the buffered partial line is longer, so memory stays bounded.
// Instances are not thread-safe; each belongs to one connection thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velquarn {

class TLineReader {
 public:
  enum class TResult { kLine, kNeedMore, kTooLong };

  explicit TLineReader(size_t max_line_length);

  // Appends received bytes.
  void Append(std::string_view bytes);
  // Takes the next complete line into line (without its line end) and
  // returns kLine; kNeedMore when no complete line is buffered; kTooLong when
  // the next line is longer than the maximum (the buffer is left as it is).
  TResult TakeLine(std::string& line);
  // Takes exactly count raw bytes when that many are buffered.
  bool TakeBytes(size_t count, std::string& bytes);

  size_t Buffered() const { return buffer_.size() - start_; }
  size_t MaxLineLength() const { return max_line_length_; }

 private:
  void Compact();

  size_t max_line_length_;
  std::string buffer_;
  size_t start_ = 0;  // first unconsumed byte
  size_t scan_ = 0;   // bytes from start_ already known to hold no LF
};

}  // namespace velquarn
