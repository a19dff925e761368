// TcsBlobList: the store of a dataset's long values (blob and memo fields).
// A record slot of such a field holds only a 1-based index into the store.
// An index, once handed out, stays valid until the store is destroyed:
// deleting an item leaves an empty place.
//
// Memory mode keeps the values in memory (datasets always use it). File mode
// appends them to a temporary file "SQB..." created with mkstemp in $TMPDIR
// (default /tmp), closed and deleted when the store is destroyed.
// Instances belong to one dataset and are used by its thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velquarn {

struct TcsBlobItem {
  int32_t length = 0;
  int64_t offset = 0;  // file mode: where the bytes lie in the file
  std::string bytes;   // memory mode: the owned copy
};

class TcsBlobList {
 public:
  enum Mode { kMemory, kFile };

  // File mode raises Exception with the system error when the temporary
  // file cannot be made.
  explicit TcsBlobList(Mode mode = kMemory);
  TcsBlobList(const TcsBlobList&) = delete;
  TcsBlobList& operator=(const TcsBlobList&) = delete;
  ~TcsBlobList();

  Mode StoreMode() const { return mode_; }
  int Count() const { return static_cast<int>(items_.size()); }
  // The temporary file's path (file mode), else "".
  const std::string& FileName() const { return file_name_; }

  // Stores a copy and returns its index.
  int Add(std::string_view bytes);
  // The stored bytes; "" for an index that is empty or out of range.
  std::string Get(int index) const;
  // Memory mode: a view of the stored bytes, valid until the item changes.
  // File mode and bad indexes give an empty view.
  std::string_view View(int index) const;
  // Replaces the value of an item. In file mode the new bytes are appended
  // to the file and the item points at them. Out of range does nothing.
  void Replace(int index, std::string_view bytes);
  // Frees the item's bytes and leaves its place empty.
  void Delete(int index);

 private:
  void WriteAt(int64_t offset, std::string_view bytes);
  // Puts the bytes in the item: held in memory, or appended to the file.
  void Store(TcsBlobItem& item, std::string_view bytes);

  Mode mode_;
  int fd_ = -1;
  int64_t file_size_ = 0;
  std::string file_name_;
  std::vector<TcsBlobItem> items_;
};

}  // namespace velquarn
