#include "consoles/console_channel.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ConsoleChannel, ReadsSacnUniversesAndChannelsInRange) {
  struct Case { const char* text; int universe, channel; };
  for (const Case& c : {Case{"1/5", 1, 5}, Case{"63999/512", 63999, 512}, Case{"7/1", 7, 1}}) {
    ConsoleChannel channel;
    std::string problem;
    ASSERT_TRUE(parseSacnChannel(c.text, channel, problem)) << c.text << ": " << problem;
    EXPECT_EQ(channel.universe, c.universe);
    EXPECT_EQ(channel.channel, c.channel);
  }
  struct Bad { const char* text; const char* problem; };
  for (const Bad& b : {Bad{"1", "expected UNIVERSE/CHANNEL, not \"1\""},
                       Bad{"0/5", "the universe must be a whole number from 1 to 63999, not \"0\""},
                       Bad{"64000/5", "the universe must be a whole number from 1 to 63999, not \"64000\""},
                       Bad{"1/0", "the channel must be a whole number from 1 to 512, not \"0\""},
                       Bad{"1/513", "the channel must be a whole number from 1 to 512, not \"513\""},
                       Bad{"1/5/6", "the channel must be a whole number from 1 to 512, not \"5/6\""},
                       Bad{" 1/5", "the universe must be a whole number from 1 to 63999, not \" 1\""},
                       Bad{"0:0:1/5", "the universe must be a whole number from 1 to 63999, not \"0:0:1\""}}) {
    ConsoleChannel channel{-1, -1};
    std::string problem;
    EXPECT_FALSE(parseSacnChannel(b.text, channel, problem)) << b.text;
    EXPECT_EQ(problem, b.problem);
    EXPECT_EQ(channel.universe, -1);
  }
}

TEST(ConsoleChannel, ReadsArtnetNetSubnetUniverseOrAPlainPortAddress) {
  struct Case { const char* text; int portAddress, channel; };
  for (const Case& c : {Case{"0:0:1/5", 1, 5}, Case{"1/5", 1, 5}, Case{"127:15:15/512", 32767, 512},
                        Case{"2:3:4/1", 0x0234, 1}, Case{"32767/1", 32767, 1}, Case{"0/1", 0, 1}}) {
    ConsoleChannel channel;
    std::string problem;
    ASSERT_TRUE(parseArtnetChannel(c.text, channel, problem)) << c.text << ": " << problem;
    EXPECT_EQ(channel.universe, c.portAddress) << c.text;
    EXPECT_EQ(channel.channel, c.channel) << c.text;
  }
  const char* subnetProblem = "expected NET:SUBNET:UNIVERSE with a net of 0 to 127 and a subnet and "
                              "universe of 0 to 15, not ";
  struct Bad { const char* text; std::string problem; };
  for (const Bad& b : {Bad{"0:0:1", "expected NET:SUBNET:UNIVERSE/CHANNEL or PORTADDRESS/CHANNEL, not \"0:0:1\""},
                       Bad{"32768/1", "the port-address must be a whole number from 0 to 32767, not \"32768\""},
                       Bad{"128:0:0/1", subnetProblem + std::string("\"128:0:0\"")},
                       Bad{"0:16:0/1", subnetProblem + std::string("\"0:16:0\"")},
                       Bad{"0:0:16/1", subnetProblem + std::string("\"0:0:16\"")},
                       Bad{"0:0/1", subnetProblem + std::string("\"0:0\"")},
                       Bad{"0:0:0:0/1", subnetProblem + std::string("\"0:0:0:0\"")},
                       Bad{"0:0:1/513", "the channel must be a whole number from 1 to 512, not \"513\""}}) {
    ConsoleChannel channel{-1, -1};
    std::string problem;
    EXPECT_FALSE(parseArtnetChannel(b.text, channel, problem)) << b.text;
    EXPECT_EQ(problem, b.problem);
    EXPECT_EQ(channel.universe, -1);
  }
}

}  // namespace
