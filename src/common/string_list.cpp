#include "common/string_list.h"

#include <algorithm>

#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

namespace {

bool NeedsQuotes(std::string_view item) {
  for (const char c : item) {
    if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') return true;
  }
  return false;
}

bool IsSeparatorBlank(char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; }

}  // namespace

const std::string& TStringList::Strings(int index) const {
  if (index < 0 || index >= Count()) throw EListError(index);
  return items_[static_cast<size_t>(index)];
}

void TStringList::SetStrings(int index, std::string value) {
  if (index < 0 || index >= Count()) throw EListError(index);
  items_[static_cast<size_t>(index)] = std::move(value);
}

int TStringList::Add(std::string value) {
  items_.push_back(std::move(value));
  return Count() - 1;
}

void TStringList::Insert(int index, std::string value) {
  if (index < 0 || index > Count()) throw EListError(index);
  items_.insert(items_.begin() + index, std::move(value));
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw EListError(index);
  items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(std::string_view value) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (SameText(items_[i], value)) return static_cast<int>(i);
  }
  return -1;
}

std::string TStringList::Names(int index) const {
  const std::string& line = Strings(index);
  const size_t equals = line.find('=');
  return equals == std::string::npos ? std::string() : line.substr(0, equals);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& line = Strings(index);
  const size_t equals = line.find('=');
  return equals == std::string::npos ? std::string() : line.substr(equals + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    const std::string_view line = items_[i];
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos && SameText(line.substr(0, equals), name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string TStringList::Values(std::string_view name) const {
  const int index = IndexOfName(name);
  return index < 0 ? std::string() : ValueFromIndex(index);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  const int index = IndexOfName(name);
  if (value.empty()) {
    if (index >= 0) Delete(index);
    return;
  }
  std::string line;
  line.reserve(name.size() + 1 + value.size());
  line.append(name).append("=").append(value);
  if (index >= 0) {
    items_[static_cast<size_t>(index)] = std::move(line);
  } else {
    items_.push_back(std::move(line));
  }
}

std::string TStringList::Text() const {
  size_t size = 0;
  for (const auto& item : items_) size += item.size() + 2;
  std::string text;
  text.reserve(size);
  for (const auto& item : items_) text.append(item).append("\r\n");
  return text;
}

void TStringList::SetText(std::string_view text) {
  items_.clear();
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      items_.emplace_back(text.substr(start));
      break;
    }
    items_.emplace_back(text.substr(start, end - start));
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    start = end + (crlf ? 2 : 1);
  }
}

std::string TStringList::CommaText() const {
  if (items_.size() == 1 && items_[0].empty()) return "\"\"";
  std::string text;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i > 0) text += ',';
    const std::string& item = items_[i];
    if (!NeedsQuotes(item)) {
      text += item;
      continue;
    }
    text += '"';
    for (const char c : item) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  return text;
}

void TStringList::SetCommaText(std::string_view text) {
  items_.clear();
  size_t pos = 0;
  const size_t size = text.size();
  while (pos < size && IsSeparatorBlank(text[pos])) ++pos;
  while (pos < size) {
    std::string item;
    if (text[pos] == '"') {
      ++pos;
      while (pos < size) {
        if (text[pos] == '"') {
          if (pos + 1 < size && text[pos + 1] == '"') {
            item += '"';
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        item += text[pos++];
      }
    } else {
      const size_t begin = pos;
      while (pos<size&& static_cast<unsigned char>(text[pos])> ' ' && text[pos] != ',') ++pos;
      item.assign(text.substr(begin, pos - begin));
    }
    items_.push_back(std::move(item));
    while (pos < size && IsSeparatorBlank(text[pos])) ++pos;
    if (pos < size && text[pos] == ',') {
      if (pos + 1 == size) items_.emplace_back();
      ++pos;
      while (pos < size && IsSeparatorBlank(text[pos])) ++pos;
    } else if (pos < size && text[pos] == '\0') {
      break;
    }
  }
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(), [](const std::string& a, const std::string& b) {
    return CompareText(a, b) < 0;
  });
}

}  // namespace velquarn
