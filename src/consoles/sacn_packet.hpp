#ifndef VANTREL_CONSOLES_SACN_PACKET_HPP
#define VANTREL_CONSOLES_SACN_PACKET_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

/// sACN (ANSI E1.31): the UDP port and the multicast group of a universe.
constexpr std::uint16_t kSacnPort = 5568;
/// 239.255.hi.lo, in host byte order.
constexpr std::uint32_t sacnGroup(int universe) {
  return 0xefff0000u | static_cast<std::uint32_t>(universe & 0xffff);
}

/// An E1.31 data packet, read in place: `sourceName` and `slots` point into
/// the bytes read.
struct SacnPacket {
  std::array<std::uint8_t, 16> cid{};  ///< the sender's component identifier
  std::string_view sourceName;         ///< up to its first NUL
  int priority = 0;                    ///< 0..200
  std::uint8_t sequence = 0;
  bool preview = false;                ///< meant for visualisers, not for lights
  bool terminated = false;             ///< the source stops sending this universe
  int universe = 0;                    ///< 1..63999
  int startCode = 0;                   ///< 0 for levels; 0xDD for per-channel priorities
  const std::uint8_t* slots = nullptr; ///< the values after the start code
  int slotCount = 0;                   ///< 0..512
};

enum class SacnRead {
  Data,       ///< a data packet, in `packet`
  Extended,   ///< a well-formed synchronization or universe discovery packet: no levels
  Malformed,  ///< anything else
};

/// Reads a UDP payload as E1.31, checking every layer: the preamble and
/// identifier, each layer's flags and length against the datagram's size, the
/// root, framing and DMP vectors, priority, universe, the DMP address and
/// data type, first address, increment and property count.
SacnRead readSacnPacket(const std::uint8_t* bytes, std::size_t size, SacnPacket& packet);

/// The standard's sequence rule: a packet is late, and dropped, when its
/// sequence number less the source's last one is 0 to -19, modulo 256.
bool sacnSequenceIsLate(std::uint8_t last, std::uint8_t received);

/// A component identifier as text, 8-4-4-4-12 lower-case hex digits.
std::string sacnCidText(const std::array<std::uint8_t, 16>& cid);

#endif
