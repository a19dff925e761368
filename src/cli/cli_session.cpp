#include "cli/cli_session.h"

#include <algorithm>
#include <csignal>

#include "cli/display_text.h"
#include "cli/result_printer.h"
#include "client/decode_error.h"
#include "client/field_defs.h"
#include "client/result_reader.h"
#include "client/row_decoder.h"
#include "common/cp1252.h"
#include "common/text.h"

namespace velquarn {

namespace {

volatile std::sig_atomic_t g_cancel = 0;

// The command words of the protocol, in lower case; a line starting with
// one of them is sent as it is.
const std::vector<std::string>& CommandWords() {
  static const std::vector<std::string> words = {
      "addrec", "call",    "clear",    "close", "crtf",     "exec", "execsql2", "execsql3",
      "get",    "getjson", "help",     "info",  "infojson", "open", "prep",     "quit",
      "sndf",   "sql",     "sqlbatch", "sys",   "test",     "tran"};
  return words;
}

std::string FirstWord(const std::string& line) {
  const size_t end = line.find_first_of(" \t");
  return LowerCase(line.substr(0, end));
}

}  // namespace

TCliSession::TCliSession(TVelquarnClient& client, TOutputFormat format, bool timing,
                         std::ostream& out, std::ostream& err)
    : client_(client), format_(format), timing_(timing), out_(out), err_(err) {}

void TCliSession::RequestCancel() { g_cancel = 1; }

bool TCliSession::Run(const std::string& typed, const TLineSource& more) {
  const std::string line = Trim(typed);
  if (line.empty()) return true;
  g_cancel = 0;
  const auto started = std::chrono::steady_clock::now();
  const std::string word = FirstWord(line);
  bool going_on = true;
  const auto& words = CommandWords();
  if (std::find(words.begin(), words.end(), word) == words.end()) {
    RunQuery(line);
  } else if (word == "quit") {
    client_.SendLine("quit");
    going_on = false;
  } else if (word == "get") {
    RunGet(line);
  } else if (word == "info" || word == "infojson" || word == "getjson") {
    RunCountedBlock(line);
  } else if (word == "sqlbatch") {
    RunSqlBatch(line, more);
  } else if (word == "sndf" || word == "crtf" || word == "addrec" ||
             (word == "sys" && LowerCase(line).find("setconfig") != std::string::npos)) {
    Refuse(word +
           ": file uploads and configuration replacement are not supported by "
           "velquarn-cli");
  } else {
    RunPlain(line, word);
  }
  if (timing_) {
    const auto elapsed = std::chrono::steady_clock::now() - started;
    err_ << "Time: " << Format("%.3f", std::chrono::duration<double, std::milli>(elapsed).count())
         << " ms\n";
  }
  return going_on;
}

void TCliSession::Refuse(const std::string& message) {
  err_ << "velquarn-cli: " << message << '\n';
  had_error_ = true;
}

void TCliSession::PrintReply(const TClientReply& reply) {
  std::ostream& stream = reply.Code >= 300 ? err_ : out_;
  if (reply.Code >= 300) had_error_ = true;
  if (reply.Lines.empty()) stream << reply.Code << '\n';
  for (size_t i = 0; i < reply.Lines.size(); ++i) {
    stream << reply.Code << (i + 1 < reply.Lines.size() ? '-' : ' ') << Utf8FromWire(reply.Lines[i])
           << '\n';
  }
  stream.flush();
}

void TCliSession::PrintBlock(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) out_ << Utf8FromWire(line) << '\n';
  if (format_ == TOutputFormat::kRaw) out_ << ".\n";
  out_.flush();
}

void TCliSession::RunQuery(const std::string& statement) {
  columns_.clear();
  const TStatementResult result = RunSql(client_, WireFromUtf8(statement));
  if (format_ == TOutputFormat::kRaw || !result.Ok()) {
    PrintReply(result.Reply);
    if (result.RowsAffected >= 0 && format_ == TOutputFormat::kRaw) {
      PrintBlock({IntToStr(result.RowsAffected)});
    }
  } else if (result.RowsAffected >= 0) {
    out_ << result.RowsAffected << (result.RowsAffected == 1 ? " row" : " rows") << " affected\n";
  }
  if (!result.HasResultSet) return;
  columns_ = result.Columns;
  ReadPages(columns_);
}

void TCliSession::ReadPages(const std::vector<TColumnDef>& columns) {
  std::unique_ptr<TResultPrinter> printer = MakeResultPrinter(format_, out_);
  if (format_ != TOutputFormat::kRaw) printer->Begin(columns);
  size_t row_count = 0;
  bool cancelled = false;
  for (;;) {
    if (g_cancel) {
      // The rest of the result is not wanted: closing the query ends it on
      // the server too.
      cancelled = true;
      const TClientReply cleared = client_.Command("clear");
      if (cleared.Code >= 300) PrintReply(cleared);
      break;
    }
    const TClientReply reply = client_.Command("get " + std::to_string(kPageRows));
    if (reply.Code == 522) break;
    if (reply.Code != 200) {
      PrintReply(reply);
      break;
    }
    const std::string payload = client_.ReadCountedBlock();
    if (format_ == TOutputFormat::kRaw) {
      PrintReply(reply);
      out_.write(payload.data(), static_cast<std::streamsize>(payload.size()));
      out_.flush();
      // A page's row count is only known by decoding it.
      const size_t rows = DecodeRows(columns, payload).size();
      if (rows < static_cast<size_t>(kPageRows)) break;
      continue;
    }
    const std::vector<TClientRow> rows = DecodeRows(columns, payload);
    row_count += rows.size();
    printer->Page(rows);
    if (rows.size() < static_cast<size_t>(kPageRows)) break;
  }
  if (format_ != TOutputFormat::kRaw) printer->End(row_count, cancelled);
  if (cancelled) err_ << "velquarn-cli: reading stopped by Ctrl+C; the result was cleared\n";
}

void TCliSession::RunGet(const std::string& line) {
  if (columns_.empty()) {
    // After `exec` or a typed `sql` the columns come from `info`, which
    // leaves the row position alone.
    const TClientReply info = client_.Command("info");
    if (info.Code == 200) {
      columns_ = ParseFieldDefs(client_.ReadCountedBlock());
    }
  }
  const TClientReply reply = client_.Command(WireFromUtf8(line));
  if (reply.Code != 200) {
    PrintReply(reply);
    return;
  }
  const std::string payload = client_.ReadCountedBlock();
  if (format_ == TOutputFormat::kRaw || columns_.empty()) {
    PrintReply(reply);
    out_.write(payload.data(), static_cast<std::streamsize>(payload.size()));
    out_.flush();
    return;
  }
  const std::vector<TClientRow> rows = DecodeRows(columns_, payload);
  std::unique_ptr<TResultPrinter> printer = MakeResultPrinter(format_, out_);
  printer->Begin(columns_);
  printer->Page(rows);
  printer->End(rows.size(), false);
}

void TCliSession::RunCountedBlock(const std::string& line) {
  const TClientReply reply = client_.Command(WireFromUtf8(line));
  if (reply.Code != 200) {
    PrintReply(reply);
    return;
  }
  const std::string payload = client_.ReadCountedBlock();
  if (format_ == TOutputFormat::kRaw) PrintReply(reply);
  // The JSON documents are UTF-8 already; the XML document is code page 1252.
  const bool json = FirstWord(line) != "info";
  out_ << (json ? payload : Cp1252ToUtf8(payload)) << '\n';
  out_.flush();
}

void TCliSession::RunSqlBatch(const std::string& line, const TLineSource& more) {
  std::string block = WireFromUtf8(line) + "\r\n";
  std::string statement;
  bool ended = false;
  while (more && more(statement)) {
    if (Trim(statement) == ".") {
      ended = true;
      break;
    }
    block += WireFromUtf8(statement) + "\r\n";
  }
  if (!ended) {
    Refuse("sqlbatch: the statements must end with a line \".\"");
    return;
  }
  columns_.clear();
  block += ".\r\n";
  client_.SendRaw(block);
  PrintReply(client_.ReadReply());
}

void TCliSession::RunPlain(const std::string& line, const std::string& word) {
  if (word != "clear") columns_.clear();
  const TClientReply reply = client_.Command(WireFromUtf8(line));
  if (word == "sql" && reply.Code == 200) {
    try {
      columns_ = ParseFieldDefs(reply.Text());
    } catch (const EDecodeError&) {
      columns_.clear();
    }
  }
  PrintReply(reply);
  // Replies that always carry a data block, and those that may.
  const bool block = (reply.Code == 100 && word == "help") ||
                     (reply.Code == 201 && (word == "sql" || word == "exec"));
  const bool maybe = word == "exec" || word == "call" || word == "sys" || reply.Code >= 500;
  std::vector<std::string> lines;
  if (block) {
    PrintBlock(client_.ReadDataBlock());
  } else if (maybe && client_.ReadOptionalDataBlock(lines)) {
    PrintBlock(lines);
  }
}

}  // namespace velquarn
