// The INI reader and writer. With the first input byte even, the rest is a
// file: whatever it holds, writing the loaded content and reading that back
// gives the same sections, keys and values. With it odd, the rest chooses
// WriteString calls (names and values the file form can carry: no line
// ends, no "]" in a section name, no "=" in a key, no blanks around names);
// the written file read back gives every last written value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/ini_file.h"
#include "common/text.h"
#include "fuzz_check.h"

namespace {

void CheckSameContent(const velquarn::TIniFile& a, const velquarn::TIniFile& b) {
  const std::vector<velquarn::TIniSectionLines> left = a.SectionLines();
  const std::vector<velquarn::TIniSectionLines> right = b.SectionLines();
  Check(left.size() == right.size());
  for (size_t s = 0; s < left.size(); ++s) {
    Check(left[s].name == right[s].name);
    Check(left[s].keys.size() == right[s].keys.size());
    for (size_t k = 0; k < left[s].keys.size(); ++k) {
      Check(left[s].keys[k].key == right[s].keys[k].key);
      Check(left[s].keys[k].value == right[s].keys[k].value);
    }
  }
}

// A name or value that the file form can carry.
std::string Carried(std::string text, std::string_view forbidden, bool trim) {
  std::string kept;
  for (char c : text) {
    if (c != '\r' && c != '\n' && forbidden.find(c) == std::string_view::npos) kept += c;
  }
  return trim ? velquarn::Trim(kept) : kept;
}

void ReadBack(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  velquarn::TIniFile loaded;
  loaded.LoadFromText(text);
  velquarn::TIniFile reread;
  reread.LoadFromText(loaded.Text());
  CheckSameContent(loaded, reread);
  Check(reread.Text() == loaded.Text());
  // The typed readers on whatever was loaded.
  for (const velquarn::TIniSectionLines& section : loaded.SectionLines()) {
    for (const velquarn::TIniKeyLine& key : section.keys) {
      loaded.ReadInteger(section.name, key.key, 0);
      loaded.ReadBool(section.name, key.key, false);
    }
  }
}

void WriteThenRead(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  struct Written {
    std::string section, key, value;
  };
  std::vector<Written> model;
  velquarn::TIniFile file;
  while (input.remaining_bytes() > 0) {
    std::string section = Carried(input.ConsumeRandomLengthString(24), "]", true);
    std::string key = Carried(input.ConsumeRandomLengthString(24), "=", true);
    // A key line must not read as a comment or a section header.
    if (!key.empty() && (key[0] == ';' || key[0] == '[')) key.insert(0, "k");
    const std::string value = Carried(input.ConsumeRandomLengthString(64), "", false);
    file.WriteString(section, key, value);
    bool replaced = false;
    for (Written& entry : model) {
      if (velquarn::SameText(entry.section, section) && velquarn::SameText(entry.key, key)) {
        entry.value = value;
        replaced = true;
        break;
      }
    }
    if (!replaced) model.push_back({section, key, value});
  }
  velquarn::TIniFile reread;
  reread.LoadFromText(file.Text());
  for (const Written& entry : model) {
    Check(reread.ReadString(entry.section, entry.key, "\x01 missing") == entry.value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    ReadBack(data + 1, size - 1);
  } else {
    WriteThenRead(data + 1, size - 1);
  }
  return 0;
}
