#ifndef VANTREL_CONSOLES_UNIT_FEED_HPP
#define VANTREL_CONSOLES_UNIT_FEED_HPP

#include <array>
#include <optional>
#include <cstdint>
#include <utility>
#include <vector>

#include "consoles/console_channel.hpp"

/// The units one input drives: the channel each follows and the value it
/// was last sent, so that only a value that changed becomes a command and a
/// steady stream never undoes another front end's command.
class UnitFeed {
 public:
  /// `channels`: by unit index, the channel each unit follows, if any.
  explicit UnitFeed(const std::vector<std::optional<ConsoleChannel>>& channels);

  /// The universes (or port-addresses) the units use, each once, in order.
  std::vector<int> universes() const;
  /// The units of `universe` whose channel, among the `covered` first
  /// `levels`, differs from what they were last sent: appended to
  /// `commands` as (unit, level), and remembered as sent.
  void changes(int universe, const std::array<std::uint8_t, 512>& levels, int covered,
               std::vector<std::pair<int, int>>& commands);
  /// The units of `universe`, their last values forgotten, so that a
  /// console that comes back sends them all again.
  std::vector<int> forget(int universe);

 private:
  struct Follower {
    int unit;
    ConsoleChannel channel;
    int sent = -1;  // the level last sent, -1 for none
  };
  std::vector<Follower> followers_;  // in unit order
};

#endif
