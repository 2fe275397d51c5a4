#include "units/saved_scenes.hpp"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace {

SavedUnit unit(const char* address, std::uint16_t port, int type, const char* name, int level) {
  SavedUnit saved;
  saved.key = {address, port, type};
  saved.name = name;
  saved.level = level;
  return saved;
}

const SavedUnit kCounter = unit("192.168.0.20", 4001, 1, "counter", 204);
const SavedUnit kShelf = unit("shelf.local", 4002, 2, "shelf", 0);

SavedScenes readBack(const std::string& path) {
  std::vector<std::string> warnings;
  SavedScenes scenes = SavedScenes::read(path, warnings);
  EXPECT_EQ(warnings, std::vector<std::string>{});
  return scenes;
}

void save(const std::string& path, const SavedScene& scene) {
  std::string reason;
  EXPECT_TRUE(saveScene(path, scene, reason)) << reason;
}

TEST(SavedScenes, SaveReplaceAndRemoveReadBack) {
  const TempDir dir;
  const std::string path = dir.path("state/levels.scenes");
  save(path, {"evening", {kCounter, kShelf}});
  save(path, {"night", {kShelf}});
  EXPECT_EQ(readText(path), "# vantrel saved scenes 1\n# SCENE ADDRESS PORT TYPE LEVEL UNIT\n"
                            "evening 192.168.0.20 4001 1 204 counter\n"
                            "evening shelf.local 4002 2 0 shelf\n"
                            "night shelf.local 4002 2 0 shelf\n");
  save(path, {"evening", {unit("192.168.0.20", 4001, 1, "counter", 17)}});
  SavedScenes scenes = readBack(path);
  ASSERT_EQ(scenes.scenes().size(), 2u);
  const SavedScene* evening = scenes.find("evening");
  ASSERT_NE(evening, nullptr);
  ASSERT_EQ(evening->units.size(), 1u);
  EXPECT_EQ(evening->units[0].level, 17);
  EXPECT_TRUE(evening->units[0].key == kCounter.key);
  const SavedScene* night = scenes.find("night");
  ASSERT_NE(night, nullptr);
  EXPECT_EQ(night->units[0].name, "shelf");
  EXPECT_TRUE(night->units[0].key == kShelf.key);

  std::string reason;
  EXPECT_TRUE(removeScene(path, "evening", reason)) << reason;
  EXPECT_FALSE(removeScene(path, "evening", reason));
  EXPECT_EQ(reason, "no saved scene 'evening'");
  scenes = readBack(path);
  EXPECT_EQ(scenes.find("evening"), nullptr);
  EXPECT_NE(scenes.find("night"), nullptr);
}

TEST(SavedScenes, TheLimitsAreRefusedClearly) {
  const TempDir dir;
  const std::string path = dir.path("levels.scenes");
  std::string reason;
  SavedScene big{"big", {}};
  for (std::size_t i = 0; i <= kMaxSavedSceneUnits; ++i)
    big.units.push_back(unit(("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256)).c_str(),
                             4001, 1, "u", 1));
  EXPECT_FALSE(saveScene(path, big, reason));
  EXPECT_EQ(reason, "scene 'big' has 1025 units; a saved scene holds at most 1024");
  big.units.pop_back();
  save(path, big);
  EXPECT_FALSE(saveScene(path, {"empty", {}}, reason));
  EXPECT_EQ(reason, "scene 'empty' has no unit to save");
  EXPECT_FALSE(saveScene(path, {"Bad name", {kCounter}}, reason));

  SavedScenes many;
  for (std::size_t i = 0; i < kMaxSavedScenes; ++i)
    many.put({"s" + std::to_string(i), {kCounter}});
  writeText(path, many.text());
  EXPECT_FALSE(saveScene(path, {"one-more", {kCounter}}, reason));
  EXPECT_EQ(reason, "already 250 saved scenes, the most there can be: remove one first");
  save(path, {"s7", {kShelf}});  // replacing one is no more
  EXPECT_EQ(readBack(path).scenes().size(), kMaxSavedScenes);
}

TEST(SavedScenes, ADamagedLineIsNamedAndLeftOutTheOthersKept) {
  const TempDir dir;
  const std::string path = dir.path("levels.scenes");
  writeText(path, "# vantrel saved scenes 1\n"
                  "evening 192.168.0.20 4001 1 204 counter\n"
                  "evening 192.168.0.21 4001 3 204 shelf\r\n"
                  "evening 192.168.0.22 4001 1\n"
                  "night 192.168.0.20 4001 1 0 counter extra\n"
                  "night 192.168.0.20 4001 1 9 counter\n");
  std::vector<std::string> warnings;
  const SavedScenes scenes = SavedScenes::read(path, warnings);
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          path + ":3:27: expected type 1 or 2, not '3'; the line is left out",
                          path + ":4:28: missing a level from 0 to 255; the line is left out",
                          path + ":5:37: unexpected 'extra' after the unit's name; the line is left out"}));
  ASSERT_EQ(scenes.scenes().size(), 2u);
  EXPECT_EQ(scenes.find("evening")->units.size(), 1u);
  EXPECT_EQ(scenes.find("night")->units[0].level, 9);
  EXPECT_TRUE(scenes.writable());

  // Another version's file is read as none, and never written over.
  writeText(path, "# vantrel saved scenes 2\nevening 192.168.0.20 4001 1 204 counter\n");
  warnings.clear();
  EXPECT_TRUE(SavedScenes::read(path, warnings).scenes().empty());
  EXPECT_EQ(warnings, std::vector<std::string>{path + ":1:1: saved scenes of another version ('2'), "
                                                      "not 1; no scene of it is read"});
  std::string reason;
  EXPECT_FALSE(saveScene(path, {"evening", {kCounter}}, reason));
  EXPECT_EQ(readText(path), "# vantrel saved scenes 2\nevening 192.168.0.20 4001 1 204 counter\n");
}

TEST(SavedScenes, ASaveThatCannotBeWrittenLeavesTheOldFileWhole) {
  const TempDir dir;
  const std::string path = dir.path("levels.scenes");
  save(path, {"evening", {kCounter}});
  const std::string before = readText(path);
  // Root may write anywhere: a directory where the new file would go stops even root.
  writeText(path + ".tmp/in-the-way", "");
  std::string reason;
  EXPECT_FALSE(saveScene(path, {"night", {kShelf}}, reason));
  EXPECT_EQ(reason.rfind("cannot create " + path + ".tmp: ", 0), 0u) << reason;
  EXPECT_FALSE(removeScene(path, "evening", reason));
  EXPECT_EQ(readText(path), before);
}

TEST(SavedScenes, SaversAtTheSameTimeLoseNoneOfEachOthersScenes) {
  const TempDir dir;
  const std::string path = dir.path("levels.scenes");
  std::atomic<bool> go{false};
  std::vector<std::thread> savers;
  for (int i = 0; i < 8; ++i) {
    savers.emplace_back([&, i] {
      while (!go.load()) {
      }
      save(path, {"s" + std::to_string(i), {kCounter}});
    });
  }
  go.store(true);
  for (std::thread& saver : savers)
    saver.join();
  EXPECT_EQ(readBack(path).scenes().size(), 8u);
}

}  // namespace
