// The INI reader and writer. Section and key names compare without letter
// case; values keep inner blanks; a value in matching double or single
// quotes loses them. Integers are decimal or hexadecimal ("$" or "0x"); an
// unreadable integer yields the default. A boolean is read as an integer.
// Instances are not thread-safe; a loaded file that is only read may be
// shared by threads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/string_list.h"

namespace velquarn {

class TIniFile {
 public:
  TIniFile() = default;
  // Loads the file; a missing file gives an empty configuration.
  explicit TIniFile(std::string path);

  const std::string& FileName() const { return path_; }
  void LoadFromText(std::string_view text);

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  long long ReadInteger(std::string_view section, std::string_view key,
                        long long fallback) const;
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  void ReadSections(TStringList& sections) const;              // names in file order
  void ReadSection(std::string_view section, TStringList& keys) const;
  // The section's key lines as "key=value", values as stored.
  void ReadSectionValues(std::string_view section, TStringList& lines) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void EraseSection(std::string_view section);
  // Writes the file: to a temporary file beside it, then renamed over it, so a
  // failure never leaves it half written. Raises Exception on failure.
  void UpdateFile() const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* FindSection(std::string_view name) const;
  const Entry* FindEntry(std::string_view section, std::string_view key) const;

  std::string path_;
  std::vector<Section> sections_;
};

}  // namespace velquarn
