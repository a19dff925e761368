#include <gtest/gtest.h>

#include <vector>

#include "client/velquarn_client.h"
#include "e2e/e2e_options.h"

namespace velquarn::testing {
namespace {

TEST(MaxConnectionsE2E, ConnectionBeyond2000IsRefusedWhileOthersWork) {
  constexpr int kMax = 2000;
  // Our 2001 client sockets plus the test program's own descriptors.
  if (RaiseOpenFileLimit(kMax + 200) < kMax + 100) {
    GTEST_SKIP() << "the open-file limit cannot be raised far enough";
  }
  TVelquarnProcess server(VelquarnOptions());
  // In process isolation every connection starts a worker process, a few at
  // a time: the last of a burst of 2000 is greeted about a minute later.
  const int read_timeout_ms = IsolationUnderTest() == "process" ? 180000 : 15000;
  std::vector<TVelquarnClient> clients(kMax);
  // Connect all first, then read the greetings: the server accepts in the
  // background while the backlog holds the rest.
  for (auto& client : clients) {
    client.SetReadTimeoutMs(read_timeout_ms);
    client.Connect("127.0.0.1", server.Port());
  }
  for (size_t i = 0; i < clients.size(); ++i) {
    ASSERT_EQ(clients[i].ReadLine(), "200 Velquarn 2.1") << "client " << i;
  }
  TVelquarnClient refused;
  refused.SetReadTimeoutMs(15000);
  refused.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(refused.ReadLine(), "300 Max connections reached");
  EXPECT_TRUE(refused.WaitForClose(5000));

  for (size_t i = 0; i < clients.size(); i += 97) {
    EXPECT_EQ(clients[i].Command("test").Code, 200) << "client " << i;
  }
  EXPECT_EQ(clients.back().Command("test").Code, 200);
}

}  // namespace
}  // namespace velquarn::testing
