// The control page's rules on headers, and the wrong-password count over
// time, which the HTTP suite cannot wait a minute for.

#include <gtest/gtest.h>

#include "web/request_rules.hpp"

namespace {

TEST(RequestRules, LoopbackHostsWithTheirPortOrNone) {
  for (const char* host : {"localhost", "LOCALHOST:8080", "127.0.0.1:8080", "[::1]", "[::1]:8080"})
    EXPECT_TRUE(isLoopbackHost(host, 8080)) << host;
  for (const char* host : {"", "localhost:8081", "localhost:", "localhost.example", "127.0.0.2:8080",
                           "::1", "evil.example:8080", "localhost:80800"})
    EXPECT_FALSE(isLoopbackHost(host, 8080)) << host;
}

TEST(RequestRules, OriginMustBeTheHostWithTheServersScheme) {
  EXPECT_TRUE(originMatchesHost("http://127.0.0.1:8080", "127.0.0.1:8080", false));
  EXPECT_TRUE(originMatchesHost("https://lights.example", "lights.example", true));
  EXPECT_FALSE(originMatchesHost("https://127.0.0.1:8080", "127.0.0.1:8080", false));
  EXPECT_FALSE(originMatchesHost("http://127.0.0.1:8080", "127.0.0.1:8080", true));
  EXPECT_FALSE(originMatchesHost("http://evil.example", "127.0.0.1:8080", false));
  EXPECT_FALSE(originMatchesHost("null", "127.0.0.1:8080", false));
}

TEST(RequestRules, JsonContentTypeWithOrWithoutParameters) {
  EXPECT_TRUE(isJsonContentType("application/json"));
  EXPECT_TRUE(isJsonContentType("Application/JSON; charset=utf-8"));
  EXPECT_FALSE(isJsonContentType("text/plain"));
  EXPECT_FALSE(isJsonContentType("application/jsonp"));
  EXPECT_FALSE(isJsonContentType(""));
}

TEST(RequestRules, SameSecretOnlyWhenEqual) {
  EXPECT_TRUE(sameSecret("s3cret", "s3cret"));
  EXPECT_FALSE(sameSecret("s3cre", "s3cret"));
  EXPECT_FALSE(sameSecret("s3crets", "s3cret"));
  EXPECT_FALSE(sameSecret("", "s3cret"));
  EXPECT_FALSE(sameSecret("s3creT", "s3cret"));
}

TEST(RequestRules, TenWrongPasswordsInAMinuteRefuseTheAddressForAMinute) {
  PasswordGuard guard;
  // One, eight more, and the tenth a minute after the first: the first no
  // longer counts, the next one is the tenth.
  EXPECT_FALSE(guard.failed("192.0.2.1", 0));
  for (int i = 0; i < 8; ++i)
    EXPECT_FALSE(guard.failed("192.0.2.1", 30000 + i));
  EXPECT_FALSE(guard.failed("192.0.2.1", 60000));
  EXPECT_FALSE(guard.refused("192.0.2.1", 60000));
  const std::int64_t tenth = 60001;
  EXPECT_TRUE(guard.failed("192.0.2.1", tenth));
  EXPECT_TRUE(guard.refused("192.0.2.1", tenth + 59999));
  EXPECT_FALSE(guard.refused("192.0.2.2", tenth));
  EXPECT_FALSE(guard.refused("192.0.2.1", tenth + 60000));
  // Counted afresh after the minute.
  EXPECT_FALSE(guard.failed("192.0.2.1", tenth + 60000));
}

}  // namespace
