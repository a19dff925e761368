#include "protocol/reply.h"

#include "common/cp1252.h"
#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

TReply::TReply(int code, std::string_view text) { SetReply(code, text); }

int TReply::NumericCode() const {
  if (code_.empty()) return 0;
  return std::stoi(code_);
}

void TReply::SetCode(std::string_view code) {
  std::string trimmed = Trim(code);
  if (!trimmed.empty()) {
    // Only plain decimal digits count: "0x1F4" or "+200" are not codes.
    bool digits = trimmed.size() <= 3;
    for (char c : trimmed) digits = digits && c >= '0' && c <= '9';
    if (!digits || std::stoi(trimmed) < 100) {
      throw Exception(Format("Reply Code is not valid: %s", std::string(code).c_str()));
    }
  }
  if (trimmed != code_) {
    text_.clear();
    code_ = std::move(trimmed);
  }
}

void TReply::SetCode(int code) { SetCode(std::to_string(code)); }

void TReply::SetText(std::string_view text) { text_ = SplitTextLines(text); }

void TReply::SetReply(int code, std::string_view text) {
  SetCode(code);
  SetText(text);
}

void TReply::Clear() {
  code_.clear();
  text_.clear();
}

std::string TReply::DefaultText(int code) {
  switch (code / 100) {
    case 1:
      return "Information";
    case 2:
      return "Ok";
    case 3:
      return "Temporary Error";
    case 4:
      return "Permanent Error";
    case 5:
      return "Unknown Internal Error";
    default:
      return "";
  }
}

void TReply::FillDefaultText() {
  if (!text_.empty() || code_.empty()) return;
  std::string text = DefaultText(NumericCode());
  if (!text.empty()) text_.push_back(std::move(text));
}

std::string TReply::FormatWire() const {
  std::string out;
  if (code_.empty()) return out;
  if (text_.empty()) {
    out = code_ + "\r\n";
    return out;
  }
  for (size_t i = 0; i < text_.size(); ++i) {
    out += code_;
    out += (i + 1 < text_.size()) ? '-' : ' ';
    out += ToWire(text_[i]);
    out += "\r\n";
  }
  return out;
}

}  // namespace velquarn
