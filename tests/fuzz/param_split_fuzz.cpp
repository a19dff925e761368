// Both parameter splitters on any text: the pieces must be what the rules
// make of the text, checked by rebuilding it from them.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "fuzz_check.h"
#include "protocol/param_split.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using velquarn::SplitParams;
  if (size == 0) return 0;
  const char delimiter = static_cast<char>(data[0]);
  const std::string_view raw(reinterpret_cast<const char*>(data) + 1, size - 1);

  // Cut at spaces: no piece is empty or holds a space, and the pieces are
  // the text with its spaces removed, in order.
  std::string joined;
  for (const std::string& piece : SplitParams(raw, ' ')) {
    Check(!piece.empty() && piece.find(' ') == std::string::npos);
    joined += piece;
  }
  std::string without_spaces;
  for (char c : raw) {
    if (c != ' ') without_spaces += c;
  }
  Check(joined == without_spaces);

  // Any other delimiter: the documented rule, modelled piece by piece.
  if (delimiter != ' ') {
    std::vector<std::string> expected;
    const std::string text = velquarn::Trim(raw);
    std::string piece;
    for (size_t i = 0; i <= text.size(); ++i) {
      if (i < text.size() && text[i] != delimiter) {
        piece += text[i];
        continue;
      }
      if (!piece.empty()) expected.push_back(velquarn::Trim(piece));
      piece.clear();
    }
    if (text.empty()) expected.clear();
    Check(SplitParams(raw, delimiter) == expected);
  }
  return 0;
}
