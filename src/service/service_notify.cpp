#include "service/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace velquarn {

bool NotifyServiceManager(std::string_view state) noexcept {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr || name[0] == '\0') return true;
  size_t length = std::strlen(name);
  sockaddr_un address{};
  if (length >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, name, length);
  // "@name" is a socket in the abstract namespace: a leading zero byte.
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
  socklen_t address_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ssize_t sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                          reinterpret_cast<sockaddr*>(&address), address_length);
  ::close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

}  // namespace velquarn
