#include "service/paths.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/exceptions.h"

namespace velquarn {

namespace {

std::string ReplaceExtension(std::string_view path, std::string_view extension) {
  size_t slash = path.rfind('/');
  size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  // A leading dot names a hidden file; it is no extension.
  if (dot == std::string_view::npos || dot <= name_start) {
    return std::string(path) + std::string(extension);
  }
  return std::string(path.substr(0, dot)) + std::string(extension);
}

}  // namespace

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length < 0) {
    throw Exception(std::string("Cannot read /proc/self/exe: ") + std::strerror(errno));
  }
  return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string ConfigPathFor(std::string_view executable) {
  return ReplaceExtension(executable, ".ini");
}

std::string LogPathFor(std::string_view config_path) {
  return ReplaceExtension(config_path, ".log");
}

std::string AbsolutePath(std::string_view path) {
  if (!path.empty() && path[0] == '/') return std::string(path);
  std::vector<char> buffer(4096);
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return std::string(path);
  return std::string(buffer.data()) + "/" + std::string(path);
}

}  // namespace velquarn
