// Any datagram as sACN, read alone and fed to an input on the universes it
// might name: no crash, no overread, and what is read stays within the
// standard's ranges. The input's counts add up to the datagrams given.
//
// Input: datagrams, each [size: 2 bytes, big-endian] [bytes...]

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "consoles/sacn_input.hpp"
#include "consoles/sacn_packet.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SacnInput input({1, 2, 63999}, {}, kSacnLossTimeoutUs);
  std::vector<SourceChange> changes;
  std::uint64_t datagrams = 0;
  std::int64_t nowUs = 0;
  std::vector<std::uint8_t> datagram;
  while (nextDatagram(data, size, datagram)) {
    SacnPacket packet;
    if (readSacnPacket(datagram.data(), datagram.size(), packet) == SacnRead::Data) {
      require(packet.universe >= 1 && packet.universe <= 63999);
      require(packet.priority >= 0 && packet.priority <= 200);
      require(packet.slotCount >= 0 && packet.slotCount <= 512);
      require(packet.sourceName.size() <= 64);
    }
    nowUs += 100000;
    const SacnUniverse* changed = input.receive(datagram.data(), datagram.size(), 0x0a000001, nowUs, changes);
    ++datagrams;
    if (changed != nullptr) {
      require(changed->coveredSlots() <= 512);
      require(changed->live() || changed->winningPriority() == -1);
    }
    input.expire(nowUs, changes);
  }
  const InputCounts& counts = input.counts();
  require(counts.taken + counts.malformed + counts.ignored + counts.late + counts.refused == datagrams);
  for (const SacnUniverse& universe : input.universes())
    require(universe.sources().size() <= datagrams);
  return 0;
}
