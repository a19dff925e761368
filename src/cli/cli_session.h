// TCliSession: what velquarn-cli does with one input line on a connected
// client. A line whose first word is a protocol command word is sent as it
// is, with the replies, data blocks and counted blocks that follow it shown;
// any other line is sent as `sql`, and its rows are read with `get 1000`
// until the end and printed. Ctrl+C (RequestCancel) between two pages sends
// `clear` and keeps the session. Used by one thread; RequestCancel may be
// called from a signal handler.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "client/client_value.h"
#include "client/velquarn_client.h"

namespace velquarn {

// Supplies the next input line (for the statements after `sqlbatch`);
// false at the end of the input.
using TLineSource = std::function<bool(std::string& line)>;

class TCliSession {
 public:
  static constexpr int kPageRows = 1000;

  TCliSession(TVelquarnClient& client, TOutputFormat format, bool timing, std::ostream& out,
              std::ostream& err);

  // Runs one line (UTF-8, as typed). Returns false when the session ended
  // (quit). Transport faults raise Exception.
  bool Run(const std::string& line, const TLineSource& more);

  // True once any reply was an error (code 300 or above) or a line could
  // not be sent.
  bool HadError() const { return had_error_; }

  // Async-signal-safe: the result being read stops after the current page.
  static void RequestCancel();

 private:
  void RunQuery(const std::string& statement);
  void RunGet(const std::string& line);
  void RunCountedBlock(const std::string& line);
  void RunSqlBatch(const std::string& line, const TLineSource& more);
  void RunPlain(const std::string& line, const std::string& word);
  // Reads pages until the end or a cancel; prints them.
  void ReadPages(const std::vector<TColumnDef>& columns);
  void PrintReply(const TClientReply& reply);
  void PrintBlock(const std::vector<std::string>& lines);
  void Refuse(const std::string& message);

  TVelquarnClient& client_;
  TOutputFormat format_;
  bool timing_;
  std::ostream& out_;
  std::ostream& err_;
  bool had_error_ = false;
  // The columns of the result that `get` reads; empty when unknown.
  std::vector<TColumnDef> columns_;
};

}  // namespace velquarn
