#include "dataset/blob_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/exceptions.h"

namespace velquarn {

namespace {

[[noreturn]] void RaiseFileError(const char* action, const std::string& file_name) {
  throw Exception(std::string(action) + " " + file_name + ": " + std::strerror(errno));
}

}  // namespace

TcsBlobList::TcsBlobList(Mode mode) : mode_(mode) {
  if (mode_ != kFile) return;
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  if (path.back() != '/') path.push_back('/');
  path += "SQBXXXXXX";
  fd_ = mkostemp(path.data(), O_CLOEXEC);
  if (fd_ < 0) RaiseFileError("Cannot create file", path);
  file_name_ = path;
}

TcsBlobList::~TcsBlobList() {
  for (int index = Count(); index >= 1; --index) Delete(index);
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(file_name_.c_str());
  }
}

void TcsBlobList::WriteAt(int64_t offset, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFileError("Cannot write to file", file_name_);
    }
    done += static_cast<size_t>(n);
  }
}

void TcsBlobList::Store(TcsBlobItem& item, std::string_view bytes) {
  item.length = static_cast<int32_t>(bytes.size());
  if (mode_ == kMemory) {
    item.bytes.assign(bytes);
  } else {
    item.offset = file_size_;
    WriteAt(file_size_, bytes);
    file_size_ += static_cast<int64_t>(bytes.size());
  }
}

int TcsBlobList::Add(std::string_view bytes) {
  TcsBlobItem item;
  Store(item, bytes);
  items_.push_back(std::move(item));
  return Count();
}

std::string TcsBlobList::Get(int index) const {
  if (index < 1 || index > Count()) return {};
  const TcsBlobItem& item = items_[static_cast<size_t>(index - 1)];
  if (mode_ == kMemory) return item.bytes;
  std::string bytes(static_cast<size_t>(item.length), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done,
                              static_cast<off_t>(item.offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseFileError("Cannot read from file", file_name_);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

std::string_view TcsBlobList::View(int index) const {
  if (mode_ != kMemory || index < 1 || index > Count()) return {};
  return items_[static_cast<size_t>(index - 1)].bytes;
}

void TcsBlobList::Replace(int index, std::string_view bytes) {
  if (index < 1 || index > Count()) return;
  TcsBlobItem& item = items_[static_cast<size_t>(index - 1)];
  Store(item, bytes);
}

void TcsBlobList::Delete(int index) {
  if (index < 1 || index > Count()) return;
  TcsBlobItem& item = items_[static_cast<size_t>(index - 1)];
  item.length = 0;
  item.offset = 0;
  std::string().swap(item.bytes);
}

}  // namespace velquarn
