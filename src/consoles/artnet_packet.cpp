#include "consoles/artnet_packet.hpp"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kId[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr unsigned kOpPoll = 0x2000;
constexpr unsigned kOpPollReply = 0x2100;
constexpr unsigned kOpDmx = 0x5000;
constexpr unsigned kProtocolVersion = 14;

// ArtPollReply fields, by offset.
constexpr std::size_t kReplyAddress = 10, kReplyPort = 14, kReplyNetSwitch = 18,
                      kReplySubSwitch = 19, kReplyOem = 20, kReplyShortName = 26,
                      kReplyLongName = 44, kReplyNodeReport = 108, kReplyNumPorts = 172,
                      kReplyPortTypes = 174, kReplySwOut = 190, kReplyBindIp = 207,
                      kReplyBindIndex = 211, kReplyStatus2 = 212;

void putName(std::uint8_t* field, std::size_t size, const std::string& name) {
  std::memcpy(field, name.data(), std::min(name.size(), size - 1));
}

void putAddress(std::uint8_t* field, std::uint32_t address) {
  for (int i = 0; i < 4; ++i)
    field[i] = static_cast<std::uint8_t>(address >> (24 - 8 * i));
}

}  // namespace

ArtnetRead readArtnetPacket(const std::uint8_t* bytes, std::size_t size, ArtDmx& dmx) {
  if (size < 10 || std::memcmp(bytes, kId, sizeof kId) != 0)
    return ArtnetRead::Malformed;
  const unsigned opCode = bytes[8] | unsigned{bytes[9]} << 8;
  if (opCode == kOpPollReply)  // carries no protocol version where the others do
    return size >= 207 ? ArtnetRead::Other : ArtnetRead::Malformed;
  if (size < 12 || (unsigned{bytes[10]} << 8 | bytes[11]) < kProtocolVersion)
    return ArtnetRead::Malformed;
  if (opCode == kOpPoll)
    return size >= 14 ? ArtnetRead::Poll : ArtnetRead::Malformed;
  if (opCode != kOpDmx)
    return ArtnetRead::Other;
  if (size < 18 || (bytes[15] & 0x80) != 0)
    return ArtnetRead::Malformed;
  const int length = bytes[16] << 8 | bytes[17];
  if (length < 1 || length > 512 || size < 18 + static_cast<std::size_t>(length))
    return ArtnetRead::Malformed;
  dmx.sequence = bytes[12];
  dmx.portAddress = bytes[15] << 8 | bytes[14];
  dmx.slots = bytes + 18;
  dmx.slotCount = length;
  return ArtnetRead::Dmx;
}

std::vector<std::array<std::uint8_t, kArtPollReplySize>> artPollReplies(const ArtnetNode& node) {
  std::vector<int> ports = node.portAddresses;
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());

  std::vector<std::array<std::uint8_t, kArtPollReplySize>> replies;
  std::size_t next = 0;
  do {
    // A group: up to four ports whose net and subnet are the first one's.
    std::size_t end = next;
    while (end < ports.size() && end - next < 4 && (ports[end] >> 4) == (ports[next] >> 4))
      ++end;
    std::array<std::uint8_t, kArtPollReplySize> reply{};
    std::memcpy(reply.data(), kId, sizeof kId);
    reply[8] = kOpPollReply & 0xff;
    reply[9] = kOpPollReply >> 8;
    putAddress(&reply[kReplyAddress], node.address);
    reply[kReplyPort] = kArtnetPort & 0xff;  // low byte first, unlike the rest
    reply[kReplyPort + 1] = kArtnetPort >> 8;
    if (next < ports.size()) {
      reply[kReplyNetSwitch] = static_cast<std::uint8_t>(ports[next] >> 8 & 0x7f);
      reply[kReplySubSwitch] = static_cast<std::uint8_t>(ports[next] >> 4 & 0x0f);
    }
    reply[kReplyOem + 1] = 0xff;  // OemUnknown, 0x00ff
    putName(&reply[kReplyShortName], 18, node.shortName);
    putName(&reply[kReplyLongName], 64, node.longName);
    const std::string report = "#0001 [0000] ready";
    putName(&reply[kReplyNodeReport], 64, report);
    reply[kReplyNumPorts + 1] = static_cast<std::uint8_t>(end - next);
    for (std::size_t i = next; i < end; ++i) {
      reply[kReplyPortTypes + (i - next)] = 0x80;  // outputs DMX512 from the network
      reply[kReplySwOut + (i - next)] = static_cast<std::uint8_t>(ports[i] & 0x0f);
    }
    putAddress(&reply[kReplyBindIp], node.address);
    reply[kReplyBindIndex] = static_cast<std::uint8_t>(replies.size() + 1);
    reply[kReplyStatus2] = 0x08;  // 15-bit port-addresses
    replies.push_back(reply);
    next = end;
  } while (next < ports.size());
  return replies;
}
