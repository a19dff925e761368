// Where velquarn-cli's lines come from: the terminal through libedit, with
// history kept in ~/.velquarn_history, or a stream (a -f file, standard
// input that is not a terminal). Used by one thread.
#pragma once

#include <istream>
#include <memory>
#include <string>

namespace velquarn {

class TLineInput {
 public:
  virtual ~TLineInput() = default;
  // The next line without its line end; false at the end of the input.
  virtual bool Next(std::string& line) = 0;
};

// Lines of a stream; a CR before the LF is dropped.
std::unique_ptr<TLineInput> StreamLineInput(std::istream& in);

// The interactive editor with the prompt; loads the history file at start
// and appends each entered line to it. history_path empty: no history file.
std::unique_ptr<TLineInput> EditorLineInput(const std::string& prompt,
                                            const std::string& history_path);

// $HOME/.velquarn_history, or empty when HOME is unset.
std::string DefaultHistoryPath();

}  // namespace velquarn
