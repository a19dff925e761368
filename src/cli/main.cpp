// velquarn-cli: a terminal and script client of the Velquarn gateway.
// Exit status 0 when every reply was 1xx or 2xx, 1 after an error reply, 2
// on a connection or usage error.
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "cli/display_text.h"
#include "cli/line_input.h"
#include "client/velquarn_client.h"

namespace velquarn {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitErrorReply = 1;
constexpr int kExitConnection = 2;

void OnInterrupt(int) { TCliSession::RequestCancel(); }

// Ctrl+C stops the result being read; it does not end the program. No
// SA_RESTART, so a blocking read notices it.
void CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

// Runs lines from input until its end or quit; false after quit.
bool RunLines(TCliSession& session, TLineInput& input, bool stop_on_error) {
  std::string line;
  const TLineSource more = [&input](std::string& next) { return input.Next(next); };
  while (input.Next(line)) {
    if (!session.Run(line, more)) return false;
    if (stop_on_error && session.HadError()) return true;
  }
  return true;
}

int Main(int argc, char** argv) {
  TCliOptions options;
  try {
    options = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError& error) {
    std::cerr << "velquarn-cli: " << error.what() << '\n';
    return kExitConnection;
  }
  if (options.help) {
    std::cout << CliUsage();
    return kExitOk;
  }
  // Batch input is read before connecting, so a missing file is a usage error.
  std::vector<std::string> batch_texts;
  for (const TBatchSource& source : options.batch) {
    if (!source.is_file) {
      batch_texts.push_back(source.text);
      continue;
    }
    std::stringstream text;
    if (source.text == "-") {
      text << std::cin.rdbuf();
    } else {
      std::ifstream file(source.text, std::ios::binary);
      if (!file) {
        std::cerr << "velquarn-cli: cannot read " << source.text << '\n';
        return kExitConnection;
      }
      text << file.rdbuf();
    }
    batch_texts.push_back(text.str());
  }

  TVelquarnClient client;
  // A long result is read page by page; a page may take the server a while.
  client.SetReadTimeoutMs(300000);
  const bool interactive = options.batch.empty() && isatty(STDIN_FILENO);
  try {
    if (options.tls) {
      TTlsClientOptions tls;
      tls.CA = options.ca;
      tls.Certificate = options.cert;
      tls.Key = options.key;
      tls.HostName = options.host;
      client.SetTls(TTlsContext::Client(tls));
    }
    const TClientReply greeting = client.Open(options.host, options.port);
    if (greeting.Code >= 300) {
      std::cerr << "velquarn-cli: " << greeting.Code << ' ' << Utf8FromWire(greeting.Text())
                << '\n';
      return kExitConnection;
    }
    if (interactive) {
      std::cout << "Connected to " << options.host << ':' << options.port << ": "
                << Utf8FromWire(greeting.Text())
                << "\nType SQL, a protocol command (help lists them) or quit.\n";
    }
    TCliSession session(client, options.format, options.timing, std::cout, std::cerr);
    if (!options.database.empty()) {
      const TClientReply opened = client.Command("open " + WireFromUtf8(options.database));
      if (opened.Code >= 300) {
        std::cerr << "velquarn-cli: open " << options.database << ": " << opened.Code << ' '
                  << Utf8FromWire(opened.Text()) << '\n';
        return kExitErrorReply;
      }
    }
    CatchInterrupt();
    bool quit = false;
    if (!batch_texts.empty()) {
      for (const std::string& text : batch_texts) {
        std::istringstream stream(text);
        auto input = StreamLineInput(stream);
        quit = !RunLines(session, *input, true);
        if (quit || session.HadError()) break;
      }
    } else if (interactive) {
      const std::string prompt =
          (options.database.empty() ? std::string("velquarn") : options.database) + "> ";
      auto input = EditorLineInput(prompt, DefaultHistoryPath());
      quit = !RunLines(session, *input, false);
    } else {
      auto input = StreamLineInput(std::cin);
      quit = !RunLines(session, *input, true);
    }
    if (!quit) client.SendLine("quit");
    return session.HadError() ? kExitErrorReply : kExitOk;
  } catch (const std::exception& error) {
    std::cerr << "velquarn-cli: " << error.what() << '\n';
    return kExitConnection;
  }
}

}  // namespace
}  // namespace velquarn

int main(int argc, char** argv) { return velquarn::Main(argc, argv); }
