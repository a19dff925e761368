#include "service/command_line.h"

#include <getopt.h>

#include <cctype>
#include <vector>

#include "common/exceptions.h"
#include "common/text.h"

#ifndef VELQUARN_VERSION
#define VELQUARN_VERSION "unknown"
#endif
#ifndef VELQUARN_BUILD_TYPE
#define VELQUARN_BUILD_TYPE "unknown"
#endif

namespace velquarn {

namespace {

enum TLongOption : int {
  kOptionConfig = 1000,
  kOptionEventLog,
  kOptionCheckConfig,
  kOptionConnect,
  kOptionScramblePassword,
  kOptionWorker,
};

constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"config", required_argument, nullptr, kOptionConfig},
    {"event-log", required_argument, nullptr, kOptionEventLog},
    {"check-config", no_argument, nullptr, kOptionCheckConfig},
    {"connect", no_argument, nullptr, kOptionConnect},
    {"scramble-password", no_argument, nullptr, kOptionScramblePassword},
    {"worker", required_argument, nullptr, kOptionWorker},
    {nullptr, 0, nullptr, 0},
};

// "--Name=Value" -> "--name=Value": getopt_long compares names exactly, the
// service has always taken them in any letter case.
std::string LowerOptionName(std::string_view arg) {
  std::string result(arg);
  const size_t end = std::min(result.find('='), result.size());
  for (size_t i = 2; i < end; ++i) {
    result[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(result[i])));
  }
  return result;
}

// True when arg is a long option (possibly shortened) whose value follows
// as the next argument.
bool TakesSeparateValue(std::string_view arg) {
  if (arg.size() < 3 || arg.substr(0, 2) != "--" || arg.find('=') != std::string_view::npos) {
    return false;
  }
  const std::string_view name = arg.substr(2);
  for (std::string_view option : {"config", "event-log", "worker"}) {
    if (name.size() <= option.size() && SameText(option.substr(0, name.size()), name)) return true;
  }
  return false;
}

// The Windows-style service switches, which getopt would read as bundles of
// short options; false for anything else.
bool TakeServiceSwitch(std::string_view arg, TCommandLine& result) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-') || arg.substr(0, 2) == "--") return false;
  const std::string_view name = arg.substr(1);
  if (SameText(name, "install")) {
    result.Install = true;
  } else if (SameText(name, "uninstall")) {
    result.Uninstall = true;
  } else if (SameText(name, "silent")) {
    result.Silent = true;
  } else if (SameText(name, "help") || name == "?") {
    result.Help = true;
  } else if (arg[0] == '/' || name.size() > 1) {
    // "/x" and "-xyz" are no getopt options: name them as they were given.
    throw Exception(Format("Unknown switch: %.*s", static_cast<int>(arg.size()), arg.data()));
  } else {
    return false;
  }
  return true;
}

}  // namespace

const char* UsageText() {
  return "Usage: velquarn [--config FILE] [--event-log FILE]\n"
         "       velquarn --check-config [--connect] [--config FILE]\n"
         "       velquarn /install [/silent] [--config FILE]\n"
         "       velquarn /uninstall [/silent]\n"
         "       velquarn --scramble-password < password   (prints the INI value)\n"
         "       velquarn -h | --help | -V | --version\n"
         "Without /install or /uninstall the service runs in the foreground.\n"
         "--check-config reports problems of the configuration, one per line, and exits\n"
         "with 0 when there are none; --connect also opens each database section.\n"
         "/install, /uninstall and /silent begin with / or - in any letter case.\n";
}

const char* VersionNumber() { return VELQUARN_VERSION; }

std::string VersionText() {
  return std::string("velquarn " VELQUARN_VERSION "\n") +
         "compiler: "
#if defined(__clang__)
         "Clang "
#elif defined(__GNUC__)
         "GCC "
#endif
         __VERSION__
         "\n"
         "build type: " VELQUARN_BUILD_TYPE
         "\n"
         "C++ standard: " +
         std::to_string(__cplusplus) + "\n";
}

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
  TCommandLine result;
  // getopt_long permutes and keeps pointers into its argument vector: it
  // gets copies, with the service switches taken out first.
  std::vector<std::string> kept = {argc > 0 ? argv[0] : "velquarn"};
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (TakesSeparateValue(arg)) {
      kept.push_back(LowerOptionName(arg));
      if (i + 1 < argc) kept.emplace_back(argv[++i]);
      continue;
    }
    if (arg.substr(0, 2) == "--") {
      kept.push_back(LowerOptionName(arg));
      continue;
    }
    if (!TakeServiceSwitch(arg, result)) kept.emplace_back(arg);
  }
  std::vector<char*> args;
  for (std::string& arg : kept) args.push_back(arg.data());
  args.push_back(nullptr);

  // optind 0 makes glibc start over, so the parser can run more than once.
  optind = 0;
  opterr = 0;
  const int count = static_cast<int>(kept.size());
  for (;;) {
    const int previous = optind == 0 ? 1 : optind;
    const int option = getopt_long(count, args.data(), "+:hV", kLongOptions, nullptr);
    if (option == -1) break;
    const std::string given = previous < count ? args[previous] : "";
    switch (option) {
      case 'h':
        result.Help = true;
        break;
      case 'V':
        result.Version = true;
        break;
      case kOptionConfig:
      case kOptionEventLog:
        if (*optarg == '\0') throw Exception(Format("Missing value after %s", given.c_str()));
        (option == kOptionConfig ? result.ConfigPath : result.EventLogPath) = optarg;
        break;
      case kOptionCheckConfig:
        result.CheckConfig = true;
        break;
      case kOptionConnect:
        result.Connect = true;
        break;
      case kOptionScramblePassword:
        result.ScramblePassword = true;
        break;
      case kOptionWorker: {
        int32_t fd = -1;
        if (!TryStrToInt32(optarg, fd) || fd < 0) {
          throw Exception(Format("Not a descriptor after %s: %s", given.c_str(), optarg));
        }
        result.WorkerFd = fd;
        break;
      }
      case ':':
        throw Exception(Format("Missing value after %s", given.c_str()));
      default:
        throw Exception(Format("Unknown switch: %s", given.c_str()));
    }
  }
  if (optind < count) throw Exception(Format("Unknown argument: %s", args[optind]));
  if (result.Install && result.Uninstall) {
    throw Exception("/install and /uninstall cannot be combined");
  }
  if (result.Connect && !result.CheckConfig) {
    throw Exception("--connect needs --check-config");
  }
  if (result.CheckConfig && (result.Install || result.Uninstall || result.ScramblePassword)) {
    throw Exception(
        "--check-config cannot be combined with /install, /uninstall or "
        "--scramble-password");
  }
  return result;
}

}  // namespace velquarn
