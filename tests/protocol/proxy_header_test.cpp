#include "protocol/proxy_header.h"

#include <gtest/gtest.h>

#include <string>

namespace velquarn {
namespace {

const std::string kV2Signature("\x0D\x0A\x0D\x0A\x00\x0D\x0A\x51\x55\x49\x54\x0A", 12);

std::string V2(char version_command, char family, const std::string& block) {
  std::string bytes = kV2Signature;
  bytes += version_command;
  bytes += family;
  bytes += static_cast<char>(block.size() >> 8);
  bytes += static_cast<char>(block.size() & 0xFF);
  return bytes + block;
}

TProxyParse Parse(const std::string& bytes, TProxyHeader& header) {
  return ParseProxyHeader(bytes, header);
}

TEST(ProxyHeader, VersionOneGivesTheClientAndLeavesTheCommandsAfterIt) {
  TProxyHeader header;
  const std::string line = "PROXY TCP4 198.51.100.7 127.0.0.1 51000 8888\r\n";
  ASSERT_EQ(Parse(line + "test\r\n", header), TProxyParse::kComplete);
  EXPECT_EQ(header.length, line.size());
  ASSERT_TRUE(header.source);
  EXPECT_EQ(header.source->ToString(), "198.51.100.7");
  EXPECT_EQ(header.source_port, 51000);

  ASSERT_EQ(Parse("PROXY TCP6 2001:db8::7 ::1 65535 8888\r\n", header), TProxyParse::kComplete);
  EXPECT_EQ(header.source->ToString(), "2001:db8::7");
  EXPECT_EQ(header.source_port, 65535);

  // A balancer that cannot tell the client's address.
  ASSERT_EQ(Parse("PROXY UNKNOWN\r\n", header), TProxyParse::kComplete);
  EXPECT_FALSE(header.source);
  EXPECT_EQ(header.length, 15u);
}

TEST(ProxyHeader, VersionOneRefusesWhatABalancerDoesNotWrite) {
  TProxyHeader header;
  for (const std::string& bad : std::initializer_list<std::string>{
           "test\r\n",                                            // a client, no header
           "PROXY TCP4 198.51.100.7 127.0.0.1 51000\r\n",         // a field missing
           "PROXY TCP4 198.51.100.7 127.0.0.1 51000 8888 x\r\n",  // one too many
           "PROXY TCP4 198.51.100.7 127.0.0.1 051000 8888\r\n",   // leading zero
           "PROXY TCP4 198.51.100.7 127.0.0.1 65536 8888\r\n",    // port out of range
           "PROXY TCP4 198.51.100.7 127.0.0.1 -1 8888\r\n",       // signed port
           "PROXY TCP4 2001:db8::7 127.0.0.1 1 8888\r\n",         // family mismatch
           "PROXY TCP6 ::ffff:198.51.100.7 ::1 1 8888\r\n",       // mapped form in TCP6
           "PROXY TCP6 [2001:db8::7] ::1 1 8888\r\n",             // brackets
           "PROXY TCP4 host.example 127.0.0.1 1 8888\r\n",        // a name
           "PROXY TCP4  198.51.100.7 127.0.0.1 1 8888\r\n",       // double blank
           "PROXY TCP4 198.51.100.7 127.0.0.1 1 8888\n",          // LF alone
           "PROXY UDP4 198.51.100.7 127.0.0.1 1 8888\r\n",
           "PROXY UNKNOWN a\nb\r\n",  // a bare LF inside the line        // not TCP
           "PROXY " + std::string(120, '1') + "\r\n",  // over 107 bytes
       }) {
    EXPECT_EQ(Parse(bad, header), TProxyParse::kInvalid) << bad;
  }
  // Refused as soon as the line has run past the longest header.
  EXPECT_EQ(Parse("PROXY " + std::string(101, '1'), header), TProxyParse::kInvalid);
}

TEST(ProxyHeader, PartialHeadersWaitForMore) {
  TProxyHeader header;
  const std::string v1 = "PROXY TCP4 198.51.100.7 127.0.0.1 51000 8888\r\n";
  const std::string v2 =
      V2('\x21', '\x11', std::string("\xC6\x33\x64\x07\x7F\x00\x00\x01\xC7\x38\x22\xB8", 12));
  for (const std::string& whole : {v1, v2}) {
    for (size_t size = 0; size < whole.size(); ++size) {
      EXPECT_EQ(Parse(whole.substr(0, size), header), TProxyParse::kNeedMore) << size;
    }
    EXPECT_EQ(Parse(whole, header), TProxyParse::kComplete);
  }
  // A first byte that starts neither version is refused at once.
  EXPECT_EQ(Parse("t", header), TProxyParse::kInvalid);
  EXPECT_EQ(Parse("PROXX", header), TProxyParse::kInvalid);
}

TEST(ProxyHeader, VersionTwoAddressesAndLocalChecks) {
  TProxyHeader header;
  // PROXY over TCP/IPv4: 198.51.100.7:51000 -> 127.0.0.1:8888, then two
  // bytes of an extension that are skipped.
  const std::string v4 = V2('\x21', '\x11',
                            std::string("\xC6\x33\x64\x07\x7F\x00\x00\x01\xC7\x38\x22\xB8"
                                        "\x04\x00",
                                        14));
  ASSERT_EQ(Parse(v4 + "test\r\n", header), TProxyParse::kComplete);
  EXPECT_EQ(header.length, v4.size());
  EXPECT_EQ(header.source->ToString(), "198.51.100.7");
  EXPECT_EQ(header.source_port, 51000);

  std::string block(36, '\0');
  block[0] = '\x20';
  block[1] = '\x01';
  block[2] = '\x0d';
  block[3] = '\xb8';
  block[15] = '\x07';
  block[31] = '\x01';
  block[32] = '\x01';
  block[33] = '\x02';
  ASSERT_EQ(Parse(V2('\x21', '\x21', block), header), TProxyParse::kComplete);
  EXPECT_EQ(header.source->ToString(), "2001:db8::7");
  EXPECT_EQ(header.source_port, 258);

  // LOCAL (a health check of the balancer itself) and UNSPEC carry none.
  ASSERT_EQ(Parse(V2('\x20', '\x00', ""), header), TProxyParse::kComplete);
  EXPECT_FALSE(header.source);
  EXPECT_EQ(header.length, 16u);
  ASSERT_EQ(Parse(V2('\x21', '\x00', ""), header), TProxyParse::kComplete);
  EXPECT_FALSE(header.source);
}

TEST(ProxyHeader, VersionTwoRefusesBadHeaders) {
  TProxyHeader header;
  EXPECT_EQ(Parse(V2('\x11', '\x11', std::string(12, '\0')), header), TProxyParse::kInvalid);
  EXPECT_EQ(Parse(V2('\x22', '\x11', std::string(12, '\0')), header), TProxyParse::kInvalid);
  // An address block shorter than its family needs.
  EXPECT_EQ(Parse(V2('\x21', '\x11', std::string(11, '\0')), header), TProxyParse::kInvalid);
  EXPECT_EQ(Parse(V2('\x21', '\x21', std::string(35, '\0')), header), TProxyParse::kInvalid);
  // A length beyond the bound is refused before its bytes are awaited.
  std::string huge = kV2Signature + std::string("\x21\x11\xFF\xFF", 4);
  EXPECT_EQ(Parse(huge, header), TProxyParse::kInvalid);
}

}  // namespace
}  // namespace velquarn
