#include "protocol/ip_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include "protocol/socket.h"

namespace velquarn {
namespace {

TEST(IpAddress, Ipv4IsHeldInItsMappedForm) {
  const auto plain = ParseIpAddress("192.0.2.7");
  const auto mapped = ParseIpAddress("::ffff:192.0.2.7");
  ASSERT_TRUE(plain && mapped);
  EXPECT_EQ(*plain, *mapped);
  EXPECT_TRUE(plain->IsV4());
  EXPECT_EQ(plain->ToString(), "192.0.2.7");
  EXPECT_EQ(mapped->ToString(), "192.0.2.7");
}

TEST(IpAddress, Ipv6LiteralsWithAndWithoutBrackets) {
  const auto loopback = ParseIpAddress("::1");
  ASSERT_TRUE(loopback);
  EXPECT_FALSE(loopback->IsV4());
  EXPECT_EQ(loopback->ToString(), "::1");
  EXPECT_EQ(ParseIpAddress("[::1]"), loopback);
  EXPECT_EQ(ParseIpAddress("2001:DB8::1")->ToString(), "2001:db8::1");
}

TEST(IpAddress, RefusesEverythingButLiterals) {
  for (const char* text : {"", "localhost", "10.1", "010.0.0.1", "256.0.0.1", "1.2.3.4 ",
                           "[1.2.3.4]", "fe80::1%eth0", "::1/128", "1.2.3.4:80", "[::1"}) {
    EXPECT_FALSE(ParseIpAddress(text)) << text;
  }
}

TEST(IpAddress, SockAddrRoundTripKeepsFamilyAndPort) {
  sockaddr_storage storage{};
  const auto v4 = ParseIpAddress("127.0.0.2");
  EXPECT_EQ(v4->ToSockAddr(8888, storage), sizeof(sockaddr_in));
  EXPECT_EQ(storage.ss_family, AF_INET);
  EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port), 8888);
  EXPECT_EQ(IpAddressOf(storage), v4);
  const auto v6 = ParseIpAddress("2001:db8::5");
  EXPECT_EQ(v6->ToSockAddr(1, storage), sizeof(sockaddr_in6));
  EXPECT_EQ(storage.ss_family, AF_INET6);
  EXPECT_EQ(IpAddressOf(storage), v6);
  storage.ss_family = AF_UNIX;
  EXPECT_FALSE(IpAddressOf(storage));
}

TEST(IpAddress, PeerOfALoopbackConnectionFromASecondLoopbackAddress) {
  TSocket listener = ListenOn(TBinding(*ParseIpAddress("127.0.0.1")), 0, 4);
  const uint16_t port = LocalPort(listener);
  TSocket client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_storage source{};
  socklen_t source_length = ParseIpAddress("127.0.0.2")->ToSockAddr(0, source);
  ASSERT_EQ(::bind(client.Fd(), reinterpret_cast<sockaddr*>(&source), source_length), 0);
  sockaddr_storage target{};
  socklen_t target_length = ParseIpAddress("127.0.0.1")->ToSockAddr(port, target);
  ASSERT_EQ(::connect(client.Fd(), reinterpret_cast<sockaddr*>(&target), target_length), 0);
  TSocket accepted(::accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_TRUE(accepted.Valid());
  EXPECT_EQ(PeerAddressOf(accepted.Fd())->ToString(), "127.0.0.2");
  EXPECT_FALSE(PeerAddressOf(listener.Fd()));  // not connected
}

}  // namespace
}  // namespace velquarn
