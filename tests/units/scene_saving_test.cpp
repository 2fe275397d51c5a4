// What a save decides, for the tools and the service alike: which units, in what order, which are
// left out, and the words of each refusal.

#include "units/scene_saving.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

UnitsFile shop() {
  UnitsFile file;
  std::vector<std::string> problems;
  EXPECT_TRUE(parseUnitsFile("[units.a]\naddress = \"10.0.0.1\"\nport = 1\ntype = 1\n"
                             "[units.b]\naddress = \"10.0.0.2\"\nport = 1\ntype = 1\n"
                             "[units.c]\naddress = \"10.0.0.3\"\nport = 1\ntype = 2\n"
                             "[groups]\nab = [\"a\", \"b\"]\n[scenes.open]\na = 255\n",
                             "v.toml", file, problems));
  return file;
}

std::vector<std::string> names(const std::vector<SavedUnit>& units) {
  std::vector<std::string> named;
  for (const SavedUnit& unit : units)
    named.push_back(unit.name);
  return named;
}

TEST(SceneSaving, ChoosesEachUnitOnceInTheFilesOrderOrSaysWhyNot) {
  using R = SceneSaving::Refusal;
  struct Case {
    const char* name;
    std::vector<std::string> targets;
    R refusal;
    std::vector<std::string> chosen;
    const char* problem;
  };
  const Case cases[] = {
      {"evening", {}, R::None, {"a", "b", "c"}, ""},
      {"evening", {"c", "b", "ab"}, R::None, {"a", "b", "c"}, ""},
      {"Evening", {}, R::BadName, {}, "invalid scene name 'Evening': 1 to 32 of a-z, 0-9, - and _"},
      {"open", {"a"}, R::Written, {},
       "v.toml:15: scene 'open' is written in the units file: a saved scene takes another name"},
      {"evening", {"a", "zz"}, R::UnknownTarget, {}, "unknown unit or group 'zz'"},
  };
  const UnitsFile file = shop();
  for (const Case& c : cases) {
    const SceneSaving saving = chooseSceneUnits(file, c.name, c.targets);
    EXPECT_EQ(saving.refusal, c.refusal) << c.name;
    EXPECT_EQ(names(saving.chosen), c.chosen) << c.name;
    EXPECT_EQ(saving.problem, c.problem) << c.name;
  }
}

TEST(SceneSaving, KeepsTheKnownLevelsAndNamesTheOthers) {
  const UnitsFile file = shop();
  SceneSaving saving = chooseSceneUnits(file, "evening", {});
  saving.chosen.push_back(saving.chosen[1]);  // b named twice, as a raw client may
  keepKnown(saving, {-1, 40, 90, 41});
  EXPECT_EQ(saving.refusal, SceneSaving::Refusal::None);
  EXPECT_EQ(names(saving.scene.units), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(saving.scene.units[0].level, 40);
  EXPECT_EQ(leftOutLine(saving), "scene 'evening': left out, level not known: a");

  keepKnown(saving, {-1, -1, -1, -1});
  EXPECT_EQ(saving.refusal, SceneSaving::Refusal::NothingKnown);
  EXPECT_EQ(saving.problem, "scene 'evening' not saved: no unit's level is known: a, b, c");
}

TEST(SceneSaving, ARecalledSceneSkipsTheUnitsTheFileNoLongerHas) {
  const UnitsFile file = shop();
  SavedScene scene;
  scene.name = "evening";
  scene.units.resize(3);
  scene.units[0] = {file.units[2].key(), "c", 90};
  scene.units[1] = {{"10.9.9.9", 1, 1}, "gone", 10};
  scene.units[2] = {file.units[0].key(), "a", 40};
  std::string skipped;
  EXPECT_EQ(savedSceneLevels(file, scene, skipped), (std::vector<std::pair<int, int>>{{0, 40}, {2, 90}}));
  EXPECT_EQ(skipped, "scene 'evening': skipped, no longer in the units file: gone");
}

}  // namespace
