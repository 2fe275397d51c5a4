#ifndef VANTREL_TESTS_SUPPORT_CONSOLE_PACKETS_HPP
#define VANTREL_TESTS_SUPPORT_CONSOLE_PACKETS_HPP

// sACN and Art-Net packets as a console sends them, built byte by byte, for
// the tests of the inputs and the benches' senders.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct SacnPacketFields {
  std::array<std::uint8_t, 16> cid{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
  std::string name = "desk";
  int priority = 100;
  std::uint8_t sequence = 0;
  std::uint8_t options = 0;  // 0x80 preview, 0x40 stream terminated
  int universe = 1;
  int startCode = 0;
  std::vector<std::uint8_t> slots = std::vector<std::uint8_t>(512, 0);
};

inline std::vector<std::uint8_t> sacnPacket(const SacnPacketFields& fields) {
  const std::size_t size = 126 + fields.slots.size();
  std::vector<std::uint8_t> b;
  auto put16 = [&](std::size_t v) { b.push_back(static_cast<std::uint8_t>(v >> 8)); b.push_back(static_cast<std::uint8_t>(v)); };
  auto put32 = [&](std::uint32_t v) { put16(v >> 16); put16(v & 0xffff); };
  put16(0x0010);
  put16(0x0000);
  for (const char c : std::string("ASC-E1.17"))
    b.push_back(static_cast<std::uint8_t>(c));
  b.insert(b.end(), 3, 0);
  put16(0x7000 | (size - 16));
  put32(4);
  b.insert(b.end(), fields.cid.begin(), fields.cid.end());
  put16(0x7000 | (size - 38));
  put32(2);
  std::string name = fields.name;
  name.resize(64, '\0');
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(static_cast<std::uint8_t>(fields.priority));
  put16(0);
  b.push_back(fields.sequence);
  b.push_back(fields.options);
  put16(static_cast<std::size_t>(fields.universe));
  put16(0x7000 | (size - 115));
  b.push_back(0x02);
  b.push_back(0xa1);
  put16(0x0000);
  put16(0x0001);
  put16(fields.slots.size() + 1);
  b.push_back(static_cast<std::uint8_t>(fields.startCode));
  b.insert(b.end(), fields.slots.begin(), fields.slots.end());
  return b;
}

inline std::vector<std::uint8_t> artnetHeader(unsigned opCode, int version = 14) {
  std::vector<std::uint8_t> b = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
  b.push_back(static_cast<std::uint8_t>(opCode & 0xff));
  b.push_back(static_cast<std::uint8_t>(opCode >> 8));
  b.push_back(static_cast<std::uint8_t>(version >> 8));
  b.push_back(static_cast<std::uint8_t>(version & 0xff));
  return b;
}

inline std::vector<std::uint8_t> artDmxPacket(int portAddress, const std::vector<std::uint8_t>& slots,
                                              std::uint8_t sequence = 0) {
  std::vector<std::uint8_t> b = artnetHeader(0x5000);
  b.push_back(sequence);
  b.push_back(0);  // physical
  b.push_back(static_cast<std::uint8_t>(portAddress & 0xff));
  b.push_back(static_cast<std::uint8_t>(portAddress >> 8));
  b.push_back(static_cast<std::uint8_t>(slots.size() >> 8));
  b.push_back(static_cast<std::uint8_t>(slots.size() & 0xff));
  b.insert(b.end(), slots.begin(), slots.end());
  return b;
}

inline std::vector<std::uint8_t> artPollPacket() {
  std::vector<std::uint8_t> b = artnetHeader(0x2000);
  b.push_back(0);  // flags
  b.push_back(0);  // diagnostics priority
  return b;
}

#endif
