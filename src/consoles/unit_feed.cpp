#include "consoles/unit_feed.hpp"

#include <algorithm>

UnitFeed::UnitFeed(const std::vector<std::optional<ConsoleChannel>>& channels) {
  for (std::size_t unit = 0; unit < channels.size(); ++unit)
    if (channels[unit])
      followers_.push_back({static_cast<int>(unit), *channels[unit]});
}

std::vector<int> UnitFeed::universes() const {
  std::vector<int> numbers;
  for (const Follower& follower : followers_)
    numbers.push_back(follower.channel.universe);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

void UnitFeed::changes(int universe, const std::array<std::uint8_t, 512>& levels, int covered,
                       std::vector<std::pair<int, int>>& commands) {
  for (Follower& follower : followers_) {
    if (follower.channel.universe != universe || follower.channel.channel > covered)
      continue;
    const int level = levels[static_cast<std::size_t>(follower.channel.channel - 1)];
    if (level == follower.sent)
      continue;
    follower.sent = level;
    commands.emplace_back(follower.unit, level);
  }
}

std::vector<int> UnitFeed::forget(int universe) {
  std::vector<int> units;
  for (Follower& follower : followers_) {
    if (follower.channel.universe != universe)
      continue;
    follower.sent = -1;
    units.push_back(follower.unit);
  }
  return units;
}
