// The command line of velquarn-cli:
//   velquarn-cli [-H host] [-p port] [-d section] [-c COMMANDS]... [-f FILE]...
//                [--format table|csv|json|raw] [--timing]
//                [--tls [--ca FILE] [--cert FILE --key FILE]] [--help]
// -c and -f may repeat; their lines run in the order given. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/exceptions.h"

namespace velquarn {

enum class TOutputFormat { kTable, kCsv, kJson, kRaw };

// Where batch lines come from: one -c text or one -f file.
struct TBatchSource {
  bool is_file = false;
  std::string text;  // the commands, or the file's path ("-": standard input)
};

struct TCliOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 8888;
  std::string database;  // -d: sent as "open SECTION" after the greeting
  std::vector<TBatchSource> batch;
  TOutputFormat format = TOutputFormat::kTable;
  bool timing = false;
  bool help = false;
  // TLS: the server's certificate must be signed by ca (empty: the system's
  // CAs) and name the host; cert and key are the client's own, when the
  // server asks for one. --ca, --cert and --key imply --tls.
  bool tls = false;
  std::string ca;
  std::string cert;
  std::string key;
};

// A command line velquarn-cli cannot use; the program exits with status 2.
class EUsageError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EUsageError"; }
};

// Raises EUsageError naming the option at fault.
TCliOptions ParseCliOptions(const std::vector<std::string>& arguments);

// The text of --help.
std::string CliUsage();

}  // namespace velquarn
