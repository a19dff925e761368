#include "cli/cli_options.h"

#include "common/text.h"

namespace velquarn {

namespace {

TOutputFormat ParseFormat(const std::string& name) {
  if (name == "table") return TOutputFormat::kTable;
  if (name == "csv") return TOutputFormat::kCsv;
  if (name == "json") return TOutputFormat::kJson;
  if (name == "raw") return TOutputFormat::kRaw;
  throw EUsageError("--format: expected table, csv, json or raw, got \"" + name + "\"");
}

}  // namespace

TCliOptions ParseCliOptions(const std::vector<std::string>& arguments) {
  TCliOptions options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    // "--format=csv" and "--format csv" are both taken.
    std::string name = argument;
    std::string inline_value;
    bool has_inline = false;
    if (argument.rfind("--", 0) == 0 && argument.find('=') != std::string::npos) {
      name = argument.substr(0, argument.find('='));
      inline_value = argument.substr(argument.find('=') + 1);
      has_inline = true;
    }
    const auto value = [&]() -> std::string {
      if (has_inline) return inline_value;
      if (i + 1 >= arguments.size()) throw EUsageError(name + ": a value is missing");
      return arguments[++i];
    };
    if (name == "-H" || name == "--host") {
      options.host = value();
    } else if (name == "-p" || name == "--port") {
      const std::string text = value();
      int32_t port = 0;
      if (!TryStrToInt32(text, port) || port < 1 || port > 65535) {
        throw EUsageError("-p: expected a port from 1 to 65535, got \"" + text + "\"");
      }
      options.port = static_cast<uint16_t>(port);
    } else if (name == "-d" || name == "--database") {
      options.database = value();
    } else if (name == "-c" || name == "--command") {
      options.batch.push_back({false, value()});
    } else if (name == "-f" || name == "--file") {
      options.batch.push_back({true, value()});
    } else if (name == "--format") {
      options.format = ParseFormat(value());
    } else if (name == "--tls" && !has_inline) {
      options.tls = true;
    } else if (name == "--ca") {
      options.ca = value();
      options.tls = true;
    } else if (name == "--cert") {
      options.cert = value();
      options.tls = true;
    } else if (name == "--key") {
      options.key = value();
      options.tls = true;
    } else if (name == "--timing" && !has_inline) {
      options.timing = true;
    } else if ((name == "-h" || name == "--help") && !has_inline) {
      options.help = true;
    } else {
      throw EUsageError("unknown option \"" + argument + "\" (see --help)");
    }
  }
  if (options.cert.empty() != options.key.empty()) {
    throw EUsageError("--cert and --key go together");
  }
  return options;
}

std::string CliUsage() {
  return "Usage: velquarn-cli [-H host] [-p port] [-d section] [-c COMMANDS]... [-f FILE]...\n"
         "                    [--format table|csv|json|raw] [--timing]\n"
         "                    [--tls [--ca FILE] [--cert FILE --key FILE]]\n"
         "\n"
         "Connects to a Velquarn gateway (default 127.0.0.1 port 8888). With -d it opens\n"
         "the configured database section. With -c or -f it runs their lines in order and\n"
         "exits (-f - reads standard input); otherwise it reads lines interactively.\n"
         "A line that starts with a protocol command word (open, sql, get, info, tran,\n"
         "sys, help, ...) is sent as it is; any other line is sent as SQL and its rows\n"
         "are read in pages of 1000. Ctrl+C stops reading a long result.\n"
         "With --tls the connection is encrypted (use the gateway's TLS port); the\n"
         "server's certificate must be signed by the --ca file (default: the system's\n"
         "CAs) and name the host. --cert and --key present a client certificate.\n"
         "\n"
         "Exit status: 0 when every reply was 1xx or 2xx, 1 after an error reply,\n"
         "2 on a connection or usage error.\n";
}

}  // namespace velquarn
