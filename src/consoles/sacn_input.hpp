#ifndef VANTREL_CONSOLES_SACN_INPUT_HPP
#define VANTREL_CONSOLES_SACN_INPUT_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

#include "consoles/console_source.hpp"
#include "consoles/input_counts.hpp"
#include "consoles/sacn_universe.hpp"

/// The sACN input without its socket: the universes the units use, the
/// datagrams read into them, and what became of each.
class SacnInput {
 public:
  /// `universes`: those the units use; `accepted`: the senders to take,
  /// all when empty (IPv4, host byte order).
  SacnInput(const std::vector<int>& universes, std::vector<std::uint32_t> accepted,
            std::int64_t lossTimeoutUs);

  /// Takes one datagram from `from`, received at `nowUs`. Returns the
  /// universe whose levels it may have changed, or nullptr; sources found
  /// or terminated are appended to `changes`.
  const SacnUniverse* receive(const std::uint8_t* bytes, std::size_t size, std::uint32_t from,
                              std::int64_t nowUs, std::vector<SourceChange>& changes);
  /// Drops the sources lost by `nowUs`, appending them to `changes`.
  void expire(std::int64_t nowUs, std::vector<SourceChange>& changes);
  /// The next loss deadline, INT64_MAX with no source.
  std::int64_t deadlineUs() const;

  const std::vector<SacnUniverse>& universes() const { return universes_; }
  const SacnUniverse* find(int universe) const;
  const InputCounts& counts() const { return counts_; }

 private:
  SacnUniverse* findUniverse(int universe);

  std::vector<SacnUniverse> universes_;  // in universe order
  std::vector<std::uint32_t> accepted_;
  InputCounts counts_;
};

#endif
