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

// Where the parts of a loaded file stand, for diagnostics (the configuration
// check). Line numbers count from 1 in the text last loaded; CR LF, LF and a
// lone CR each end one line. Parts added by writing have line 0.
struct TIniKeyLine {
  std::string key;
  std::string value;  // as ReadString gives it for this line
  int line = 0;
};
struct TIniSectionLines {
  std::string name;
  int line = 0;
  std::vector<TIniKeyLine> keys;  // in file order, repeated keys included
};
// A line that reading ignored although it is neither blank nor a comment: a
// line without "=" inside a section, or a key line before the first section.
struct TIniSkippedLine {
  int line = 0;
  std::string text;  // trimmed
};

class TIniFile {
 public:
  TIniFile() = default;
  // Loads the file; a missing or unreadable file gives an empty configuration.
  explicit TIniFile(std::string path);

  const std::string& FileName() const { return path_; }
  // Replaces the content with that of the file and makes it the file name;
  // a missing or unreadable file gives an empty configuration.
  void LoadFromFile(const std::string& path);
  // Replaces the content; the file name stays. Blank lines, lines starting
  // with ";", lines without "=" and key lines before the first section are
  // skipped. Repeated sections and keys are kept; reading finds the first.
  void LoadFromText(std::string_view text);

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  long long ReadInteger(std::string_view section, std::string_view key, long long fallback) const;
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  void ReadSections(TStringList& sections) const;  // names in file order
  void ReadSection(std::string_view section, TStringList& keys) const;
  // The section's key lines as "key=value", each value as ReadString gives it.
  void ReadSectionValues(std::string_view section, TStringList& lines) const;
  // Every section in file order, repeated sections included (reading finds
  // the first), with the line numbers of its header and its keys.
  std::vector<TIniSectionLines> SectionLines() const;
  // The lines that the last load ignored (see TIniSkippedLine).
  const std::vector<TIniSkippedLine>& SkippedLines() const { return skipped_; }

  // Replaces the value of the first key of that name in the first section of
  // that name; a new key or section goes at the end.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, long long value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Removes every section of that name.
  void EraseSection(std::string_view section);
  // The content in file form: "[Section]" and "key=value" lines ended by
  // CR LF, a blank line between sections; a value whose outer blanks or
  // quotes would be lost on reading is written in double quotes.
  std::string Text() const;
  // Writes Text() to FileName() with WriteFileAtomically. Raises Exception
  // on failure.
  void UpdateFile() const;

  // The whole file. Raises Exception "Cannot open file ..." with the system's
  // reason when it cannot be read.
  static std::string ReadFileText(const std::string& path);
  // Writes a temporary file beside the target, syncs it and renames it over
  // the target, so a failure never leaves the target half written. The
  // target's permissions are kept. On failure the temporary file is removed
  // and Exception is raised naming the path and the system's reason.
  static void WriteFileAtomically(const std::string& path, std::string_view text);

 private:
  struct Entry {
    std::string key;
    std::string value;
    int line;  // 0: written, not loaded
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
    int line;  // 0: written, not loaded
  };
  const Section* FindSection(std::string_view name) const;
  const Entry* FindEntry(std::string_view section, std::string_view key) const;

  std::string path_;
  std::vector<Section> sections_;
  std::vector<TIniSkippedLine> skipped_;
};

}  // namespace velquarn
