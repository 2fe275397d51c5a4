// The one reader of the JSON light commands that every front end takes.

#include "light_json/command_readers.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Good {
  const char* payload;
  LightCommand::Switch state;
  int brightness;
  std::int64_t transitionUs;
  int levelAfter200;  ///< level() for a unit whose last level above 0 was 200
};

TEST(ReadLightCommand, TakesWhatTheFrontEndsSend) {
  using S = LightCommand::Switch;
  const Good cases[] = {
      {R"({"state":"ON"})", S::On, -1, -1, 200},
      {R"({"state":"OFF","brightness":90})", S::Off, 90, -1, 0},
      {R"({"brightness":0})", S::None, 0, -1, 0},
      {R"({"state":"ON","brightness":255,"transition":1.5})", S::On, 255, 1500000, 255},
      {R"({"brightness":7,"transition":0,"effect":"x","color":{"a":[1]}})", S::None, 7, 0, 7},
      {R"( {"state":"ON","transition":86400} )", S::On, -1, 86400000000, 200},
  };
  for (const Good& c : cases) {
    LightCommand command;
    std::string problem;
    ASSERT_TRUE(readLightCommand(c.payload, command, problem)) << c.payload << ": " << problem;
    EXPECT_EQ(command.state, c.state) << c.payload;
    EXPECT_EQ(command.brightness, c.brightness) << c.payload;
    EXPECT_EQ(command.transitionUs, c.transitionUs) << c.payload;
    EXPECT_EQ(command.level(200, 255), c.levelAfter200) << c.payload;
  }
  LightCommand on;
  on.state = S::On;
  EXPECT_EQ(on.level(-1, 255), 255);  // never on before
  EXPECT_EQ(on.level(-1, 90), 90);  // its on_level
}

TEST(ReadLightCommand, RefusesWithOneShortReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "not valid JSON"},
      {"{\"state\":\"ON\"", "not valid JSON"},
      {"ON", "not valid JSON"},
      {"[1]", "not a JSON object"},
      {"{}", "neither state nor brightness given"},
      {R"({"transition":2})", "neither state nor brightness given"},
      {R"({"state":"on"})", "state must be \"ON\" or \"OFF\""},
      {R"({"state":1})", "state must be \"ON\" or \"OFF\""},
      {R"({"brightness":256})", "brightness must be a whole number from 0 to 255"},
      {R"({"brightness":-1})", "brightness must be a whole number from 0 to 255"},
      {R"({"brightness":12.5})", "brightness must be a whole number from 0 to 255"},
      {R"({"brightness":"12"})", "brightness must be a whole number from 0 to 255"},
      {R"({"brightness":18446744073709551615})", "brightness must be a whole number from 0 to 255"},
      {R"({"state":"ON","transition":"1s"})", "transition must be a number of seconds"},
      {R"({"state":"ON","transition":-0.5})", "transition must be 0 to 86400 seconds"},
      {R"({"state":"ON","transition":1e300})", "transition must be 0 to 86400 seconds"},
      {R"({"flash":0})", "flash must be a whole number of seconds from 1 to 60"},
      {R"({"state":"ON","flash":61})", "flash must be a whole number of seconds from 1 to 60"},
      {R"({"flash":-2})", "flash must be a whole number of seconds from 1 to 60"},
      {R"({"flash":2.5})", "flash must be a whole number of seconds from 1 to 60"},
      {R"({"flash":"short"})", "flash must be a whole number of seconds from 1 to 60"},
      {R"({"flash":true})", "flash must be a whole number of seconds from 1 to 60"},
  };
  for (const auto& [payload, reason] : cases) {
    LightCommand command;
    command.brightness = 42;
    std::string problem;
    EXPECT_FALSE(readLightCommand(payload, command, problem)) << payload;
    EXPECT_EQ(problem, reason) << payload;
    EXPECT_EQ(command.brightness, 42) << payload;  // left alone
  }
}

// Home Assistant sends its flash_time_short or flash_time_long, seconds.
TEST(ReadLightCommand, TakesAFlashInWholeSeconds) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {R"({"flash":2})", 2000000}, {R"({"state":"ON","brightness":90,"flash":10})", 10000000},
      {R"({"state":"OFF","flash":60})", 60000000}, {R"({"state":"ON"})", 0}};
  for (const auto& [payload, flashUs] : cases) {
    LightCommand command;
    std::string problem;
    ASSERT_TRUE(readLightCommand(payload, command, problem)) << payload << ": " << problem;
    EXPECT_EQ(command.flashUs, flashUs) << payload;
  }
}

TEST(ReadSceneCommand, TakesOnEmptyOrATransition) {
  const std::pair<const char*, std::int64_t> good[] = {
      {"", -1}, {"ON", -1}, {"{}", -1}, {R"({"transition":0.25,"x":1})", 250000}};
  for (const auto& [payload, transitionUs] : good) {
    SceneCommand command;
    std::string problem;
    ASSERT_TRUE(readSceneCommand(payload, command, problem)) << payload;
    EXPECT_EQ(command.transitionUs, transitionUs) << payload;
  }
  for (const char* payload : {"OFF", "on", "[]", R"({"transition":true})"}) {
    SceneCommand command;
    std::string problem;
    EXPECT_FALSE(readSceneCommand(payload, command, problem)) << payload;
    EXPECT_FALSE(problem.empty());
  }
  for (const char* payload : {"OFF", "[]"}) {
    SceneCommand command;
    std::string problem;
    readSceneCommand(payload, command, problem);
    EXPECT_EQ(problem, "a scene takes ON, nothing, or a JSON object with an optional transition")
        << payload;
  }
}

TEST(ReadSavedSceneRequest, TakesASaveOrARemovalAndNothingElse) {
  struct Case {
    const char* payload;
    bool ok;
    bool remove;
    std::vector<std::string> units;
  };
  const Case cases[] = {
      {R"({"save": "evening"})", true, false, {}},
      {R"({"save": "evening", "units": ["a", "shelves"]})", true, false, {"a", "shelves"}},
      {R"({"remove": "evening"})", true, true, {}},
      {R"({"save": "evening", "remove": "evening"})", false, false, {}},
      {R"({"remove": "evening", "units": ["a"]})", false, false, {}},
      {R"({"save": "evening", "colour": "red"})", false, false, {}},
      {R"({"save": 3})", false, false, {}},
      {R"({"save": "evening", "units": "a"})", false, false, {}},
      {R"({"save": "evening", "units": [1]})", false, false, {}},
      {R"({})", false, false, {}},
      {"ON", false, false, {}},
  };
  for (const Case& c : cases) {
    SavedSceneRequest request;
    std::string problem;
    ASSERT_EQ(readSavedSceneRequest(c.payload, request, problem), c.ok) << c.payload;
    if (!c.ok) {
      EXPECT_FALSE(problem.empty()) << c.payload;
      continue;
    }
    EXPECT_EQ(request.name, "evening");
    EXPECT_EQ(request.remove, c.remove) << c.payload;
    EXPECT_EQ(request.units, c.units) << c.payload;
  }
}

}  // namespace
