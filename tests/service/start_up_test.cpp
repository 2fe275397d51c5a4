// A start of the service after a boot of the machine or after a restart of
// the service alone: what it knows, what on_start sends, and the record of
// the boot that tells the two apart.

#include "service/start_up.hpp"

#include <cstdlib>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace {

constexpr std::int64_t kHourMs = 3600 * 1000;
constexpr std::int64_t kNowMs = 1796000000000;  // late 2026

TEST(StartFacts, ABootIsANewOrMissingIdAndARestartKnowsWhatCameSinceTheBootsFirstStart) {
  const BootRecord before{"b1", kNowMs - kHourMs};
  const StartFacts restart = startFacts(before, "b1", kNowMs);
  EXPECT_FALSE(restart.boot);
  EXPECT_EQ(restart.knownSinceMs, kNowMs - kHourMs);
  for (const auto& [record, id] : {std::pair<BootRecord, std::string>{before, "b2"},
                                   {BootRecord{}, "b1"},  // the first start of all
                                   {before, ""}}) {      // no id to tell by: the safe guess
    const StartFacts boot = startFacts(record, id, kNowMs);
    EXPECT_TRUE(boot.boot) << record.bootId << " then '" << id << "'";
    EXPECT_EQ(boot.knownSinceMs, kNowMs);
  }
}

TEST(StartLevel, RestoreSendsOnlyALevelConfirmedWithinItsWindow) {
  const std::int64_t within = 12 * kHourMs;
  StartPolicy restore;
  restore.kind = StartPolicy::Kind::Restore;
  EXPECT_EQ(startLevel(restore, {128, kNowMs - 11 * kHourMs, 128, 128}, kNowMs, within), 128);
  EXPECT_EQ(startLevel(restore, {128, kNowMs - 13 * kHourMs, 128, 128}, kNowMs, within), -1);
  EXPECT_EQ(startLevel(restore, {}, kNowMs, within), -1);  // nothing remembered
  StartPolicy level;
  level.kind = StartPolicy::Kind::Level;
  level.level = 0;
  EXPECT_EQ(startLevel(level, {}, kNowMs, within), 0);
  EXPECT_EQ(startLevel(StartPolicy{}, {128, kNowMs, 128, 128}, kNowMs, within), -1);  // leave
}

TEST(BootRecord, IsWrittenReadAndAnythingElseIsNone) {
  TempDir dir;
  const std::string path = bootRecordPath(dir.path("state/levels"));
  std::string reason;
  ASSERT_TRUE(writeBootRecord(path, {"6f1c-22", kNowMs}, reason)) << reason;
  EXPECT_EQ(readText(path), "6f1c-22 1796000000000\n");
  const BootRecord read = readBootRecord(path);
  EXPECT_EQ(read.bootId, "6f1c-22");
  EXPECT_EQ(read.sinceMs, kNowMs);
  for (const char* damaged : {"", "6f1c-22\n", "6f1c-22 12x\n", "6f1c-22 -5\n"}) {
    writeText(path, damaged);
    EXPECT_EQ(readBootRecord(path).bootId, "") << damaged;
  }
  writeText(dir.path("id"), "6f1c-22\n");
  setenv("VANTREL_BOOT_ID_FILE", dir.path("id").c_str(), 1);
  EXPECT_EQ(currentBootId(), "6f1c-22");
  unsetenv("VANTREL_BOOT_ID_FILE");
  EXPECT_EQ(currentBootId().size(), 36u);  // the kernel's
}

}  // namespace
