#include "service/http_request.h"

#include <gtest/gtest.h>

#include <string>

namespace velquarn {
namespace {

TEST(HttpRequestHead, WaitsForTheBlankLineThenGivesMethodAndPath) {
  TRequestHead head;
  EXPECT_EQ(ParseRequestHead("GET /metrics HTTP/1.1\r\nHost: x\r\n", head),
            THeadState::kIncomplete);
  ASSERT_EQ(ParseRequestHead("GET /metrics?x=1 HTTP/1.1\r\nHost: x\r\n\r\n", head),
            THeadState::kComplete);
  EXPECT_EQ(head.method, "GET");
  EXPECT_EQ(head.path, "/metrics");
  ASSERT_EQ(ParseRequestHead("HEAD /status HTTP/1.0\n\n", head), THeadState::kComplete);
  EXPECT_EQ(head.method, "HEAD");
  EXPECT_EQ(head.path, "/status");
}

TEST(HttpRequestHead, RefusesBadRequestLines) {
  TRequestHead head;
  for (const char* bad : {"GET\r\n\r\n", "GET /metrics\r\n\r\n", "GET metrics HTTP/1.1\r\n\r\n",
                          "GET /a b HTTP/1.1\r\n\r\n", "G{T / HTTP/1.1\r\n\r\n",
                          "GET / SPDY/3\r\n\r\n", "\r\n\r\n"}) {
    EXPECT_EQ(ParseRequestHead(bad, head), THeadState::kMalformed) << bad;
  }
}

TEST(HttpRequestHead, AHeadOverTheLimitIsTooLargeWhetherOrNotItEnded) {
  TRequestHead head;
  const std::string long_line = "GET /" + std::string(100, 'a') + " HTTP/1.1\r\n\r\n";
  EXPECT_EQ(ParseRequestHead(long_line, head, 64), THeadState::kTooLarge);
  EXPECT_EQ(ParseRequestHead(std::string(64, 'a'), head, 64), THeadState::kTooLarge);
  EXPECT_EQ(ParseRequestHead(std::string(63, 'a'), head, 64), THeadState::kIncomplete);
  const std::string fits = "GET / HTTP/1.1\r\n\r\n";
  EXPECT_EQ(ParseRequestHead(fits, head, fits.size()), THeadState::kComplete);
}

TEST(HttpResponse, CarriesLengthTypeAndCloseAndOmitsTheBodyForHead) {
  EXPECT_EQ(FormatHttpResponse(404, "text/plain", "Not Found\n"),
            "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n"
            "Connection: close\r\n\r\nNot Found\n");
  EXPECT_EQ(FormatHttpResponse(200, "a/b", "xyz", true),
            "HTTP/1.1 200 OK\r\nContent-Type: a/b\r\nContent-Length: 3\r\n"
            "Connection: close\r\n\r\n");
}

}  // namespace
}  // namespace velquarn
