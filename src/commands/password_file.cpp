#include "commands/password_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/cp1252.h"
#include "common/exceptions.h"
#include "common/file_descriptor.h"
#include "common/text.h"

namespace velquarn {

namespace {

// The first line is all that is wanted; a password file is small.
constexpr size_t kMaxPasswordFileBytes = 64 * 1024;

}  // namespace

std::string ResolvePasswordFilePath(std::string_view path, std::string_view config_path) {
  const std::filesystem::path file(path);
  if (file.is_absolute()) return file.string();
  const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
  if (credentials != nullptr && *credentials != '\0') {
    return (std::filesystem::path(credentials) / file).string();
  }
  return (std::filesystem::path(config_path).parent_path() / file).string();
}

std::string ReadPasswordFile(const std::string& path) {
  TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (file.Get() < 0) {
    throw Exception(
        Format("PasswordFile %s cannot be opened: %s", path.c_str(), std::strerror(errno)));
  }
  // The mode of the opened file, not of the path, so that nothing can be
  // swapped in between the check and the read.
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    throw Exception(Format("PasswordFile %s is not a regular file", path.c_str()));
  }
  if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    throw Exception(
        Format("PasswordFile %s is readable by group or others (mode %04o); allow its owner only, "
               "chmod 600",
               path.c_str(), static_cast<unsigned>(status.st_mode & 07777)));
  }
  std::string text;
  char buffer[4096];
  while (text.size() < kMaxPasswordFileBytes) {
    const ssize_t got = ::read(file.Get(), buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      throw Exception(
          Format("PasswordFile %s cannot be read: %s", path.c_str(), std::strerror(errno)));
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.find('\n') != std::string::npos) break;
  }
  const size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return Utf8ToCp1252(text);
}

}  // namespace velquarn
