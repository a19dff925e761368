#include "protocol/line_reader.h"

namespace velquarn {

TLineReader::TLineReader(size_t max_line_length) : max_line_length_(max_line_length) {}

void TLineReader::Append(std::string_view bytes) {
  Compact();
  buffer_.append(bytes);
}

TLineReader::TResult TLineReader::TakeLine(std::string& line) {
  // scan_ remembers how far earlier calls looked, so a line arriving in many
  // small pieces is searched once in total, not once per piece.
  size_t from = start_ + scan_;
  size_t lf = buffer_.find('\n', from);
  if (lf == std::string::npos) {
    scan_ = buffer_.size() - start_;
    // A partial line may end with the CR of its CR LF, which does not count.
    size_t length = scan_;
    if (length > 0 && buffer_.back() == '\r') --length;
    return length > max_line_length_ ? TResult::kTooLong : TResult::kNeedMore;
  }
  size_t end = lf;
  if (end > start_ && buffer_[end - 1] == '\r') --end;
  if (end - start_ > max_line_length_) return TResult::kTooLong;
  line.assign(buffer_, start_, end - start_);
  start_ = lf + 1;
  scan_ = 0;
  return TResult::kLine;
}

bool TLineReader::TakeBytes(size_t count, std::string& bytes) {
  if (Buffered() < count) return false;
  bytes.assign(buffer_, start_, count);
  start_ += count;
  scan_ = scan_ > count ? scan_ - count : 0;
  return true;
}

void TLineReader::Compact() {
  // Drop consumed bytes only once they are at least half of the buffer, so
  // each byte is moved a bounded number of times.
  if (start_ > 0 && start_ * 2 >= buffer_.size()) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
}

}  // namespace velquarn
