#ifndef VANTREL_CONSOLES_SACN_UNIVERSE_HPP
#define VANTREL_CONSOLES_SACN_UNIVERSE_HPP

#include <array>
#include <cstdint>
#include <vector>

#include "consoles/console_source.hpp"
#include "consoles/sacn_packet.hpp"

/// The standard's loss time-out: a source not heard for 2.5 s is gone.
constexpr std::int64_t kSacnLossTimeoutUs = 2500000;

/// One sACN universe: its sources by CID and their merge. The sources at
/// the highest priority present drive the universe, each slot at the
/// highest of their levels.
class SacnUniverse {
 public:
  SacnUniverse(int universe, std::int64_t lossTimeoutUs);

  enum class Take {
    Applied,     ///< the levels of a known source
    Found,       ///< a new source, applied
    Late,        ///< dropped by the sequence rule
    Terminated,  ///< the source said it stops, and is gone
    Unknown,     ///< a stream end from a source not heard before: nothing to do
  };
  /// Takes a data packet of this universe with start code 0, neither
  /// preview nor checked for either here. `change` is set on Found and
  /// Terminated.
  Take take(const SacnPacket& packet, std::uint32_t from, std::int64_t nowUs, SourceChange& change);

  /// Drops the sources not heard for the loss time-out by `nowUs`,
  /// appending one Lost change for each.
  void expire(std::int64_t nowUs, std::vector<SourceChange>& changes);
  /// When the next source is due to be lost, or INT64_MAX with none.
  std::int64_t deadlineUs() const;

  int number() const { return universe_; }
  bool live() const { return !sources_.empty(); }
  const std::vector<ConsoleSource>& sources() const { return sources_; }
  /// The merged levels; slots past coveredSlots() no winning source sends.
  const std::array<std::uint8_t, 512>& levels() const { return levels_; }
  int coveredSlots() const { return covered_; }
  /// The priority of the sources that drive the universe, -1 with none.
  int winningPriority() const { return winning_; }

 private:
  SourceChange changeFor(SourceChange::Kind kind, const ConsoleSource& source) const;
  void merge();

  int universe_;
  std::int64_t lossTimeoutUs_;
  std::vector<ConsoleSource> sources_;
  std::vector<std::array<std::uint8_t, 16>> cids_;  // beside sources_, the same order
  std::array<std::uint8_t, 512> levels_{};
  int covered_ = 0;
  int winning_ = -1;
};

#endif
