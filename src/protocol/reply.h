// TReply: a numbered reply of the command protocol, a three-digit code and
// lines of text. On the wire every line but the last is "code-line" and the
// last is "code line", each ended by CR LF, so a client finds the end of a
// reply by the space after the code. Instances are not thread-safe; each
// belongs to one connection thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velquarn {

class TReply {
 public:
  TReply() = default;
  TReply(int code, std::string_view text);

  // The code as text; blank means "no reply".
  const std::string& Code() const { return code_; }
  int NumericCode() const;  // 0 when blank
  bool HasCode() const { return !code_.empty(); }

  // Sets the code. A blank code is allowed; anything else must be a number
  // from 100 to 999, else Exception "Reply Code is not valid: %s". Setting a
  // code that differs from the current one clears the text; the same code
  // again keeps it.
  void SetCode(std::string_view code);
  void SetCode(int code);

  const std::vector<std::string>& Text() const { return text_; }
  // Replaces the text, split at every CR, LF or CR LF; a trailing line break
  // adds no empty line.
  void SetText(std::string_view text);
  void AddLine(std::string line) { text_.push_back(std::move(line)); }

  // SetCode then SetText.
  void SetReply(int code, std::string_view text);
  void Clear();

  // Fills an empty text with the default of the code's class: 1xx
  // "Information", 2xx "Ok", 3xx "Temporary Error", 4xx "Permanent Error",
  // 5xx "Unknown Internal Error". Other classes stay empty.
  void FillDefaultText();
  static std::string DefaultText(int code);

  // The reply's bytes as sent: every line through ToWire, each ended by
  // CR LF. A reply without text is the code alone; without a code, nothing.
  std::string FormatWire() const;

 private:
  std::string code_;
  std::vector<std::string> text_;
};

// Splits text at every CR, LF or CR LF; a trailing break adds no empty line.
std::vector<std::string> SplitTextLines(std::string_view text);

}  // namespace velquarn
