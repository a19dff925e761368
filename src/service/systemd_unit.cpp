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
#include "service/paths.h"

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

// The settings after ProtectHome= that never depend on the paths; the
// packaged unit (packaging/velquarn.service) carries the same lines.
constexpr const char* kHardening =
    "PrivateTmp=yes\n"
    "PrivateDevices=yes\n"
    "ProtectKernelTunables=yes\n"
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "ProtectControlGroups=yes\n"
    "ProtectClock=yes\n"
    "ProtectHostname=yes\n"
    "ProtectProc=invisible\n"
    "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
    "RestrictNamespaces=yes\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "LockPersonality=yes\n"
    "MemoryDenyWriteExecute=yes\n"
    "RemoveIPC=yes\n"
    "CapabilityBoundingSet=\n"
    "AmbientCapabilities=\n"
    "SystemCallArchitectures=native\n"
    "SystemCallFilter=@system-service\n"
    // setrlimit (raising the open-file limit) is in @resources: it fails
    // with EPERM instead of killing the service, and LimitNOFILE= has
    // already set the limit.
    "SystemCallFilter=~@privileged @resources\n"
    "SystemCallErrorNumber=EPERM\n";

// A path setting such as ReadWritePaths= splits at blanks and expands "%"
// specifiers but not "$".
std::string QuotePath(const std::string& path) {
  bool plain = !path.empty();
  for (char c : path) plain = plain && c != ' ' && c != '\t' && c != '"' && c != '\\' && c != '%';
  if (plain) return path;
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool UnderHomeFolder(const std::string& path) {
  for (std::string_view home : {"/home/", "/root/", "/run/user/"}) {
    if (path.compare(0, home.size(), home) == 0) return true;
  }
  return false;
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
  const std::string config = config_path.empty() ? ConfigPathFor(executable) : config_path;
  const std::string folder = ParentFolder(config);
  // ProtectHome=yes hides /home, /root and /run/user entirely, which would
  // leave a service installed from there without its own files.
  const bool in_home = UnderHomeFolder(executable) || UnderHomeFolder(config);
  return std::string("[Unit]\n") + "Description=" + kServiceDisplayName + "\n" +
         "After=network.target\n" + "\n" + "[Service]\n" + "Type=notify\n" +
         "ExecStart=" + exec_start + "\n" + "ExecReload=/bin/kill -HUP $MAINPID\n" +
         "Restart=on-failure\n" + "User=" + kServiceUser + "\n" + "Group=" + kServiceUser + "\n" +
         "UMask=0027\n" + "LimitNOFILE=16384\n" + "NoNewPrivileges=yes\n" +
         "ProtectSystem=strict\n" + "ReadWritePaths=" + QuotePath(folder) + "\n" +
         "ProtectHome=" + (in_home ? "read-only" : "yes") + "\n" + kHardening + "\n" +
         "[Install]\n" + "WantedBy=multi-user.target\n";
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
