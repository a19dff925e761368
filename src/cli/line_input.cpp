#include "cli/line_input.h"

#include <editline/readline.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace velquarn {

namespace {

constexpr int kHistoryLines = 1000;

class TStreamLineInput : public TLineInput {
 public:
  explicit TStreamLineInput(std::istream& in) : in_(in) {}
  bool Next(std::string& line) override {
    if (!std::getline(in_, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }

 private:
  std::istream& in_;
};

class TEditorLineInput : public TLineInput {
 public:
  TEditorLineInput(std::string prompt, std::string history_path)
      : prompt_(std::move(prompt)), history_path_(std::move(history_path)) {
    using_history();
    stifle_history(kHistoryLines);
    if (!history_path_.empty()) read_history(history_path_.c_str());
  }

  ~TEditorLineInput() override {
    if (!history_path_.empty()) write_history(history_path_.c_str());
  }

  bool Next(std::string& line) override {
    char* text = nullptr;
    for (;;) {
      errno = 0;
      text = readline(prompt_.c_str());
      if (text != nullptr) break;
      // Ctrl+C at the prompt drops the line typed so far, not the session.
      if (errno != EINTR) return false;
      std::fputs("\n", stdout);
    }
    line = text;
    std::free(text);
    if (!line.empty() && line != last_) {
      add_history(line.c_str());
      last_ = line;
      // Written after every line, so a session that is killed keeps it.
      if (!history_path_.empty()) write_history(history_path_.c_str());
    }
    return true;
  }

 private:
  std::string prompt_;
  std::string history_path_;
  std::string last_;
};

}  // namespace

std::unique_ptr<TLineInput> StreamLineInput(std::istream& in) {
  return std::make_unique<TStreamLineInput>(in);
}

std::unique_ptr<TLineInput> EditorLineInput(const std::string& prompt,
                                            const std::string& history_path) {
  return std::make_unique<TEditorLineInput>(prompt, history_path);
}

std::string DefaultHistoryPath() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  return std::string(home) + "/.velquarn_history";
}

}  // namespace velquarn
