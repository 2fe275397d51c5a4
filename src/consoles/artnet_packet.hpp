#ifndef VANTREL_CONSOLES_ARTNET_PACKET_HPP
#define VANTREL_CONSOLES_ARTNET_PACKET_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Art-Net: the UDP port every node and controller uses.
constexpr std::uint16_t kArtnetPort = 6454;
/// The size of an ArtPollReply.
constexpr std::size_t kArtPollReplySize = 239;

/// An ArtDmx packet, read in place: `slots` points into the bytes read.
struct ArtDmx {
  std::uint8_t sequence = 0;            ///< 0 when the sender does not number its packets
  int portAddress = 0;                  ///< 0..32767
  const std::uint8_t* slots = nullptr;
  int slotCount = 0;                    ///< 1..512
};

enum class ArtnetRead {
  Dmx,        ///< an ArtDmx, in `dmx`
  Poll,       ///< an ArtPoll: the node is to answer with its ArtPollReplys
  Other,      ///< a well-formed Art-Net packet of another OpCode
  Malformed,  ///< anything else
};

/// Reads a UDP payload as Art-Net: the ID, the OpCode, a protocol version
/// of 14 or later, and for ArtDmx a port-address of 15 bits and a length of
/// 1..512 that the datagram holds.
ArtnetRead readArtnetPacket(const std::uint8_t* bytes, std::size_t size, ArtDmx& dmx);

/// What an ArtPollReply says of this node.
struct ArtnetNode {
  std::uint32_t address = 0;      ///< its IPv4 address, host byte order
  std::string shortName;          ///< up to 17 characters are sent
  std::string longName;           ///< up to 63 characters are sent
  std::vector<int> portAddresses; ///< the port-addresses it outputs, each 0..32767
};

/// The ArtPollReplys that answer an ArtPoll: one per group of up to four
/// port-addresses sharing their net and subnet (a reply holds one of each),
/// in port-address order, numbered by BindIndex from 1; one with no port
/// when there is none.
std::vector<std::array<std::uint8_t, kArtPollReplySize>> artPollReplies(const ArtnetNode& node);

#endif
