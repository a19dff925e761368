#include "service/worker_channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace velquarn {
namespace {

TEST(WorkerChannel, MessagesArriveWholeWithTheirDescriptor) {
  TSocket service;
  TSocket worker;
  MakeWorkerChannel(service, worker);
  int pipe_ends[2];
  ASSERT_EQ(::pipe2(pipe_ends, O_CLOEXEC), 0);
  TSocket read_end(pipe_ends[0]);
  TSocket write_end(pipe_ends[1]);

  // A message larger than the socket buffer, written while it is read.
  const std::string big(3 * 1024 * 1024, 'x');
  std::thread sender([&] {
    SendWorkerMessage(service.Fd(), TWorkerMessageKind::kHandOff, "1\tpeer\n" + big,
                      write_end.Fd());
    SendWorkerMessage(service.Fd(), TWorkerMessageKind::kBegin, "");
  });
  TWorkerMessage message;
  ASSERT_EQ(ReceiveWorkerMessage(worker.Fd(), 5000, message), TWorkerReceive::kMessage);
  sender.join();
  EXPECT_EQ(message.kind, TWorkerMessageKind::kHandOff);
  EXPECT_EQ(message.text, "1\tpeer\n" + big);
  ASSERT_TRUE(message.socket.Valid());
  EXPECT_NE(message.socket.Fd(), write_end.Fd());
  EXPECT_NE(::fcntl(message.socket.Fd(), F_GETFD) & FD_CLOEXEC, 0);
  // The passed descriptor is the same pipe.
  ASSERT_EQ(::write(message.socket.Fd(), "!", 1), 1);
  char got = 0;
  ASSERT_EQ(::read(read_end.Fd(), &got, 1), 1);
  EXPECT_EQ(got, '!');

  ASSERT_EQ(ReceiveWorkerMessage(worker.Fd(), 5000, message), TWorkerReceive::kMessage);
  EXPECT_EQ(message.kind, TWorkerMessageKind::kBegin);
  EXPECT_EQ(message.text, "");
  EXPECT_FALSE(message.socket.Valid());
}

TEST(WorkerChannel, SilenceTimesOutAndAClosedOrGarbledPeerReadsAsClosed) {
  TSocket service;
  TSocket worker;
  MakeWorkerChannel(service, worker);
  TWorkerMessage message;
  EXPECT_EQ(ReceiveWorkerMessage(worker.Fd(), 20, message), TWorkerReceive::kTimeout);

  // A length of zero is no message.
  const char zero[4] = {0, 0, 0, 0};
  ASSERT_EQ(::send(service.Fd(), zero, sizeof(zero), 0), 4);
  EXPECT_EQ(ReceiveWorkerMessage(worker.Fd(), 1000, message), TWorkerReceive::kClosed);

  TSocket service2;
  TSocket worker2;
  MakeWorkerChannel(service2, worker2);
  // A header that promises more than a message may hold.
  const char huge[4] = {0x7f, 0, 0, 0};
  ASSERT_EQ(::send(service2.Fd(), huge, sizeof(huge), 0), 4);
  EXPECT_EQ(ReceiveWorkerMessage(worker2.Fd(), 1000, message), TWorkerReceive::kClosed);

  // A message cut off by the peer's end.
  TSocket service3;
  TSocket worker3;
  MakeWorkerChannel(service3, worker3);
  const char partial[6] = {0, 0, 0, 9, 'D', 'x'};
  ASSERT_EQ(::send(service3.Fd(), partial, sizeof(partial), 0), 6);
  service3.Close();
  EXPECT_EQ(ReceiveWorkerMessage(worker3.Fd(), 1000, message), TWorkerReceive::kClosed);
  EXPECT_THROW(SendWorkerMessage(worker3.Fd(), TWorkerMessageKind::kDone, "x"), std::exception);
}

}  // namespace
}  // namespace velquarn
