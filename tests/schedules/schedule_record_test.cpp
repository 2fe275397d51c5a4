#include "schedules/schedule_record.hpp"

#include <string>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace {

TEST(ScheduleRecord, ReadsBackWhatItWroteAndLeavesOutADamagedLine) {
  TempDir dir;
  const std::string path = scheduleRecordPath(dir.path("state/levels"));
  EXPECT_EQ(path, dir.path("state/levels.schedules"));
  std::string warning;
  EXPECT_TRUE(readScheduleRecord(path, warning).empty());  // none yet
  EXPECT_EQ(warning, "");
  const ScheduleRecord record{{"dusk", {false, std::nullopt}}, {"opening", {true, 1765351800000}}};
  std::string reason;
  ASSERT_TRUE(writeScheduleRecord(path, record, reason)) << reason;
  const ScheduleRecord back = readScheduleRecord(path, warning);
  EXPECT_EQ(warning, "");
  ASSERT_EQ(back.size(), 2u);
  EXPECT_FALSE(back.at("dusk").on);
  EXPECT_FALSE(back.at("dusk").lastFiredMs);
  EXPECT_TRUE(back.at("opening").on);
  EXPECT_EQ(back.at("opening").lastFiredMs, 1765351800000);

  for (const char* damaged : {"opening maybe -", "opening on 2026-13-01T00:00:00.000Z", "Opening on -",
                              "opening on - more"}) {
    writeText(path, std::string("# vantreld's schedules\ndusk off -\n") + damaged + "\n");
    const ScheduleRecord read = readScheduleRecord(path, warning);
    EXPECT_EQ(read.size(), 1u) << damaged;
    EXPECT_EQ(warning, path + ":3: damaged, expected NAME on|off TIME; that schedule counts as on and never fired")
        << damaged;
  }
  EXPECT_FALSE(writeScheduleRecord("", record, reason));
  EXPECT_EQ(reason, "no file to keep the schedules' last firings in: set VANTREL_STATE");
}

}  // namespace
