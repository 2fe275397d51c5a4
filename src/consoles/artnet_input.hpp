#ifndef VANTREL_CONSOLES_ARTNET_INPUT_HPP
#define VANTREL_CONSOLES_ARTNET_INPUT_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

#include "consoles/artnet_port.hpp"
#include "consoles/console_source.hpp"
#include "consoles/input_counts.hpp"

/// The Art-Net input without its socket: the port-addresses the units use,
/// the datagrams read into them, and what became of each.
class ArtnetInput {
 public:
  /// `accepted`: the senders to take, all when empty (IPv4, host byte order).
  ArtnetInput(const std::vector<int>& portAddresses, std::vector<std::uint32_t> accepted);

  struct Received {
    const ArtnetPort* changed = nullptr;  ///< the port whose levels may have changed
    bool poll = false;                    ///< an ArtPoll, to answer with artPollReplies()
  };
  /// Takes one datagram from `from`, received at `nowUs`; sources found are
  /// appended to `changes`.
  Received receive(const std::uint8_t* bytes, std::size_t size, std::uint32_t from,
                   std::int64_t nowUs, std::vector<SourceChange>& changes);
  /// Drops the sources lost by `nowUs`, appending them to `changes`.
  void expire(std::int64_t nowUs, std::vector<SourceChange>& changes);
  std::int64_t deadlineUs() const;

  const std::vector<ArtnetPort>& ports() const { return ports_; }
  const ArtnetPort* find(int portAddress) const;
  /// The port-addresses, for the ArtPollReplys.
  std::vector<int> portAddresses() const;
  const InputCounts& counts() const { return counts_; }

 private:
  ArtnetPort* findPort(int portAddress);

  std::vector<ArtnetPort> ports_;  // in port-address order
  std::vector<std::uint32_t> accepted_;
  InputCounts counts_;
};

#endif
