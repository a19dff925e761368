// TGlobalDatabaseList: the process-wide map of database names to database
// components. Names compare without letter case; the list is unsorted and
// does not own the databases. A query dataset finds its database here by
// DataBaseName.
//
// Thread-safety: every operation holds one re-entrant mutex (AddDatabase
// renames the database, which re-enters the list), and every operation
// swallows any exception it meets.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velquarn {

class TcsCustomDatabase;

class TGlobalDatabaseList {
 public:
  TGlobalDatabaseList() = default;
  TGlobalDatabaseList(const TGlobalDatabaseList&) = delete;
  TGlobalDatabaseList& operator=(const TGlobalDatabaseList&) = delete;

  // Adds db under its DataBaseName. A name already listed gets the decimal
  // value of the list's count plus one appended ("Main" added to a list of
  // one entry that holds "Main" becomes "Main2"); should that name be taken
  // too, the number counts on until the name is free. db's DataBaseName is
  // set to the final name.
  void AddDatabase(TcsCustomDatabase* db);
  // Case-insensitive lookup; null when absent.
  TcsCustomDatabase* FindDatabase(const std::string& name) const;
  void RemoveDatabase(TcsCustomDatabase* db);
  // False (nothing changes) when any database, db included, already has the
  // name; otherwise renames db's entry, if it is listed, and returns true.
  bool RenameDatabase(TcsCustomDatabase* db, const std::string& name);
  int Count() const;

 private:
  int IndexOfName(const std::string& name) const;

  mutable std::recursive_mutex mutex_;
  std::vector<std::pair<std::string, TcsCustomDatabase*>> entries_;  // Guarded by mutex_
};

// The process-wide list, created on first use.
TGlobalDatabaseList& GlobalDatabaseList();
// Removes db from the process-wide list if the list exists; never creates it.
void RemoveFromGlobalDatabaseList(TcsCustomDatabase* db) noexcept;
// Frees the process-wide list (service stop). Databases destroyed afterwards
// find no list to leave; a later GlobalDatabaseList() creates a new one.
void FreeGlobalDatabaseList();

}  // namespace velquarn
