// TFileDescriptor: an owned file descriptor, closed in the destructor.
// Used by one thread at a time.
#pragma once

#include <unistd.h>

namespace velquarn {

class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd) : fd_(fd) {}  // takes ownership; -1: none
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  ~TFileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }
  // Closes now, reporting the result (a deferred write error shows here).
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

}  // namespace velquarn
