#ifndef VANTREL_CONSOLES_CONSOLE_SOURCE_HPP
#define VANTREL_CONSOLES_CONSOLE_SOURCE_HPP

#include <array>
#include <cstdint>
#include <string>

/// One console sending one universe, as an input tracks it: sACN sources
/// by their CID, Art-Net sources by their address.
struct ConsoleSource {
  std::uint32_t address = 0;         ///< the sender's IPv4 address, host byte order
  std::string cid;                   ///< sACN: the CID as text; Art-Net: empty
  std::string name;                  ///< sACN: the source name; Art-Net: empty
  int priority = 0;                  ///< sACN: 0..200; Art-Net: 0
  std::uint8_t sequence = 0;         ///< the last sequence number taken
  std::int64_t lastUs = 0;           ///< when it was last heard, on the monotonic clock
  std::array<std::uint8_t, 512> slots{};
  int slotCount = 0;                 ///< how many of `slots` it sends
};

/// A source that an input found or lost, for the log.
struct SourceChange {
  enum class Kind { Found, Lost, Terminated };
  Kind kind = Kind::Found;
  int universe = 0;                  ///< sACN universe or Art-Net port-address
  ConsoleSource source;              ///< as it was last heard (its slots are not kept)
  bool lastOfUniverse = false;       ///< Lost or Terminated: the universe has no source left
};

/// The highest level of each slot among `sources` (HTP), into `levels`;
/// returns how many slots at least one of them sends.
template <typename Sources, typename Take>
int mergeHighestTakesPrecedence(const Sources& sources, Take take, std::array<std::uint8_t, 512>& levels) {
  levels.fill(0);
  int covered = 0;
  for (const ConsoleSource& source : sources) {
    if (!take(source))
      continue;
    for (int i = 0; i < source.slotCount; ++i)
      if (source.slots[i] > levels[i])
        levels[i] = source.slots[i];
    if (source.slotCount > covered)
      covered = source.slotCount;
  }
  return covered;
}

#endif
