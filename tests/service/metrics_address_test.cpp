#include "service/metrics_address.h"

#include <gtest/gtest.h>

#include <string>

#include "common/exceptions.h"

namespace velquarn {
namespace {

TEST(MetricsAddress, TakesIPv4AndBracketedIPv6WithAPort) {
  EXPECT_FALSE(ParseMetricsAddress("  ").has_value());
  const auto v4 = ParseMetricsAddress(" 127.0.0.1:9188 ");
  ASSERT_TRUE(v4.has_value());
  EXPECT_EQ(v4->address.ToString(), "127.0.0.1");
  EXPECT_EQ(v4->port, 9188);
  const auto v6 = ParseMetricsAddress("[::1]:9188");
  ASSERT_TRUE(v6.has_value());
  EXPECT_EQ(v6->address.ToString(), "::1");
  EXPECT_EQ(v6->port, 9188);
}

TEST(MetricsAddress, RefusesAnythingElseNamingTheKey) {
  for (const char* bad :
       {"localhost:9188", "127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536",
        "127.0.0.1:91x", "::1:9188", "9188", ":9188", "[::1]", "127.0.0.1:-1"}) {
    try {
      ParseMetricsAddress(bad);
      ADD_FAILURE() << bad << " was accepted";
    } catch (const Exception& error) {
      EXPECT_NE(std::string(error.what()).find("Settings/MetricsAddress"), std::string::npos)
          << error.what();
    }
  }
}

}  // namespace
}  // namespace velquarn
