// TStringList: an ordered list of strings with name=value access.
// Names compare without letter case. Instances are not thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velquarn {

class TStringList {
 public:
  TStringList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  // Raise EListError "List index out of bounds (%d)" for a bad index.
  const std::string& Strings(int index) const;
  void SetStrings(int index, std::string value);
  const std::string& operator[](int index) const { return Strings(index); }

  int Add(std::string value);  // returns the new item's index
  void Insert(int index, std::string value);
  void Delete(int index);
  void Clear() { items_.clear(); }
  int IndexOf(std::string_view value) const;  // case-insensitive; -1 if absent

  // name=value access. Names(i) is the part before the first "=" (empty when
  // the line has none); Values(name) the part after it, empty if absent.
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  int IndexOfName(std::string_view name) const;
  std::string Values(std::string_view name) const;
  // Replaces the value of the first line with that name, or appends a line;
  // an empty value removes the line.
  void SetValue(std::string_view name, std::string_view value);

  // All lines, each followed by CR LF. SetText splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(std::string_view text);
  // Comma-separated text; items with blanks, control characters, commas or
  // quotes are quoted (inner quotes doubled); a single empty item gives "".
  std::string CommaText() const;
  // Replaces the list with the items of a comma-separated text: items end at
  // a comma or at an unquoted blank; a quoted item keeps blanks and commas and
  // its doubled quotes become one; a trailing comma adds an empty item.
  void SetCommaText(std::string_view text);

  void Sort();  // case-insensitive, stable
  const std::vector<std::string>& Items() const { return items_; }

 private:
  std::vector<std::string> items_;
};

}  // namespace velquarn
