#include "service/worker_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "protocol/connection_errors.h"

namespace velquarn {

namespace {

constexpr size_t kHeaderSize = 4;

void EncodeLength(uint32_t length, char* out) {
  out[0] = static_cast<char>(length >> 24);
  out[1] = static_cast<char>(length >> 16);
  out[2] = static_cast<char>(length >> 8);
  out[3] = static_cast<char>(length);
}

uint32_t DecodeLength(const char* in) {
  auto byte = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(in[i])); };
  return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

// Reads exactly size bytes; a descriptor passed along is stored in fd.
// False when the peer closed first.
bool ReadExactly(int channel, char* data, size_t size, int* fd) {
  size_t done = 0;
  while (done < size) {
    iovec vector{data + done, size - done};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr header{};
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    const ssize_t got = ::recvmsg(channel, &header, MSG_CMSG_CLOEXEC);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    for (cmsghdr* item = CMSG_FIRSTHDR(&header); item != nullptr;
         item = CMSG_NXTHDR(&header, item)) {
      if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_RIGHTS) {
        int received = -1;
        std::memcpy(&received, CMSG_DATA(item), sizeof(received));
        if (fd != nullptr && *fd < 0) {
          *fd = received;
        } else {
          ::close(received);
        }
      }
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

void MakeWorkerChannel(TSocket& service_end, TSocket& worker_end) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    throw ESocketError(errno, "socketpair");
  }
  service_end = TSocket(ends[0]);
  worker_end = TSocket(ends[1]);
}

void SendWorkerMessage(int channel, TWorkerMessageKind kind, std::string_view text, int pass_fd) {
  if (text.size() + 1 > kMaxWorkerMessage) throw ESocketError(EMSGSIZE, "worker message");
  std::string bytes(kHeaderSize + 1, '\0');
  EncodeLength(static_cast<uint32_t>(text.size() + 1), bytes.data());
  bytes[kHeaderSize] = static_cast<char>(kind);
  bytes.append(text);
  size_t done = 0;
  bool attach = pass_fd >= 0;
  while (done < bytes.size()) {
    iovec vector{bytes.data() + done, bytes.size() - done};
    msghdr header{};
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (attach) {
      header.msg_control = control;
      header.msg_controllen = sizeof(control);
      cmsghdr* item = CMSG_FIRSTHDR(&header);
      item->cmsg_level = SOL_SOCKET;
      item->cmsg_type = SCM_RIGHTS;
      item->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(item), &pass_fd, sizeof(int));
    }
    const ssize_t sent = ::sendmsg(channel, &header, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      throw ESocketError(errno, "sendmsg");
    }
    attach = false;
    done += static_cast<size_t>(sent);
  }
}

TWorkerReceive ReceiveWorkerMessage(int channel, int timeout_ms, TWorkerMessage& message) {
  pollfd poll_fd{channel, POLLIN, 0};
  const int ready = ::poll(&poll_fd, 1, timeout_ms);
  if (ready < 0 && errno != EINTR) return TWorkerReceive::kClosed;
  if (ready <= 0) return TWorkerReceive::kTimeout;
  char header[kHeaderSize];
  int fd = -1;
  if (!ReadExactly(channel, header, kHeaderSize, &fd)) return TWorkerReceive::kClosed;
  TSocket passed(fd);
  const uint32_t length = DecodeLength(header);
  if (length == 0 || length > kMaxWorkerMessage) return TWorkerReceive::kClosed;
  std::string body(length, '\0');
  if (!ReadExactly(channel, body.data(), length, &fd)) return TWorkerReceive::kClosed;
  if (fd != passed.Fd()) passed = TSocket(fd);
  message.kind = static_cast<TWorkerMessageKind>(body[0]);
  message.text = body.substr(1);
  message.socket = std::move(passed);
  return TWorkerReceive::kMessage;
}

}  // namespace velquarn
