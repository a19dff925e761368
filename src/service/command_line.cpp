#include "service/command_line.h"

#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

namespace {

// "--name=value" or "--name value"; returns false when arg is another
// option.
bool TakeValue(std::string_view name, std::string_view arg, int argc, const char* const* argv,
               int& index, std::string& value) {
  std::string_view prefix = arg.substr(0, name.size());
  if (!SameText(prefix, name)) return false;
  if (arg.size() == name.size()) {
    if (index + 1 >= argc) throw Exception(Format("Missing value after %s", argv[index]));
    value = argv[++index];
    return true;
  }
  if (arg[name.size()] != '=') return false;
  value = std::string(arg.substr(name.size() + 1));
  if (value.empty()) throw Exception(Format("Missing value after %s", argv[index]));
  return true;
}

}  // namespace

const char* UsageText() {
  return "Usage: velquarn [--config FILE] [--event-log FILE]\n"
         "       velquarn /install [/silent] [--config FILE]\n"
         "       velquarn /uninstall [/silent]\n"
         "       velquarn --scramble-password < password   (prints the INI value)\n"
         "Without /install or /uninstall the service runs in the foreground.\n"
         "Switches begin with / or - in any letter case.\n";
}

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
  TCommandLine result;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (TakeValue("--config", arg, argc, argv, i, result.ConfigPath)) continue;
    if (TakeValue("--event-log", arg, argc, argv, i, result.EventLogPath)) continue;
    if (SameText(arg, "--scramble-password")) {
      result.ScramblePassword = true;
      continue;
    }
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
      throw Exception(Format("Unknown argument: %s", argv[i]));
    }
    std::string_view name = arg.substr(1);
    if (SameText(name, "install")) {
      result.Install = true;
    } else if (SameText(name, "uninstall")) {
      result.Uninstall = true;
    } else if (SameText(name, "silent")) {
      result.Silent = true;
    } else if (SameText(name, "help") || SameText(name, "-help") || SameText(name, "?")) {
      result.Help = true;
    } else {
      throw Exception(Format("Unknown switch: %s", argv[i]));
    }
  }
  if (result.Install && result.Uninstall) {
    throw Exception("/install and /uninstall cannot be combined");
  }
  return result;
}

}  // namespace velquarn
