#include "units/remembered_levels.hpp"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/files.hpp"
#include "support/temp_dir.hpp"
#include "units/utc_time.hpp"

namespace {

using Levels = std::vector<std::pair<UnitKey, RememberedLevel>>;

const std::int64_t kDecember8 = 1796741283125;  // 2026-12-08T14:48:03.125Z
const UnitKey kCounter = {"192.168.0.20", 4001, 1};
const UnitKey kShelf = {"shelf.local", 4002, 2};

std::string remember(const std::string& path, const Levels& levels) {
  std::string warning;
  EXPECT_TRUE(rememberLevels(path, levels, warning)) << warning;
  return warning;
}

RememberedLevels readBack(const std::string& path) {
  std::string warning;
  RememberedLevels levels = RememberedLevels::read(path, warning);
  EXPECT_EQ(warning, "");
  return levels;
}

TEST(UtcTime, WritesAndReadsIso8601WithMilliseconds) {
  struct Case { std::int64_t ms; const char* text; };
  for (const Case& c : {Case{0, "1970-01-01T00:00:00.000Z"},
                        Case{-1, "1969-12-31T23:59:59.999Z"},
                        Case{kDecember8, "2026-12-08T14:48:03.125Z"},
                        Case{1709251199999, "2024-02-29T23:59:59.999Z"},
                        Case{4107542400000, "2100-03-01T00:00:00.000Z"}}) {
    EXPECT_EQ(utcTimeText(c.ms), c.text);
    std::int64_t ms = 7;
    EXPECT_TRUE(parseUtcTime(c.text, ms)) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
  for (const char* text : {"2023-02-29T00:00:00.000Z", "2100-02-29T00:00:00.000Z",
                           "2026-04-31T00:00:00.000Z", "2026-13-01T00:00:00.000Z",
                           "2026-12-08T24:00:00.000Z", "2026-12-08T14:60:03.125Z",
                           "2026-12-08 14:48:03.125Z", "2026-12-08T14:48:03.125",
                           "2026-12-08T14:48:03Z", "2026-12-08T14:48:03.1250Z",
                           "+026-12-08T14:48:03.125Z", ""}) {
    std::int64_t ms = 7;
    EXPECT_FALSE(parseUtcTime(text, ms)) << text;
    EXPECT_EQ(ms, 7) << text;
  }
}

TEST(LocalTimeText, ShowsTheSecondThatTheMillisecondsFallIn) {
  // Time zones differ by whole minutes: the date and the seconds are known anywhere.
  const std::string text = localTimeText(kDecember8);
  ASSERT_EQ(text.size(), 19u) << text;
  EXPECT_EQ(text.substr(0, 9), "2026-12-0") << text;
  EXPECT_EQ(text.substr(13, 1) + text.substr(16), "::03") << text;
  EXPECT_EQ(localTimeText(kDecember8 + 874).substr(16), ":03");
  EXPECT_EQ(localTimeText(kDecember8 - 126).substr(16), ":02");
}

TEST(RememberLevels, WritesALinePerUnitThatReadsBack) {
  const TempDir dir;
  const std::string path = dir.path("state/vantrel/levels");
  remember(path, {{kCounter, {204, kDecember8, 204}}, {kShelf, {0, 0, -1}}});
  EXPECT_EQ(readText(path),
            "# ADDRESS PORT TYPE LEVEL CONFIRMED LAST_ON\n"
            "192.168.0.20 4001 1 204 2026-12-08T14:48:03.125Z 204\n"
            "shelf.local 4002 2 0 1970-01-01T00:00:00.000Z -\n");
  const RememberedLevels levels = readBack(path);
  ASSERT_EQ(levels.entries().size(), 2u);
  EXPECT_EQ(levels.find(kCounter).level, 204);
  EXPECT_EQ(levels.find(kCounter).confirmedMs, kDecember8);
  EXPECT_EQ(levels.find(kCounter).lastOn, 204);
  EXPECT_EQ(levels.find(kShelf).lastOn, -1);
  // The address, the port and the type make the unit.
  EXPECT_EQ(levels.find({"192.168.0.20", 4001, 2}).level, -1);
  EXPECT_EQ(levels.find({"192.168.0.20", 4002, 1}).level, -1);
}

TEST(RememberLevels, KeepsTheByteSentBesideALevelOnlyWhereTheyDiffer) {
  const TempDir dir;
  const std::string path = dir.path("levels");
  remember(path, {{kCounter, {128, kDecember8, 128, 56}}, {kShelf, {200, kDecember8, 200, 200}}});
  EXPECT_EQ(readText(path),
            "# ADDRESS PORT TYPE LEVEL CONFIRMED LAST_ON\n"
            "192.168.0.20 4001 1 128 2026-12-08T14:48:03.125Z 128 56\n"
            "shelf.local 4002 2 200 2026-12-08T14:48:03.125Z 200\n");
  const RememberedLevels levels = readBack(path);
  EXPECT_EQ(levels.find(kCounter).sent, 56);
  EXPECT_EQ(levels.find(kShelf).sent, -1);
  // A newer level without a byte of its own is sent as itself.
  remember(path, {{kCounter, {90, kDecember8 + 1, 90}}});
  EXPECT_EQ(readBack(path).find(kCounter).sent, -1);
  writeText(path, "192.168.0.20 4001 1 128 2026-12-08T14:48:03.125Z 128 256\n");
  std::string warning;
  EXPECT_TRUE(RememberedLevels::read(path, warning).entries().empty());
  EXPECT_NE(warning, "");
}

TEST(RememberLevels, TheNewerConfirmationWinsAndKeepsTheLastOn) {
  const TempDir dir;
  const std::string path = dir.path("levels");
  remember(path, {{kCounter, {200, 2000, 200}}, {kShelf, {10, 2000, 10}}});
  remember(path, {{kCounter, {50, 1000, 50}}});  // confirmed earlier, written later
  remember(path, {{kShelf, {0, 3000, -1}}});
  const RememberedLevels levels = readBack(path);
  EXPECT_EQ(levels.find(kCounter).level, 200);
  EXPECT_EQ(levels.find(kCounter).lastOn, 200);
  EXPECT_EQ(levels.find(kShelf).level, 0);
  EXPECT_EQ(levels.find(kShelf).confirmedMs, 3000);
  EXPECT_EQ(levels.find(kShelf).lastOn, 10);
}

TEST(RememberedLevels, AMissingFileHoldsNoneAndAnUnreadableOneWarns) {
  const TempDir dir;
  std::string warning;
  EXPECT_TRUE(RememberedLevels::read(dir.path("levels"), warning).entries().empty());
  EXPECT_EQ(warning, "");
  EXPECT_TRUE(RememberedLevels::read(dir.path(), warning).entries().empty());
  EXPECT_EQ(warning.rfind(dir.path() + ": cannot read: ", 0), 0u) << warning;
}

TEST(RememberedLevels, ADamagedFileWarnsCountsAsEmptyAndIsReplacedByTheNextWrite) {
  const TempDir dir;
  const std::string path = dir.path("levels");
  for (const char* damage : {"192.168.0.20 4001 1 256 2026-12-08T14:48:03.125Z -",
                             "192.168.0.20 4001 3 0 2026-12-08T14:48:03.125Z -",
                             "192.168.0.20 4001 1 0 2026-12-08T14:48:03.125Z 0",
                             "192.168.0.20 4001 1 0 2026-12-08T14:48:03Z -",
                             "192.168.0.20 4001 1 0 2026-12-08T14:48:03.125Z",
                             "192.168.0.20 4001 1 0 2026-12-08T14:48:03.125Z - x"}) {
    writeText(path, std::string("# ADDRESS PORT TYPE LEVEL CONFIRMED LAST_ON\n"
                                "shelf.local 4002 2 0 2026-12-08T14:48:03.125Z -\n") +
                        damage + "\n");
    std::string warning;
    EXPECT_TRUE(RememberedLevels::read(path, warning).entries().empty()) << damage;
    EXPECT_EQ(warning, path + ":3: damaged, expected ADDRESS PORT TYPE LEVEL CONFIRMED LAST_ON; "
                              "the levels in it count as unknown");
  }
  remember(path, {{kCounter, {1, kDecember8, 1}}});
  const RememberedLevels levels = readBack(path);
  ASSERT_EQ(levels.entries().size(), 1u);
  EXPECT_EQ(levels.find(kCounter).level, 1);
}

TEST(RememberLevels, AFailedWriteLeavesTheOldFileWhole) {
  const TempDir dir;
  const std::string path = dir.path("levels");
  remember(path, {{kCounter, {204, kDecember8, 204}}});
  const std::string before = readText(path);
  // Root may write anywhere: a directory where the new file would go stops even root.
  writeText(path + ".tmp/in-the-way", "");
  std::string warning;
  EXPECT_FALSE(rememberLevels(path, {{kShelf, {1, kDecember8, 1}}}, warning));
  EXPECT_EQ(warning.rfind("levels not remembered: " + path + ": cannot create " + path + ".tmp: ", 0),
            0u)
      << warning;
  EXPECT_EQ(readText(path), before);
}

TEST(RememberLevels, WritersAtTheSameTimeLoseNoneOfEachOthersLevels) {
  const TempDir dir;
  const std::string path = dir.path("levels");
  std::atomic<bool> go{false};
  std::vector<std::thread> writers;
  for (int i = 0; i < 8; ++i) {
    writers.emplace_back([&, i] {
      while (!go.load()) {
      }
      std::string warning;
      EXPECT_TRUE(rememberLevels(path, {{{"10.0.0." + std::to_string(i), 4001, 1}, {i, i, -1}}},
                                 warning))
          << warning;
    });
  }
  go.store(true);
  for (std::thread& writer : writers)
    writer.join();
  const RememberedLevels levels = readBack(path);
  EXPECT_EQ(levels.entries().size(), 8u);
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(levels.find({"10.0.0." + std::to_string(i), 4001, 1}).level, i) << i;
}

}  // namespace
