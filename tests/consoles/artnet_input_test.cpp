#include "consoles/artnet_input.hpp"
#include "consoles/artnet_packet.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "support/console_packets.hpp"

namespace {

constexpr std::uint32_t kDeskA = 0x0a000001;
constexpr std::uint32_t kDeskB = 0x0a000002;
constexpr std::uint32_t kDeskC = 0x0a000003;

struct Fixture {
  ArtnetInput input{{0, 0x0123}, {}};
  std::vector<SourceChange> changes;
  ArtnetInput::Received send(const std::vector<std::uint8_t>& bytes, std::uint32_t from, std::int64_t nowUs) {
    return input.receive(bytes.data(), bytes.size(), from, nowUs, changes);
  }
  int level(int port, int channel) const { return input.find(port)->levels()[channel - 1]; }
};

TEST(ArtnetPacket, ReadsArtDmxAndArtPollAndRefusesBrokenOnes) {
  const std::vector<std::uint8_t> good = artDmxPacket(0x7fff, {1, 2, 3, 4}, 9);
  ArtDmx dmx;
  ASSERT_EQ(readArtnetPacket(good.data(), good.size(), dmx), ArtnetRead::Dmx);
  EXPECT_EQ(dmx.portAddress, 0x7fff);
  EXPECT_EQ(dmx.sequence, 9);
  ASSERT_EQ(dmx.slotCount, 4);
  EXPECT_EQ(dmx.slots[3], 4);
  const std::vector<std::uint8_t> poll = artPollPacket();
  EXPECT_EQ(readArtnetPacket(poll.data(), poll.size(), dmx), ArtnetRead::Poll);
  std::vector<std::uint8_t> later = artDmxPacket(1, {5, 6});
  later[10] = 1;  // protocol version 270: later ones are good too
  EXPECT_EQ(readArtnetPacket(later.data(), later.size(), dmx), ArtnetRead::Dmx);
  const std::vector<std::uint8_t> sync = artnetHeader(0x5200);
  EXPECT_EQ(readArtnetPacket(sync.data(), sync.size(), dmx), ArtnetRead::Other);

  struct Break { const char* what; std::function<void(std::vector<std::uint8_t>&)> apply; };
  const std::vector<Break> breaks = {
      {"ID", [](auto& b) { b[0] = 'a'; }},
      {"ID's NUL", [](auto& b) { b[7] = ' '; }},
      {"protocol version 13", [](auto& b) { b[11] = 13; }},
      {"port-address above 15 bits", [](auto& b) { b[15] = 0x80; }},
      {"length 0", [](auto& b) { b[16] = 0; b[17] = 0; }},
      {"length 514", [](auto& b) { b[16] = 2; b[17] = 2; }},
      {"shorter than its length", [](auto& b) { b.pop_back(); }},
      {"no length", [](auto& b) { b.resize(17); }},
      {"no OpCode", [](auto& b) { b.resize(9); }},
  };
  for (const Break& broken : breaks) {
    std::vector<std::uint8_t> bytes = good;
    broken.apply(bytes);
    EXPECT_EQ(readArtnetPacket(bytes.data(), bytes.size(), dmx), ArtnetRead::Malformed) << broken.what;
  }
  std::vector<std::uint8_t> oldPoll = artPollPacket();
  oldPoll[11] = 13;
  EXPECT_EQ(readArtnetPacket(oldPoll.data(), oldPoll.size(), dmx), ArtnetRead::Malformed);
  oldPoll = artPollPacket();
  oldPoll.pop_back();
  EXPECT_EQ(readArtnetPacket(oldPoll.data(), oldPoll.size(), dmx), ArtnetRead::Malformed);
}

TEST(ArtnetPacket, PollRepliesGroupFourPortAddressesOfOneNetAndSubnet) {
  ArtnetNode node;
  node.address = 0xc0a80a02;  // 192.168.10.2
  node.shortName = "vantreld on a very long host name";
  node.longName = "vantreld: the units of the stage";
  node.portAddresses = {0x0105, 0x0101, 0x0000, 0x0102, 0x0103, 0x0104, 0x0101};
  const auto replies = artPollReplies(node);
  ASSERT_EQ(replies.size(), 3u);
  struct Expected { int net, subnet, ports; std::vector<int> swOut; };
  const Expected expected[] = {{0, 0, 1, {0}}, {1, 0, 4, {1, 2, 3, 4}}, {1, 0, 1, {5}}};
  for (std::size_t i = 0; i < replies.size(); ++i) {
    const auto& r = replies[i];
    EXPECT_EQ(std::memcmp(r.data(), "Art-Net\0", 8), 0);
    EXPECT_EQ(r[8], 0x00);  // OpPollReply 0x2100, low byte first
    EXPECT_EQ(r[9], 0x21);
    EXPECT_EQ((std::vector<int>{r[10], r[11], r[12], r[13]}), (std::vector<int>{192, 168, 10, 2}));
    EXPECT_EQ(r[14], 0x36);  // port 6454, low byte first
    EXPECT_EQ(r[15], 0x19);
    EXPECT_EQ(r[18], expected[i].net);
    EXPECT_EQ(r[19], expected[i].subnet);
    EXPECT_STREQ(reinterpret_cast<const char*>(&r[26]), "vantreld on a ver");  // 17 and a NUL
    EXPECT_STREQ(reinterpret_cast<const char*>(&r[44]), "vantreld: the units of the stage");
    EXPECT_EQ(r[172], 0);
    EXPECT_EQ(r[173], expected[i].ports);
    for (int port = 0; port < 4; ++port) {
      const bool used = port < expected[i].ports;
      EXPECT_EQ(r[174 + port], used ? 0x80 : 0x00);
      EXPECT_EQ(r[190 + port], used ? expected[i].swOut[port] : 0);
    }
    EXPECT_EQ((std::vector<int>{r[207], r[208], r[209], r[210]}), (std::vector<int>{192, 168, 10, 2}));
    EXPECT_EQ(r[211], i + 1);  // BindIndex
  }
  node.portAddresses.clear();
  ASSERT_EQ(artPollReplies(node).size(), 1u);
  EXPECT_EQ(artPollReplies(node)[0][173], 0);
}

TEST(ArtnetInput, TwoSourcesMergeHighestAndAThirdWaitsForOneToGo) {
  Fixture f;
  EXPECT_NE(f.send(artDmxPacket(0x0123, {10, 200}), kDeskA, 0).changed, nullptr);
  f.send(artDmxPacket(0x0123, {100, 50, 7}), kDeskB, 1000);
  EXPECT_EQ(f.level(0x0123, 1), 100);
  EXPECT_EQ(f.level(0x0123, 2), 200);
  EXPECT_EQ(f.level(0x0123, 3), 7);
  EXPECT_EQ(f.send(artDmxPacket(0x0123, {255, 255}), kDeskC, 2000).changed, nullptr);
  EXPECT_EQ(f.level(0x0123, 1), 100);
  EXPECT_EQ(f.input.counts().refused, 1u);
  ASSERT_EQ(f.changes.size(), 2u);
  EXPECT_EQ(f.changes[0].kind, SourceChange::Kind::Found);
  EXPECT_EQ(f.changes[0].universe, 0x0123);
  EXPECT_EQ(f.changes[1].source.address, kDeskB);

  // The first falls silent for 10 s: dropped, and the third may come in.
  f.send(artDmxPacket(0x0123, {100, 50, 7}), kDeskB, 5000000);
  EXPECT_EQ(f.input.deadlineUs(), kArtnetLossTimeoutUs);
  f.changes.clear();
  f.input.expire(kArtnetLossTimeoutUs - 1, f.changes);
  EXPECT_TRUE(f.changes.empty());
  f.input.expire(kArtnetLossTimeoutUs, f.changes);
  ASSERT_EQ(f.changes.size(), 1u);
  EXPECT_EQ(f.changes[0].kind, SourceChange::Kind::Lost);
  EXPECT_EQ(f.changes[0].source.address, kDeskA);
  EXPECT_FALSE(f.changes[0].lastOfUniverse);
  EXPECT_EQ(f.level(0x0123, 2), 50);
  EXPECT_NE(f.send(artDmxPacket(0x0123, {255}), kDeskC, kArtnetLossTimeoutUs).changed, nullptr);
  EXPECT_EQ(f.level(0x0123, 1), 255);

  f.changes.clear();
  f.input.expire(3 * kArtnetLossTimeoutUs, f.changes);
  ASSERT_EQ(f.changes.size(), 2u);
  EXPECT_TRUE(f.changes[1].lastOfUniverse);
  EXPECT_FALSE(f.input.find(0x0123)->live());
}

TEST(ArtnetInput, PollsOtherOpCodesUnusedPortsRefusedSendersAndJunkAreSortedAndCounted) {
  ArtnetInput input({1}, {kDeskA});
  std::vector<SourceChange> changes;
  auto send = [&](const std::vector<std::uint8_t>& bytes, std::uint32_t from) {
    return input.receive(bytes.data(), bytes.size(), from, 0, changes);
  };
  EXPECT_TRUE(send(artPollPacket(), kDeskB).poll);  // anyone may look for nodes
  EXPECT_EQ(send(artDmxPacket(1, {9}), kDeskB).changed, nullptr);
  EXPECT_EQ(send(artDmxPacket(2, {9}), kDeskA).changed, nullptr);
  EXPECT_EQ(send(artnetHeader(0x9700), kDeskA).changed, nullptr);
  for (const auto& junk : {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>(600, 0),
                           artnetHeader(0x5000, 13)}) {
    EXPECT_EQ(send(junk, kDeskA).changed, nullptr);
    EXPECT_NE(send(artDmxPacket(1, {42}), kDeskA).changed, nullptr);
    EXPECT_EQ(input.find(1)->levels()[0], 42);
  }
  EXPECT_EQ(input.counts().refused, 1u);
  EXPECT_EQ(input.counts().ignored, 2u);
  EXPECT_EQ(input.counts().malformed, 3u);
  EXPECT_EQ(input.counts().taken, 3u);
  EXPECT_EQ(input.portAddresses(), std::vector<int>{1});
}

}  // namespace
