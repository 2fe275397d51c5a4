#ifndef VANTREL_CONSOLES_INPUT_COUNTS_HPP
#define VANTREL_CONSOLES_INPUT_COUNTS_HPP

#include <cstdint>

/// What an input did with the datagrams it received.
struct InputCounts {
  std::uint64_t taken = 0;      ///< levels merged
  std::uint64_t malformed = 0;  ///< not a packet of the protocol, or a bad one
  std::uint64_t ignored = 0;    ///< well-formed, but nothing for us: preview, other start codes,
                                ///< synchronization, universes no unit uses, other OpCodes
  std::uint64_t late = 0;       ///< dropped by the sequence rule
  std::uint64_t refused = 0;    ///< from a sender not in `sources`, or a third Art-Net source
};

#endif
