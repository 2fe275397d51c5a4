#include "consoles/unit_feed.hpp"

#include <gtest/gtest.h>

namespace {

using Commands = std::vector<std::pair<int, int>>;

std::array<std::uint8_t, 512> levels(std::initializer_list<std::uint8_t> first) {
  std::array<std::uint8_t, 512> all{};
  std::copy(first.begin(), first.end(), all.begin());
  return all;
}

TEST(UnitFeed, OnlyAChangedValueIsACommandAndALostUniverseIsSentAfresh) {
  // Units 0 and 2 share universe 1 channel 2; unit 1 is on universe 7; unit 3 follows nothing.
  UnitFeed feed({ConsoleChannel{1, 2}, ConsoleChannel{7, 1}, ConsoleChannel{1, 2}, std::nullopt,
                 ConsoleChannel{1, 3}});
  EXPECT_EQ(feed.universes(), (std::vector<int>{1, 7}));
  Commands commands;
  feed.changes(1, levels({0, 100, 5}), 3, commands);
  EXPECT_EQ(commands, (Commands{{0, 100}, {2, 100}, {4, 5}}));
  commands.clear();
  feed.changes(1, levels({9, 100, 5}), 3, commands);  // a steady stream: nothing
  EXPECT_TRUE(commands.empty());
  feed.changes(1, levels({9, 100, 6}), 3, commands);
  EXPECT_EQ(commands, (Commands{{4, 6}}));
  commands.clear();
  feed.changes(1, levels({0, 0, 0}), 2, commands);  // channel 3 no longer sent: left alone
  EXPECT_EQ(commands, (Commands{{0, 0}, {2, 0}}));
  commands.clear();
  EXPECT_EQ(feed.forget(1), (std::vector<int>{0, 2, 4}));
  feed.changes(1, levels({0, 0, 6}), 3, commands);  // back: every unit hears it again
  EXPECT_EQ(commands, (Commands{{0, 0}, {2, 0}, {4, 6}}));
  commands.clear();
  feed.changes(7, levels({1}), 1, commands);
  EXPECT_EQ(commands, (Commands{{1, 1}}));
}

}  // namespace
