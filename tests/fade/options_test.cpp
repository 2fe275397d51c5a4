#include "fade/options.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/duration.hpp"

namespace {

FadeRequest parse(std::vector<const char*> args, FadeOptions& options, std::string& problem) {
  args.insert(args.begin(), "vantrel-fade");
  return parseFadeArguments(static_cast<int>(args.size()), args.data(), options, problem);
}

TEST(ParseDuration, ReadsSecondsMillisecondsFractionsAndZero) {
  struct Case { const char* text; std::int64_t us; };
  for (const Case& c : {Case{"0", 0}, Case{"0s", 0}, Case{"2s", 2000000}, Case{"1.5s", 1500000},
                        Case{"250ms", 250000}, Case{"0.25ms", 250}, Case{"1.0000019s", 1000001},
                        Case{"86400s", kMaxDurationUs}, Case{"86400000ms", kMaxDurationUs}}) {
    std::int64_t us = -1;
    EXPECT_TRUE(parseDuration(c.text, us)) << c.text;
    EXPECT_EQ(us, c.us) << c.text;
  }
  for (const char* text : {"", "2", "s", ".5s", "1.s", "1,5s", "-1s", "+1s", " 1s", "1s ", "1 s",
                           "1S", "1m", "1h", "1sec", "86400.000001s", "86400001ms",
                           "99999999999999999999s", "0x10s"}) {
    std::int64_t us = -1;
    EXPECT_FALSE(parseDuration(text, us)) << text;
    EXPECT_EQ(us, -1) << text;
  }
}

TEST(ParseFadeArguments, TakesOptionsBeforeAndAmongTheArgumentsInBothForms) {
  FadeOptions options;
  std::string problem;
  ASSERT_EQ(parse({"--over", "2s", "localhost", "--steps=10", "4001", "2", "--tries", "5", "255",
                   "--timeout=250ms", "0", "--verbose"},
                  options, problem),
            FadeRequest::Fade)
      << problem;
  EXPECT_STREQ(options.address, "localhost");
  EXPECT_EQ(options.port, 4001);
  EXPECT_EQ(options.unitType, 2);
  EXPECT_EQ(options.from, 255);
  EXPECT_EQ(options.to, 0);
  EXPECT_EQ(options.overUs, 2000000);
  EXPECT_EQ(options.steps, 10);
  EXPECT_EQ(options.timeoutUs, 250000);
  EXPECT_EQ(options.tries, 5);
  EXPECT_TRUE(options.verbose);

  // After "--" an argument that looks like an option is an argument.
  FadeOptions ended;
  EXPECT_EQ(parse({"--", "--quiet", "1", "1", "0", "1"}, ended, problem), FadeRequest::Fade);
  EXPECT_STREQ(ended.address, "--quiet");
  EXPECT_FALSE(ended.quiet);
}

TEST(ParseFadeArguments, TheServiceIsUsedUnlessTold) {
  FadeOptions options;
  std::string problem;
  ASSERT_EQ(parse({"1.2.3.4", "1", "1", "0", "9"}, options, problem), FadeRequest::Fade);
  EXPECT_FALSE(options.direct);
  EXPECT_FALSE(options.noWait);
  FadeOptions handed;
  ASSERT_EQ(parse({"1.2.3.4", "--no-wait", "1", "1", "0", "9"}, handed, problem), FadeRequest::Fade);
  EXPECT_TRUE(handed.noWait);
  FadeOptions around;
  ASSERT_EQ(parse({"--direct", "1.2.3.4", "1", "1", "0", "9"}, around, problem), FadeRequest::Fade);
  EXPECT_TRUE(around.direct);
  FadeOptions both;
  EXPECT_EQ(parse({"--direct", "--no-wait", "1.2.3.4", "1", "1", "0", "9"}, both, problem),
            FadeRequest::UsageError);
  EXPECT_EQ(problem, "--direct and --no-wait exclude each other");
}

TEST(ParseFadeArguments, HelpAndVersionWinOverWhatFollows) {
  FadeOptions options;
  std::string problem;
  EXPECT_EQ(parse({"--help", "--bogus"}, options, problem), FadeRequest::Help);
  EXPECT_EQ(parse({"1.2.3.4", "--version"}, options, problem), FadeRequest::Version);
}

TEST(ParseFadeArguments, RefusesAnythingButDigitsInRangeAndSaysWhat) {
  struct Case { std::vector<const char*> args; const char* problem; };
  const Case cases[] = {
      {{"h", "1", "1", "0"}, "expected 5 arguments, ADDRESS PORT TYPE FROM TO, not 4"},
      {{"h", "1", "1", "0", "1", "2"}, "expected 5 arguments, ADDRESS PORT TYPE FROM TO, not 6"},
      {{"", "1", "1", "0", "1"}, "ADDRESS is empty"},
      {{"h", "0", "1", "0", "1"}, "invalid PORT '0': a whole number from 1 to 65535"},
      {{"h", "65536", "1", "0", "1"}, "invalid PORT '65536': a whole number from 1 to 65535"},
      {{"h", "1", "3", "0", "1"}, "invalid TYPE '3': a whole number from 1 to 2"},
      {{"h", "1", "+1", "0", "1"}, "invalid TYPE '+1': a whole number from 1 to 2"},
      {{"h", "1", "1", "12abc", "1"}, "invalid FROM '12abc': a whole number from 0 to 255"},
      {{"h", "1", "1", "0", ""}, "invalid TO '': a whole number from 0 to 255"},
      {{"h", "1", "1", "0", " 1"}, "invalid TO ' 1': a whole number from 0 to 255"},
      {{"h", "1", "1", "-1", "1"}, "unknown option '-1'"},
      {{"--fast", "h", "1", "1", "0", "1"}, "unknown option '--fast'"},
      {{"--steps", "0", "h", "1", "1", "0", "1"}, "invalid --steps '0': a whole number from 1 to 255"},
      {{"--tries=101", "h", "1", "1", "0", "1"}, "invalid --tries '101': a whole number from 1 to 100"},
      {{"--timeout", "0", "h", "1", "1", "0", "1"},
       "invalid --timeout '0': a duration such as 2s, 1.5s or 250ms, more than 0 and at most 24 hours"},
      {{"h", "1", "1", "0", "1", "--over"}, "option --over needs a value"},
      {{"--quiet=yes", "h", "1", "1", "0", "1"}, "option --quiet takes no value"},
      {{"--quiet", "--verbose", "h", "1", "1", "0", "1"}, "--verbose and --quiet exclude each other"},
  };
  for (const Case& c : cases) {
    FadeOptions options;
    std::string problem;
    EXPECT_EQ(parse(c.args, options, problem), FadeRequest::UsageError) << c.problem;
    EXPECT_EQ(problem, c.problem);
  }
}

}  // namespace
