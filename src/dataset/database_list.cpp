#include "dataset/database_list.h"

#include <memory>

#include "common/text.h"
#include "dataset/database.h"

namespace velquarn {

namespace {

std::mutex g_list_mutex;
std::unique_ptr<TGlobalDatabaseList> g_list;  // Guarded by g_list_mutex

}  // namespace

int TGlobalDatabaseList::IndexOfName(const std::string& name) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (SameText(entries_[i].first, name)) return static_cast<int>(i);
  }
  return -1;
}

void TGlobalDatabaseList::AddDatabase(TcsCustomDatabase* db) {
  if (db == nullptr) return;
  try {
    std::scoped_lock lock(mutex_);
    std::string name = db->DataBaseName();
    if (IndexOfName(name) >= 0) {
      // The count-plus-one suffix can collide with a name already listed
      // ("X3" beside "X"); counting on keeps every name in the list unique.
      size_t number = entries_.size() + 1;
      while (IndexOfName(name + std::to_string(number)) >= 0) ++number;
      name += std::to_string(number);
    }
    entries_.emplace_back(name, db);
    // Written directly: the property setter would find db under the new name
    // and keep the old one.
    db->database_name_ = name;
  } catch (...) {
  }
}

TcsCustomDatabase* TGlobalDatabaseList::FindDatabase(const std::string& name) const {
  try {
    std::scoped_lock lock(mutex_);
    int index = IndexOfName(name);
    return index >= 0 ? entries_[index].second : nullptr;
  } catch (...) {
    return nullptr;
  }
}

void TGlobalDatabaseList::RemoveDatabase(TcsCustomDatabase* db) {
  try {
    std::scoped_lock lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->second == db) {
        entries_.erase(it);
        return;
      }
    }
  } catch (...) {
  }
}

bool TGlobalDatabaseList::RenameDatabase(TcsCustomDatabase* db, const std::string& name) {
  try {
    std::scoped_lock lock(mutex_);
    if (FindDatabase(name) != nullptr) return false;
    for (auto& entry : entries_) {
      if (entry.second == db) {
        entry.first = name;
        break;
      }
    }
    return true;
  } catch (...) {
    return false;
  }
}

int TGlobalDatabaseList::Count() const {
  std::scoped_lock lock(mutex_);
  return static_cast<int>(entries_.size());
}

TGlobalDatabaseList& GlobalDatabaseList() {
  std::scoped_lock lock(g_list_mutex);
  if (g_list == nullptr) g_list = std::make_unique<TGlobalDatabaseList>();
  return *g_list;
}

void RemoveFromGlobalDatabaseList(TcsCustomDatabase* db) noexcept {
  std::scoped_lock lock(g_list_mutex);
  if (g_list != nullptr) g_list->RemoveDatabase(db);
}

void FreeGlobalDatabaseList() {
  std::unique_ptr<TGlobalDatabaseList> list;
  {
    std::scoped_lock lock(g_list_mutex);
    list = std::move(g_list);
  }
}

}  // namespace velquarn
