#include "consoles/sacn_packet.hpp"

#include <cstring>

namespace {

constexpr std::uint8_t kIdentifier[12] = {'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0};
constexpr std::uint32_t kRootData = 0x00000004;
constexpr std::uint32_t kRootExtended = 0x00000008;
constexpr std::uint32_t kFramingData = 0x00000002;
constexpr std::uint8_t kDmpSetProperty = 0x02;
constexpr std::uint8_t kDmpAddressAndDataType = 0xa1;

// Where each layer starts, and the data packet's header size.
constexpr std::size_t kRootPdu = 16;
constexpr std::size_t kFramingPdu = 38;
constexpr std::size_t kDmpPdu = 115;
constexpr std::size_t kHeader = 125;

unsigned get16(const std::uint8_t* p) { return unsigned{p[0]} << 8 | p[1]; }
std::uint32_t get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// A PDU's flags must say vector, header and data present (0x7), and its
// length must run to the end of the datagram, which holds one PDU per layer.
bool flagsAndLengthFit(const std::uint8_t* bytes, std::size_t at, std::size_t size) {
  const unsigned word = get16(bytes + at);
  return (word >> 12) == 0x7 && (word & 0x0fff) == size - at;
}

}  // namespace

SacnRead readSacnPacket(const std::uint8_t* bytes, std::size_t size, SacnPacket& packet) {
  if (size < kFramingPdu + 6 || get16(bytes) != 0x0010 || get16(bytes + 2) != 0x0000 ||
      std::memcmp(bytes + 4, kIdentifier, sizeof kIdentifier) != 0 ||
      !flagsAndLengthFit(bytes, kRootPdu, size))
    return SacnRead::Malformed;
  const std::uint32_t rootVector = get32(bytes + 18);
  if (rootVector == kRootExtended)
    return flagsAndLengthFit(bytes, kFramingPdu, size) ? SacnRead::Extended : SacnRead::Malformed;
  if (rootVector != kRootData || size < kHeader + 1 || size > kHeader + 513 ||
      !flagsAndLengthFit(bytes, kFramingPdu, size) || get32(bytes + 40) != kFramingData ||
      !flagsAndLengthFit(bytes, kDmpPdu, size) || bytes[117] != kDmpSetProperty ||
      bytes[118] != kDmpAddressAndDataType || get16(bytes + 119) != 0x0000 ||
      get16(bytes + 121) != 0x0001 || get16(bytes + 123) != size - kHeader)
    return SacnRead::Malformed;
  const int priority = bytes[108];
  const int universe = static_cast<int>(get16(bytes + 113));
  if (priority > 200 || universe < 1 || universe > 63999)
    return SacnRead::Malformed;

  std::memcpy(packet.cid.data(), bytes + 22, 16);
  const char* name = reinterpret_cast<const char*>(bytes + 44);
  const void* nul = std::memchr(name, 0, 64);
  packet.sourceName = std::string_view(name, nul ? static_cast<const char*>(nul) - name : 64);
  packet.priority = priority;
  packet.sequence = bytes[111];
  packet.preview = (bytes[112] & 0x80) != 0;
  packet.terminated = (bytes[112] & 0x40) != 0;
  packet.universe = universe;
  packet.startCode = bytes[kHeader];
  packet.slots = bytes + kHeader + 1;
  packet.slotCount = static_cast<int>(size - kHeader - 1);
  return SacnRead::Data;
}

bool sacnSequenceIsLate(std::uint8_t last, std::uint8_t received) {
  const int difference = static_cast<std::int8_t>(static_cast<std::uint8_t>(received - last));
  return difference <= 0 && difference > -20;
}

std::string sacnCidText(const std::array<std::uint8_t, 16>& cid) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < cid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10)
      text += '-';
    text += kDigits[cid[i] >> 4];
    text += kDigits[cid[i] & 0xf];
  }
  return text;
}
