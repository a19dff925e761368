#include "common/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/exceptions.h"
#include "common/file_descriptor.h"
#include "common/text.h"

namespace velquarn {

namespace {

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in the buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

// Strips one pair of matching double or single quotes, as the profile
// functions do.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// A value that would change when read back (outer blanks, or outer quotes
// that reading would strip) is written in double quotes.
std::string QuoteForFile(std::string_view value) {
  const bool outer_blank = !value.empty() && (static_cast<unsigned char>(value.front()) <= ' ' ||
                                              static_cast<unsigned char>(value.back()) <= ' ');
  if (outer_blank || Unquote(value).size() != value.size()) {
    std::string quoted = "\"";
    quoted.append(value).append("\"");
    return quoted;
  }
  return std::string(value);
}

}  // namespace

TIniFile::TIniFile(std::string path) { LoadFromFile(path); }

void TIniFile::LoadFromFile(const std::string& path) {
  path_ = path;
  std::string text;
  try {
    text = ReadFileText(path);
  } catch (const Exception&) {
    // A missing or unreadable file reads as an empty configuration, as the
    // profile functions give their defaults.
    text.clear();
  }
  LoadFromText(text);
}

void TIniFile::LoadFromText(std::string_view text) {
  sections_.clear();
  skipped_.clear();
  Section* current = nullptr;
  size_t start = 0;
  int line_number = 0;
  while (start < text.size()) {
    ++line_number;
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++start;

    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      const std::string_view name = std::string_view(line).substr(
          1, close == std::string::npos ? std::string::npos : close - 1);
      sections_.push_back({Trim(name), {}, line_number});
      current = &sections_.back();
      continue;
    }
    const size_t equals = line.find('=');
    // Key lines before the first section and lines without "=" are not
    // readable through the profile functions either.
    if (current == nullptr || equals == std::string::npos) {
      skipped_.push_back({line_number, line});
      continue;
    }
    std::string key = Trim(std::string_view(line).substr(0, equals));
    const std::string value = Trim(std::string_view(line).substr(equals + 1));
    current->entries.push_back({std::move(key), std::string(Unquote(value)), line_number});
  }
}

const TIniFile::Section* TIniFile::FindSection(std::string_view name) const {
  for (const auto& section : sections_) {
    if (SameText(section.name, name)) return &section;
  }
  return nullptr;
}

const TIniFile::Entry* TIniFile::FindEntry(std::string_view section, std::string_view key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return nullptr;
  for (const auto& entry : found->entries) {
    if (SameText(entry.key, key)) return &entry;
  }
  return nullptr;
}

bool TIniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != nullptr;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindEntry(section, key) != nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
  const Entry* entry = FindEntry(section, key);
  return entry != nullptr ? entry->value : std::string(fallback);
}

long long TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                long long fallback) const {
  const Entry* entry = FindEntry(section, key);
  int64_t value = 0;
  if (entry == nullptr || !TryStrToInt(entry->value, value)) return fallback;
  return value;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::ReadSections(TStringList& sections) const {
  sections.Clear();
  for (const auto& section : sections_) sections.Add(section.name);
}

void TIniFile::ReadSection(std::string_view section, TStringList& keys) const {
  keys.Clear();
  const Section* found = FindSection(section);
  if (found == nullptr) return;
  for (const auto& entry : found->entries) keys.Add(entry.key);
}

void TIniFile::ReadSectionValues(std::string_view section, TStringList& lines) const {
  lines.Clear();
  const Section* found = FindSection(section);
  if (found == nullptr) return;
  for (const auto& entry : found->entries) {
    // A repeated key shows the value that reading the key gives: the first.
    const Entry* first = FindEntry(section, entry.key);
    lines.Add(entry.key + "=" + first->value);
  }
}

std::vector<TIniSectionLines> TIniFile::SectionLines() const {
  std::vector<TIniSectionLines> result;
  result.reserve(sections_.size());
  for (const auto& section : sections_) {
    TIniSectionLines lines{section.name, section.line, {}};
    for (const auto& entry : section.entries)
      lines.keys.push_back({entry.key, entry.value, entry.line});
    result.push_back(std::move(lines));
  }
  return result;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Section* target = const_cast<Section*>(FindSection(section));
  if (target == nullptr) {
    sections_.push_back({std::string(section), {}, 0});
    target = &sections_.back();
  }
  for (auto& entry : target->entries) {
    if (SameText(entry.key, key)) {
      entry.value.assign(value);
      return;
    }
  }
  target->entries.push_back({std::string(key), std::string(value), 0});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, long long value) {
  WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(std::string_view section) {
  std::erase_if(sections_, [section](const Section& s) { return SameText(s.name, section); });
}

std::string TIniFile::Text() const {
  std::string text;
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (i > 0) text += "\r\n";
    text.append("[").append(sections_[i].name).append("]\r\n");
    for (const auto& entry : sections_[i].entries) {
      text.append(entry.key).append("=").append(QuoteForFile(entry.value)).append("\r\n");
    }
  }
  return text;
}

void TIniFile::UpdateFile() const {
  if (path_.empty()) throw Exception("Cannot write the configuration: no file name");
  WriteFileAtomically(path_, Text());
}

std::string TIniFile::ReadFileText(const std::string& path) {
  TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    throw Exception(Format("Cannot open file \"%s\". %s", path.c_str(), ErrorText(errno).c_str()));
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(file.Get(), buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      throw Exception(
          Format("Cannot read file \"%s\". %s", path.c_str(), ErrorText(errno).c_str()));
    }
    text.append(buffer, static_cast<size_t>(count));
  }
  return text;
}

void TIniFile::WriteFileAtomically(const std::string& path, std::string_view text) {
  const size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp_path = folder + (folder.back() == '/' ? "" : "/") + "." + base + ".XXXXXX";

  auto fail = [&path, &temp_path](const char* action, int error) {
    ::unlink(temp_path.c_str());
    throw Exception(Format("Cannot write file \"%s\" (%s). %s", path.c_str(), action,
                           ErrorText(error).c_str()));
  };

  TFileDescriptor file(::mkostemp(temp_path.data(), O_CLOEXEC));
  if (file.Get() < 0) {
    const int error = errno;
    throw Exception(Format("Cannot write file \"%s\" (create a temporary file). %s", path.c_str(),
                           ErrorText(error).c_str()));
  }
  // mkstemp creates the file for its owner only; the replacement keeps the
  // permissions of the file that it replaces, or gets the usual 0644.
  struct stat existing {};
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  if (::fchmod(file.Get(), mode) != 0) fail("set permissions", errno);

  size_t written = 0;
  while (written < text.size()) {
    const ssize_t count = ::write(file.Get(), text.data() + written, text.size() - written);
    if (count < 0) {
      if (errno == EINTR) continue;
      fail("write", errno);
    }
    written += static_cast<size_t>(count);
  }
  if (::fsync(file.Get()) != 0) fail("sync", errno);
  if (file.Close() != 0) fail("close", errno);
  if (::rename(temp_path.c_str(), path.c_str()) != 0) fail("rename", errno);
  // The rename itself is made durable by syncing the folder; the new content
  // is already complete, so a failure here is not reported.
  TFileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() >= 0) ::fsync(directory.Get());
}

}  // namespace velquarn
