// Any datagram as Art-Net, read alone and fed to an input on the
// port-addresses it might name: no crash, no overread, at most two sources
// a port, and every poll answered with well-formed ArtPollReplys.
//
// Input: datagrams, each [size: 2 bytes, big-endian] [bytes...]

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "consoles/artnet_input.hpp"
#include "consoles/artnet_packet.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ArtnetInput input({0, 1, 0x7fff}, {});
  std::vector<SourceChange> changes;
  std::uint64_t datagrams = 0, polls = 0;
  std::int64_t nowUs = 0;
  std::vector<std::uint8_t> datagram;
  while (nextDatagram(data, size, datagram)) {
    ArtDmx dmx;
    if (readArtnetPacket(datagram.data(), datagram.size(), dmx) == ArtnetRead::Dmx) {
      require(dmx.portAddress >= 0 && dmx.portAddress <= 32767);
      require(dmx.slotCount >= 1 && dmx.slotCount <= 512);
    }
    nowUs += 1000000;
    // Senders by the datagram's size, so that several compete for a port.
    const std::uint32_t from = 0x0a000000u | static_cast<std::uint32_t>(datagram.size() % 5);
    const ArtnetInput::Received received = input.receive(datagram.data(), datagram.size(), from, nowUs, changes);
    ++datagrams;
    if (received.poll) {
      ++polls;
      ArtnetNode node{0x0a000009, "short", "long", input.portAddresses()};
      for (const auto& reply : artPollReplies(node)) {
        ArtDmx unused;
        require(readArtnetPacket(reply.data(), reply.size(), unused) == ArtnetRead::Other);
        require(reply[173] >= 1 && reply[173] <= 4);
      }
    }
    input.expire(nowUs, changes);
    for (const ArtnetPort& port : input.ports())
      require(port.sources().size() <= 2);
  }
  const InputCounts& counts = input.counts();
  require(counts.taken + counts.malformed + counts.ignored + counts.refused + polls == datagrams);
  return 0;
}
