#include "service/systemd_unit.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "common/exceptions.h"
#include "common/text.h"

namespace velquarn {

namespace {

constexpr const char* kDefaultUnitDirectory = "/etc/systemd/system";

// Quotes an ExecStart argument when systemd would otherwise split or expand
// it.
std::string QuoteArgument(const std::string& argument) {
  bool plain = !argument.empty();
  for (char c : argument) {
    plain = plain && c != ' ' && c != '\t' && c != '"' && c != '\'' && c != '\\' && c != '%' &&
            c != '$' && c != ';';
  }
  if (plain) return argument;
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    if (c == '$') quoted += '$';
    quoted += c;
  }
  return quoted + "\"";
}

bool PathExists(const char* path) {
  struct stat info;
  return ::stat(path, &info) == 0;
}

std::string FindSystemctl() {
  for (const char* candidate : {"/usr/bin/systemctl", "/bin/systemctl"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  return "";
}

bool SystemdManagesUnitDirectory() {
  if (!PathExists("/run/systemd/system") || FindSystemctl().empty()) return false;
  std::string directory = UnitDirectory();
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  for (const char* known : {"/etc/systemd/system", "/lib/systemd/system", "/usr/lib/systemd/system",
                            "/run/systemd/system"}) {
    if (directory == known) return true;
  }
  return false;
}

void RunSystemctl(const char* verb, bool with_unit) {
  std::string systemctl = FindSystemctl();
  std::string unit = std::string(kServiceName) + ".service";
  pid_t child = ::fork();
  if (child < 0) throw Exception(std::string("fork failed: ") + std::strerror(errno));
  if (child == 0) {
    if (with_unit) {
      ::execl(systemctl.c_str(), "systemctl", "--quiet", verb, unit.c_str(),
              static_cast<char*>(nullptr));
    } else {
      ::execl(systemctl.c_str(), "systemctl", "--quiet", verb, static_cast<char*>(nullptr));
    }
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw Exception(Format("systemctl %s failed with status %d", verb,
                           WIFEXITED(status) ? WEXITSTATUS(status) : -1));
  }
}

}  // namespace

std::string UnitDirectory() {
  const char* directory = std::getenv("VELQUARN_UNIT_DIR");
  return directory != nullptr && *directory != '\0' ? directory : kDefaultUnitDirectory;
}

std::string UnitFilePath() { return UnitDirectory() + "/" + kServiceName + ".service"; }

std::string UnitFileText(const std::string& executable, const std::string& config_path) {
  std::string exec_start = QuoteArgument(executable);
  if (!config_path.empty()) exec_start += " --config " + QuoteArgument(config_path);
  return std::string("[Unit]\n") + "Description=" + kServiceDisplayName + "\n" +
         "After=network.target\n" + "\n" + "[Service]\n" + "Type=notify\n" +
         "ExecStart=" + exec_start + "\n" + "Restart=on-failure\n" + "\n" + "[Install]\n" +
         "WantedBy=multi-user.target\n";
}

void InstallUnit(const std::string& executable, const std::string& config_path) {
  std::string path = UnitFilePath();
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out)
      throw Exception(Format("Cannot create %s: %s", temporary.c_str(), std::strerror(errno)));
    out << UnitFileText(executable, config_path);
    out.close();
    if (!out) {
      int error = errno;
      std::remove(temporary.c_str());
      throw Exception(Format("Cannot write %s: %s", temporary.c_str(), std::strerror(error)));
    }
  }
  ::chmod(temporary.c_str(), 0644);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    std::remove(temporary.c_str());
    throw Exception(Format("Cannot create %s: %s", path.c_str(), std::strerror(error)));
  }
  if (SystemdManagesUnitDirectory()) {
    RunSystemctl("daemon-reload", false);
    RunSystemctl("enable", true);
  }
}

void UninstallUnit() {
  std::string path = UnitFilePath();
  if (!PathExists(path.c_str())) {
    throw Exception(Format("The service is not installed (%s does not exist)", path.c_str()));
  }
  bool systemd = SystemdManagesUnitDirectory();
  if (systemd) RunSystemctl("disable", true);
  if (std::remove(path.c_str()) != 0) {
    throw Exception(Format("Cannot remove %s: %s", path.c_str(), std::strerror(errno)));
  }
  if (systemd) RunSystemctl("daemon-reload", false);
}

}  // namespace velquarn
