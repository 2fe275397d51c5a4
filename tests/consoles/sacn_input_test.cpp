#include "consoles/sacn_input.hpp"
#include "consoles/sacn_packet.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "support/console_packets.hpp"

namespace {

constexpr std::uint32_t kDeskA = 0x0a000001;  // 10.0.0.1
constexpr std::uint32_t kDeskB = 0x0a000002;

SacnPacketFields desk(std::uint8_t id, int priority, std::vector<std::uint8_t> slots) {
  SacnPacketFields fields;
  fields.cid.fill(id);
  fields.priority = priority;
  fields.slots = std::move(slots);
  return fields;
}

struct Fixture {
  SacnInput input{{1, 2}, {}, kSacnLossTimeoutUs};
  std::vector<SourceChange> changes;
  const SacnUniverse* send(const SacnPacketFields& fields, std::uint32_t from, std::int64_t nowUs) {
    const std::vector<std::uint8_t> bytes = sacnPacket(fields);
    return input.receive(bytes.data(), bytes.size(), from, nowUs, changes);
  }
  int level(int universe, int channel) const { return input.find(universe)->levels()[channel - 1]; }
};

TEST(SacnPacket, ReadsEveryFieldOfADataPacket) {
  SacnPacketFields fields = desk(7, 150, {10, 20, 30});
  fields.name = "Desk A";
  fields.sequence = 42;
  fields.options = 0x40;
  fields.universe = 63999;
  const std::vector<std::uint8_t> bytes = sacnPacket(fields);
  SacnPacket packet;
  ASSERT_EQ(readSacnPacket(bytes.data(), bytes.size(), packet), SacnRead::Data);
  EXPECT_EQ(packet.cid, fields.cid);
  EXPECT_EQ(packet.sourceName, "Desk A");
  EXPECT_EQ(packet.priority, 150);
  EXPECT_EQ(packet.sequence, 42);
  EXPECT_FALSE(packet.preview);
  EXPECT_TRUE(packet.terminated);
  EXPECT_EQ(packet.universe, 63999);
  EXPECT_EQ(packet.startCode, 0);
  ASSERT_EQ(packet.slotCount, 3);
  EXPECT_EQ(packet.slots[2], 30);
  EXPECT_EQ(sacnCidText(fields.cid), "07070707-0707-0707-0707-070707070707");
}

TEST(SacnPacket, RefusesAPacketBrokenAtAnyLayer) {
  const std::vector<std::uint8_t> good = sacnPacket(desk(1, 100, std::vector<std::uint8_t>(512, 9)));
  struct Break { const char* what; std::function<void(std::vector<std::uint8_t>&)> apply; };
  const std::vector<Break> breaks = {
      {"preamble size", [](auto& b) { b[1] = 0x11; }},
      {"post-amble size", [](auto& b) { b[3] = 1; }},
      {"identifier", [](auto& b) { b[8] = 'X'; }},
      {"identifier padding", [](auto& b) { b[15] = 1; }},
      {"root flags", [](auto& b) { b[16] = static_cast<std::uint8_t>((b[16] & 0x0f) | 0x50); }},
      {"root length", [](auto& b) { b[17] ^= 1; }},
      {"root vector", [](auto& b) { b[21] = 5; }},
      {"framing flags", [](auto& b) { b[38] &= 0x0f; }},
      {"framing length", [](auto& b) { b[39] ^= 2; }},
      {"framing vector", [](auto& b) { b[43] = 3; }},
      {"priority above 200", [](auto& b) { b[108] = 201; }},
      {"universe 0", [](auto& b) { b[113] = 0; b[114] = 0; }},
      {"universe 64000", [](auto& b) { b[113] = 0xfa; b[114] = 0x00; }},
      {"DMP flags", [](auto& b) { b[115] = static_cast<std::uint8_t>((b[115] & 0x0f) | 0x30); }},
      {"DMP length", [](auto& b) { b[116] ^= 4; }},
      {"DMP vector", [](auto& b) { b[117] = 0x01; }},
      {"address and data type", [](auto& b) { b[118] = 0xa2; }},
      {"first property address", [](auto& b) { b[120] = 1; }},
      {"address increment", [](auto& b) { b[122] = 2; }},
      {"property count", [](auto& b) { b[124] ^= 1; }},
      {"one byte short", [](auto& b) { b.pop_back(); }},
      {"one byte long", [](auto& b) { b.push_back(0); }},
      {"no start code", [](auto& b) { b.resize(125); }},
      {"empty", [](auto& b) { b.clear(); }},
  };
  for (const Break& broken : breaks) {
    std::vector<std::uint8_t> bytes = good;
    broken.apply(bytes);
    SacnPacket packet;
    EXPECT_EQ(readSacnPacket(bytes.data(), bytes.size(), packet), SacnRead::Malformed) << broken.what;
  }
  // A synchronization packet: root vector 8, framing vector 1; no levels.
  std::vector<std::uint8_t> sync(good.begin(), good.begin() + 49);
  sync[16] = 0x70; sync[17] = 49 - 16; sync[21] = 8;
  sync[38] = 0x70; sync[39] = 49 - 38; sync[43] = 1;
  SacnPacket packet;
  EXPECT_EQ(readSacnPacket(sync.data(), sync.size(), packet), SacnRead::Extended);
}

TEST(SacnPacket, SequenceRuleDropsTheTwentyBehindAndTheSame) {
  struct Case { int last; int received; bool late; };
  for (const Case& c : {Case{10, 10, true}, Case{10, 9, true}, Case{10, 247, true}, Case{10, 246, false},
                        Case{10, 11, false}, Case{10, 137, false}, Case{255, 0, false},
                        Case{0, 255, true}, Case{5, 250, true}, Case{5, 241, false}}) {
    EXPECT_EQ(sacnSequenceIsLate(static_cast<std::uint8_t>(c.last), static_cast<std::uint8_t>(c.received)),
              c.late) << c.last << " then " << c.received;
  }
}

TEST(SacnInput, HigherPriorityTakesOverAndTheLowerComesBackWhenItGoes) {
  Fixture f;
  ASSERT_NE(f.send(desk(1, 100, {50, 60}), kDeskA, 0), nullptr);
  EXPECT_EQ(f.level(1, 1), 50);
  SacnPacketFields high = desk(2, 150, {20});
  f.send(high, kDeskB, 1000);
  EXPECT_EQ(f.level(1, 1), 20);
  EXPECT_EQ(f.level(1, 2), 0);  // the winner sends one slot only
  EXPECT_EQ(f.input.find(1)->coveredSlots(), 1);
  EXPECT_EQ(f.input.find(1)->winningPriority(), 150);
  ASSERT_EQ(f.changes.size(), 2u);
  EXPECT_EQ(f.changes[1].kind, SourceChange::Kind::Found);
  EXPECT_EQ(f.changes[1].source.priority, 150);
  EXPECT_EQ(f.changes[1].source.address, kDeskB);

  // A lower packet of the first desk changes nothing while the higher lives.
  SacnPacketFields low = desk(1, 100, {90, 60});
  low.sequence = 1;
  f.send(low, kDeskA, 2000);
  EXPECT_EQ(f.level(1, 1), 20);

  high.sequence = 1;
  high.options = 0x40;  // Stream_Terminated: gone at once
  f.send(high, kDeskB, 3000);
  EXPECT_EQ(f.level(1, 1), 90);
  EXPECT_EQ(f.level(1, 2), 60);
  ASSERT_EQ(f.changes.size(), 3u);
  EXPECT_EQ(f.changes[2].kind, SourceChange::Kind::Terminated);
  EXPECT_FALSE(f.changes[2].lastOfUniverse);

  // Back again, then silent: lost at the time-out, and the first drives again.
  high.sequence = 2;
  high.options = 0;
  f.send(high, kDeskB, 4000);
  EXPECT_EQ(f.level(1, 1), 20);
  low.sequence = 2;
  f.send(low, kDeskA, 2000000);
  f.changes.clear();
  EXPECT_EQ(f.input.deadlineUs(), 4000 + kSacnLossTimeoutUs);
  f.input.expire(4000 + kSacnLossTimeoutUs - 1, f.changes);
  EXPECT_TRUE(f.changes.empty());
  f.input.expire(4000 + kSacnLossTimeoutUs, f.changes);
  ASSERT_EQ(f.changes.size(), 1u);
  EXPECT_EQ(f.changes[0].kind, SourceChange::Kind::Lost);
  EXPECT_EQ(f.changes[0].source.cid, "02020202-0202-0202-0202-020202020202");
  EXPECT_FALSE(f.changes[0].lastOfUniverse);
  EXPECT_EQ(f.level(1, 1), 90);
}

TEST(SacnInput, EqualPrioritiesMergeHighestLevelPerChannel) {
  Fixture f;
  f.send(desk(1, 100, {10, 200, 0}), kDeskA, 0);
  f.send(desk(2, 100, {100, 50}), kDeskB, 0);
  EXPECT_EQ(f.level(1, 1), 100);
  EXPECT_EQ(f.level(1, 2), 200);
  EXPECT_EQ(f.level(1, 3), 0);
  EXPECT_EQ(f.input.find(1)->coveredSlots(), 3);
  EXPECT_EQ(f.input.find(1)->sources().size(), 2u);
  // Universes keep apart.
  SacnPacketFields other = desk(1, 100, {255});
  other.universe = 2;
  f.send(other, kDeskA, 0);
  EXPECT_EQ(f.level(1, 1), 100);
  EXPECT_EQ(f.level(2, 1), 255);
}

TEST(SacnInput, TheLastSourceLostOrTerminatedLeavesTheUniverseDark) {
  for (const bool terminate : {false, true}) {
    Fixture f;
    f.send(desk(1, 100, {50}), kDeskA, 0);
    f.send(desk(2, 100, {70}), kDeskB, 0);
    f.changes.clear();
    if (terminate) {
      for (std::uint8_t id : {1, 2}) {
        SacnPacketFields end = desk(id, 100, {0});
        end.sequence = 1;
        end.options = 0x40;
        f.send(end, id == 1 ? kDeskA : kDeskB, 10);
      }
    } else {
      f.input.expire(kSacnLossTimeoutUs, f.changes);
    }
    ASSERT_EQ(f.changes.size(), 2u) << terminate;
    EXPECT_FALSE(f.changes[0].lastOfUniverse);
    EXPECT_TRUE(f.changes[1].lastOfUniverse);
    EXPECT_EQ(f.changes[1].universe, 1);
    EXPECT_FALSE(f.input.find(1)->live());
    EXPECT_EQ(f.input.find(1)->winningPriority(), -1);
    EXPECT_EQ(f.input.deadlineUs(), INT64_MAX);
  }
}

TEST(SacnInput, PreviewOtherStartCodesAndOtherUniversesAreNeverLevels) {
  Fixture f;
  f.send(desk(1, 100, {50}), kDeskA, 0);
  SacnPacketFields preview = desk(1, 100, {255});
  preview.sequence = 1;
  preview.options = 0x80;
  SacnPacketFields priorities = desk(1, 100, {255});  // an ETC desk's per-channel priorities
  priorities.sequence = 2;
  priorities.startCode = 0xdd;
  SacnPacketFields elsewhere = desk(1, 100, {255});
  elsewhere.universe = 3;
  for (const SacnPacketFields& fields : {preview, priorities, elsewhere})
    EXPECT_EQ(f.send(fields, kDeskA, 10), nullptr);
  EXPECT_EQ(f.level(1, 1), 50);
  EXPECT_EQ(f.input.counts().ignored, 3u);
  EXPECT_EQ(f.input.counts().taken, 1u);
  // A 0xDD packet from a desk never heard at start code 0 finds no source.
  SacnPacketFields stranger = priorities;
  stranger.cid.fill(9);
  f.send(stranger, kDeskB, 10);
  EXPECT_EQ(f.input.find(1)->sources().size(), 1u);
}

TEST(SacnInput, LatePacketsAreDroppedAndCounted) {
  Fixture f;
  SacnPacketFields fields = desk(1, 100, {50});
  fields.sequence = 100;
  f.send(fields, kDeskA, 0);
  for (const int sequence : {100, 99, 81}) {
    fields.sequence = static_cast<std::uint8_t>(sequence);
    fields.slots = {1};
    EXPECT_EQ(f.send(fields, kDeskA, 10), nullptr) << sequence;
  }
  EXPECT_EQ(f.level(1, 1), 50);
  EXPECT_EQ(f.input.counts().late, 3u);
  fields.sequence = 80;  // 20 behind: a restarted sender, taken
  fields.slots = {2};
  f.send(fields, kDeskA, 10);
  EXPECT_EQ(f.level(1, 1), 2);
  // Each source has its own numbers.
  SacnPacketFields other = desk(2, 100, {3});
  other.sequence = 80;
  EXPECT_NE(f.send(other, kDeskB, 10), nullptr);
}

TEST(SacnInput, OnlyTheListedSourcesAreTaken) {
  SacnInput input({1}, {kDeskB}, kSacnLossTimeoutUs);
  std::vector<SourceChange> changes;
  const std::vector<std::uint8_t> bytes = sacnPacket(desk(1, 100, {50}));
  EXPECT_EQ(input.receive(bytes.data(), bytes.size(), kDeskA, 0, changes), nullptr);
  EXPECT_EQ(input.counts().refused, 1u);
  EXPECT_NE(input.receive(bytes.data(), bytes.size(), kDeskB, 0, changes), nullptr);
  EXPECT_EQ(input.find(1)->levels()[0], 50);
}

TEST(SacnInput, MalformedDatagramsAreCountedWithoutDisturbingTheGoodOnes) {
  Fixture f;
  SacnPacketFields fields = desk(1, 100, {50});
  std::vector<std::uint8_t> broken = sacnPacket(desk(1, 100, {255}));
  broken[118] = 0;
  const std::vector<std::vector<std::uint8_t>> junk = {
      {}, {0x00, 0x10}, broken, std::vector<std::uint8_t>(700, 0xff),
      std::vector<std::uint8_t>(broken.begin(), broken.begin() + 60)};
  for (int round = 0; round < 3; ++round) {
    fields.sequence = static_cast<std::uint8_t>(round);
    fields.slots = {static_cast<std::uint8_t>(50 + round)};
    f.send(fields, kDeskA, round);
    for (const auto& bytes : junk)
      EXPECT_EQ(f.input.receive(bytes.data(), bytes.size(), kDeskA, round, f.changes), nullptr);
    EXPECT_EQ(f.level(1, 1), 50 + round);
  }
  EXPECT_EQ(f.input.counts().malformed, 15u);
  EXPECT_EQ(f.input.counts().taken, 3u);
  EXPECT_EQ(f.input.find(1)->sources().size(), 1u);
}

}  // namespace
