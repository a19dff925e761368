#include "service/http_fetch.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/local_http_server.h"

namespace velquarn {
namespace {

using testing::TLocalHttpServer;
using testing::UnusedLocalPort;

TEST(HttpGet, SendsOurHeadersAndKeepsTheBodyAsRawBytes) {
  TLocalHttpServer server;
  const std::string body("a\0\xE5\xFF\r\nb", 7);
  server.SetReply(200, "OK", body);
  const THttpResult result = HttpGet(server.Url("/list.txt"));
  ASSERT_TRUE(result.Succeeded()) << result.error;
  EXPECT_EQ(result.body, body);
  const std::string request = server.LastRequest();
  EXPECT_EQ(request.rfind("GET /list.txt HTTP/1.1\r\n", 0), 0u) << request;
  EXPECT_NE(request.find(
                "\r\nAccept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"),
            std::string::npos)
      << request;
  EXPECT_NE(request.find("\r\nUser-Agent: Velquarn/2.1\r\n"), std::string::npos) << request;
}

TEST(HttpGet, FollowsRedirectsWithTheirCookies) {
  TLocalHttpServer target;
  target.SetReply(200, "OK", "moved list");
  TLocalHttpServer origin;
  origin.SetReply(302, "Found", "",
                  {"Location: " + target.Url("/real"), "Set-Cookie: session=abc; Path=/"});
  const THttpResult result = HttpGet(origin.Url("/list"));
  EXPECT_EQ(result.status, 200) << result.error;
  EXPECT_EQ(result.reason, "OK");
  EXPECT_EQ(result.body, "moved list");
  EXPECT_NE(target.LastRequest().find("\r\nCookie: session=abc\r\n"), std::string::npos)
      << target.LastRequest();
}

TEST(HttpGet, StopsAfterFiveRedirects) {
  TLocalHttpServer loop;
  loop.SetReply(302, "Found", "", {"Location: " + loop.Url("/again")});
  const THttpResult result = HttpGet(loop.Url());
  EXPECT_FALSE(result.Responded());
  EXPECT_FALSE(result.error.empty());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(loop.RequestCount(), kHttpMaxRedirects + 1);
}

TEST(HttpGet, IgnoresProxyVariables) {
  TLocalHttpServer server;
  server.SetReply(200, "OK", "direct");
  const std::string dead_proxy = "http://127.0.0.1:" + std::to_string(UnusedLocalPort());
  ::setenv("http_proxy", dead_proxy.c_str(), 1);
  ::setenv("HTTP_PROXY", dead_proxy.c_str(), 1);
  ::setenv("no_proxy", "", 1);
  const THttpResult result = HttpGet(server.Url());
  ::unsetenv("http_proxy");
  ::unsetenv("HTTP_PROXY");
  ::unsetenv("no_proxy");
  EXPECT_EQ(result.body, "direct") << result.error;
}

TEST(HttpGet, RefusesAnOversizedBody) {
  TLocalHttpServer server;
  server.SetReply(200, "OK", std::string(kHttpMaxBodyBytes + 1, 'x'));
  const THttpResult result = HttpGet(server.Url());
  EXPECT_FALSE(result.Responded());
  EXPECT_TRUE(result.body.empty());
  EXPECT_NE(result.error.find("larger than"), std::string::npos) << result.error;
}

}  // namespace
}  // namespace velquarn
