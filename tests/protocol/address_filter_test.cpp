#include "protocol/address_filter.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"

namespace velquarn {
namespace {

std::optional<TIpAddress> Ip(const char* text) { return ParseIpAddress(text); }

bool Allows(const char* list, const char* peer) {
  return TAddressFilter::Parse("AllowFrom", list).Allows(Ip(peer));
}

TEST(AddressFilter, EmptyListAllowsEveryPeerEvenAnUnknownOne) {
  const TAddressFilter filter = TAddressFilter::Parse("AllowFrom", "   ");
  EXPECT_TRUE(filter.Empty());
  EXPECT_TRUE(filter.Allows(Ip("203.0.113.9")));
  EXPECT_TRUE(filter.Allows(std::nullopt));
}

TEST(AddressFilter, Ipv4AddressesAndRanges) {
  EXPECT_TRUE(Allows("127.0.0.1/32", "127.0.0.1"));
  EXPECT_FALSE(Allows("127.0.0.1/32", "127.0.0.2"));
  EXPECT_TRUE(Allows("127.0.0.1", "127.0.0.1"));
  EXPECT_TRUE(Allows("10.0.0.0/8", "10.255.1.2"));
  EXPECT_FALSE(Allows("10.0.0.0/8", "11.0.0.0"));
  EXPECT_TRUE(Allows("192.168.1.128/25", "192.168.1.200"));
  EXPECT_FALSE(Allows("192.168.1.128/25", "192.168.1.127"));
  EXPECT_TRUE(Allows("0.0.0.0/0", "198.51.100.1"));
  EXPECT_FALSE(Allows("0.0.0.0/0", "::1"));       // every IPv4 peer, no IPv6 one
  EXPECT_TRUE(Allows("10.1.2.3/8", "10.9.9.9"));  // host bits cleared
  EXPECT_FALSE(Allows("127.0.0.1", "203.0.113.9"));
}

TEST(AddressFilter, Ipv6Ranges) {
  EXPECT_TRUE(Allows("::1", "::1"));
  EXPECT_FALSE(Allows("::1", "::2"));
  EXPECT_TRUE(Allows("2001:db8::/32", "2001:db8:ffff::1"));
  EXPECT_FALSE(Allows("2001:db8::/32", "2001:db9::1"));
  EXPECT_TRUE(Allows("fe80::/10", "febf::1"));
  EXPECT_FALSE(Allows("fe80::/10", "fec0::1"));
  EXPECT_TRUE(Allows("::/0", "2001:db8::1"));
  EXPECT_TRUE(Allows("::/0", "10.0.0.1"));  // the mapped IPv4 addresses lie in ::/0 too
  EXPECT_FALSE(Allows("2001:db8::/32", "10.0.0.1"));
}

TEST(AddressFilter, MappedIpv4PeersMeetIpv4Entries) {
  EXPECT_TRUE(Allows("127.0.0.0/8", "::ffff:127.0.0.5"));
  EXPECT_TRUE(Allows("::ffff:127.0.0.0/104", "127.0.0.5"));
  EXPECT_TRUE(Allows("::ffff:0:0/96", "203.0.113.9"));
  EXPECT_FALSE(Allows("::ffff:0:0/96", "2001:db8::1"));
}

TEST(AddressFilter, ListWithBlanksAndSeveralFamilies) {
  const TAddressFilter filter =
      TAddressFilter::Parse("AllowFrom", " 127.0.0.1 , ::1,, 2001:db8::/48 ,");
  ASSERT_EQ(filter.Ranges().size(), 3u);
  EXPECT_EQ(filter.Ranges()[0].ToString(), "127.0.0.1/32");
  EXPECT_EQ(filter.Ranges()[2].ToString(), "2001:db8::/48");
  EXPECT_TRUE(filter.Allows(Ip("::1")));
  EXPECT_TRUE(filter.Allows(Ip("2001:db8:0:1::9")));
  EXPECT_FALSE(filter.Allows(Ip("2001:db8:1::9")));
  EXPECT_FALSE(filter.Allows(std::nullopt));
}

TEST(AddressFilter, UnparsableEntriesNameKeyAndValue) {
  for (const char* bad : {"10.0.0.300", "10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0.0/-1",
                          "10.0.0.0/8x", "localhost", "127.0.0.1 127.0.0.2", "*"}) {
    try {
      TAddressFilter::Parse("AdminFrom", std::string("127.0.0.1,") + bad);
      ADD_FAILURE() << bad << " was accepted";
    } catch (const Exception& error) {
      EXPECT_EQ(std::string(error.what()), "Settings/AdminFrom: '" + std::string(bad) +
                                               "' is not an IP address or CIDR range (nor "
                                               "CN=name)");
    }
  }
  // A value that is there but names nothing must not become "everyone".
  EXPECT_THROW(TAddressFilter::Parse("AllowFrom", " , ,"), Exception);
}

// Certificate names allow a TLS client from anywhere; they never stand in
// for an address, and a bare "CN=" names nobody.
TEST(AddressFilter, CertificateNamesAllowByNameOnly) {
  const TAddressFilter filter = TAddressFilter::Parse("AllowFrom", "10.0.0.0/8, cn=alice");
  ASSERT_EQ(filter.CommonNames(), std::vector<std::string>{"alice"});
  EXPECT_TRUE(filter.Allows(Ip("192.0.2.1"), "alice"));
  EXPECT_TRUE(filter.Allows(std::nullopt, "alice"));
  EXPECT_FALSE(filter.Allows(Ip("192.0.2.1"), "Alice"));
  EXPECT_FALSE(filter.Allows(Ip("192.0.2.1")));
  EXPECT_TRUE(filter.Allows(Ip("10.1.2.3"), "mallory"));
  const TAddressFilter names_only = TAddressFilter::Parse("AdminFrom", "CN=ops");
  EXPECT_FALSE(names_only.Empty());
  EXPECT_FALSE(names_only.Allows(Ip("127.0.0.1")));
  EXPECT_THROW(TAddressFilter::Parse("AdminFrom", "CN="), Exception);
}

TEST(ListenAddresses, StarAndBlankListenEverywhereAsBefore) {
  auto bindings = ParseListenAddresses("ListenAddress", "", false);
  ASSERT_EQ(bindings.size(), 1u);
  EXPECT_EQ(bindings[0].ToString(), "0.0.0.0");
  bindings = ParseListenAddresses("ListenAddress", "*", true);
  ASSERT_EQ(bindings.size(), 2u);
  EXPECT_EQ(bindings[1].ToString(), "[::]");
}

TEST(ListenAddresses, LiteralsInOrderWithoutRepeats) {
  const auto bindings =
      ParseListenAddresses("ListenAddress", "127.0.0.1, ::1 ,127.0.0.1,[::1]", false);
  ASSERT_EQ(bindings.size(), 2u);
  EXPECT_EQ(bindings[0].ToString(), "127.0.0.1");
  EXPECT_EQ(bindings[0].family, TAddressFamily::kIPv4);
  EXPECT_EQ(bindings[1].ToString(), "[::1]");
  EXPECT_EQ(bindings[1].family, TAddressFamily::kIPv6);
}

TEST(ListenAddresses, UnparsableEntryNamesKeyAndValue) {
  try {
    ParseListenAddresses("ListenAddress", "127.0.0.1,my-host", false);
    ADD_FAILURE();
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Settings/ListenAddress: 'my-host' is not an IP address or '*'");
  }
  EXPECT_THROW(ParseListenAddresses("ListenAddress", "10.0.0.0/8", false), Exception);
  EXPECT_THROW(ParseListenAddresses("ListenAddress", ",", false), Exception);
}

}  // namespace
}  // namespace velquarn
