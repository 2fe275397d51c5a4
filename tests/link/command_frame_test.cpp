#include "link/command_frame.hpp"

#include <cstring>

#include <gtest/gtest.h>

namespace {

TEST(CommandFrame, CarriesHeaderCommandCodeOfTheUnitTypeAndLevel) {
  const unsigned char type1[] = {0x7E, 0x5A, 0x04, 0x80};
  const unsigned char type2[] = {0x7E, 0x5A, 0x05, 0xFF};
  EXPECT_EQ(std::memcmp(buildCommandFrame(1, 128).bytes, type1, 4), 0);
  EXPECT_EQ(std::memcmp(buildCommandFrame(2, 255).bytes, type2, 4), 0);
}

TEST(IsEcho, NeedsAllFourBytesBackUnchanged) {
  const CommandFrame frame = buildCommandFrame(1, 0);
  unsigned char reply[4] = {0x7E, 0x5A, 0x04, 0x00};
  EXPECT_TRUE(isEcho(frame, reply, 4));
  for (int i = 0; i < 4; ++i) {
    unsigned char changed[4] = {0x7E, 0x5A, 0x04, 0x00};
    changed[i] ^= 0x01;
    EXPECT_FALSE(isEcho(frame, changed, 4)) << "byte " << i;
  }
}

TEST(IsEcho, CountsOnlyAFullReply) {
  // A short reply can leave the zeroed buffer equal to a level-0 frame.
  const CommandFrame frame = buildCommandFrame(1, 0);
  const unsigned char reply[4] = {0x7E, 0x5A, 0x04, 0x00};
  for (long count : {-1L, 0L, 1L, 3L, 5L})
    EXPECT_FALSE(isEcho(frame, reply, count)) << "count " << count;
}

}  // namespace
