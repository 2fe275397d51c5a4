#include "units/units_file.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace {

UnitsFile parsed(const std::string& text) {
  UnitsFile file;
  std::vector<std::string> problems;
  EXPECT_TRUE(parseUnitsFile(text, "v.toml", file, problems));
  for (const std::string& problem : problems)
    ADD_FAILURE() << problem;
  return file;
}

std::vector<std::string> problemsOf(const std::string& text) {
  UnitsFile file;
  std::vector<std::string> problems;
  EXPECT_FALSE(parseUnitsFile(text, "v.toml", file, problems));
  return problems;
}

// Each on a port of its own unless given one, as a units file needs them.
std::string unit(const char* name, int port = 0) {
  static int next = 5001;
  return std::string("[units.") + name + "]\naddress = \"127.0.0.1\"\nport = " +
         std::to_string(port != 0 ? port : next++) + "\ntype = 1\n";
}

std::vector<std::string> namesOf(const UnitsFile& file, const std::vector<int>& units) {
  std::vector<std::string> names;
  for (const int unit : units)
    names.push_back(file.units[unit].name);
  return names;
}

TEST(ParseUnitsFile, KeepsUnitsGroupsScenesAndSettingsInFileOrder) {
  const UnitsFile file = parsed(
      "[units.zeta]\naddress = \"192.168.0.20\"\nport = 4001\ntype = 2\n" + unit("alpha", 4002) +
      unit("mid", 65535) +
      "[groups]\n"
      "z = [\"mid\", \"zeta\"]\n"
      "a = [\"alpha\"]\n"
      "[scenes.open]\n"
      "zeta = 255\n"
      "z = \"80%\"\n"
      "all = \"0%\"\n"
      "[scenes.closed]\n"
      "all = 0\n");
  ASSERT_EQ(file.units.size(), 3u);
  EXPECT_EQ(file.units[0].name, "zeta");
  EXPECT_EQ(file.units[0].address, "192.168.0.20");
  EXPECT_EQ(file.units[0].port, 4001);
  EXPECT_EQ(file.units[0].type, 2);
  EXPECT_EQ(file.units[1].name, "alpha");
  EXPECT_EQ(file.units[2].port, 65535);
  ASSERT_EQ(file.groups.size(), 2u);
  EXPECT_EQ(file.groups[0].name, "z");
  EXPECT_EQ(namesOf(file, file.groups[0].members), (std::vector<std::string>{"mid", "zeta"}));
  ASSERT_EQ(file.scenes.size(), 2u);
  EXPECT_EQ(file.scenes[0].name, "open");
  EXPECT_EQ(file.findScene("closed"), 1);
  const std::vector<SceneSetting>& settings = file.scenes[0].settings;
  ASSERT_EQ(settings.size(), 3u);
  EXPECT_EQ(settings[0].target, "zeta");
  EXPECT_EQ(settings[1].target, "z");
  EXPECT_EQ(settings[1].level, 204);
  EXPECT_EQ(settings[1].written, "80%");
  EXPECT_EQ(settings[2].written, "0%");
  EXPECT_EQ(file.scenes[1].settings[0].written, "0");
}

TEST(ParseUnitsFile, AUnitOverridesItsGroupWhichOverridesAll) {
  const UnitsFile file = parsed(
      unit("a") + unit("b") + unit("c") + unit("d") +
      "[groups]\n"
      "g = [\"b\", \"c\"]\n"
      "[scenes.s]\n"
      "all = 1\n"
      "g = \"50%\"\n"
      "c = 7\n"
      "[scenes.group-only]\n"
      "g = 9\n");
  using Levels = std::vector<std::pair<int, int>>;
  EXPECT_EQ(file.scenes[0].levels, (Levels{{0, 1}, {1, 128}, {2, 7}, {3, 1}}));
  EXPECT_EQ(file.scenes[1].levels, (Levels{{1, 9}, {2, 9}}));
}

TEST(ParseUnitsFile, TwoGroupsMustAgreeOnAUnitUnlessTheSceneNamesIt) {
  const std::string units = unit("a") + unit("b") + unit("c") +
                            "[groups]\n"
                            "g1 = [\"a\", \"b\"]\n"
                            "g2 = [\"b\", \"c\"]\n";
  const UnitsFile resolved = parsed(units +
                                    "[scenes.agree]\n"
                                    "g1 = 10\n"
                                    "g2 = 10\n"
                                    "[scenes.named]\n"
                                    "g1 = 10\n"
                                    "g2 = 20\n"
                                    "b = 5\n");
  using Levels = std::vector<std::pair<int, int>>;
  EXPECT_EQ(resolved.scenes[0].levels, (Levels{{0, 10}, {1, 10}, {2, 10}}));
  EXPECT_EQ(resolved.scenes[1].levels, (Levels{{0, 10}, {1, 5}, {2, 20}}));
  EXPECT_EQ(problemsOf(units +
                       "[scenes.x]\n"  // line 16
                       "g1 = 10\n"
                       "g2 = \"50%\"\n"),
            std::vector<std::string>{
                "v.toml:18:6: scene 'x': unit 'b' gets 10 from group 'g1' and 128 from group 'g2'"});
}

TEST(ParseUnitsFile, ReportsEveryProblemWhereItIsInFileOrder) {
  const std::string text =
      "[units.counter]\n"            //  1
      "adress = \"192.168.0.20\"\n"  //  2
      "port = 0\n"                   //  3
      "type = 3\n"                   //  4
      "[units.Shelf]\n"              //  5
      "address = \"a b\"\n"          //  6
      "port = \"4001\"\n"            //  7
      "type = 1.0\n"                 //  8
      "[units.all]\n"                //  9
      "address = \"\"\n"             // 10
      "port = 65536\n"               // 11
      "type = 1\n"                   // 12
      "[broker]\n"                   // 13
      "host = \"x\"\n"               // 14
      "[groups]\n"                   // 15
      "counter = [\"counter\"]\n"    // 16
      "g = [\"counter\", \"Shelf\", \"counter\", \"nope\", 5]\n"  // 17
      "empty = []\n"                 // 18
      "one = \"counter\"\n"          // 19
      "[scenes.open]\n"              // 20
      "nope = 1\n"                   // 21
      "counter = \"128\"\n"          // 22
      "g = 256\n"                    // 23
      "all = \"101%\"\n"             // 24
      "[scenes.closed]\n"            // 25
      "[scenes.Bad]\n"               // 26
      "counter = 0.5\n"              // 27
      "[scenes.all]\n"               // 28
      "counter = 0\n";               // 29
  const std::string name = ": a name is 1 to 32 characters of a-z, 0-9, - and _, starting with a "
                           "letter or digit";
  const std::string address = " is neither a dotted IPv4 address (four numbers 0 to 255) nor a host name";
  const std::string port = ": port must be a whole number from 1 to 65535";
  const std::string members = " must be a non-empty array of unit names";
  const std::string level = " must be 0 to 255 or \"0%\" to \"100%\"";
  EXPECT_EQ(problemsOf(text), (std::vector<std::string>{
                                  "v.toml:1:8: unit 'counter' has no address",
                                  "v.toml:2:1: unknown key 'adress' in unit 'counter'",
                                  "v.toml:3:8: unit 'counter'" + port,
                                  "v.toml:4:8: unit 'counter': type must be 1 or 2",
                                  "v.toml:5:8: invalid unit name 'Shelf'" + name,
                                  "v.toml:6:11: unit 'Shelf': address 'a b'" + address,
                                  "v.toml:7:8: unit 'Shelf'" + port,
                                  "v.toml:8:8: unit 'Shelf': type must be 1 or 2",
                                  "v.toml:9:8: unit name 'all' is reserved: it means every unit",
                                  "v.toml:10:11: unit 'all': address ''" + address,
                                  "v.toml:11:8: unit 'all'" + port,
                                  "v.toml:13:2: unknown table 'broker'",
                                  "v.toml:16:1: group 'counter' has the name of a unit",
                                  "v.toml:17:26: group 'g' names unit 'counter' twice",
                                  "v.toml:17:37: group 'g' names unknown unit 'nope'",
                                  "v.toml:17:45: group 'g'" + members,
                                  "v.toml:18:9: group 'empty'" + members,
                                  "v.toml:19:7: group 'one'" + members,
                                  "v.toml:21:1: scene 'open' names unknown unit or group 'nope'",
                                  "v.toml:22:11: scene 'open': level for 'counter'" + level,
                                  "v.toml:23:5: scene 'open': level for 'g'" + level,
                                  "v.toml:24:7: scene 'open': level for 'all'" + level,
                                  "v.toml:25:9: scene 'closed' sets no level",
                                  "v.toml:26:9: invalid scene name 'Bad'" + name,
                                  "v.toml:27:11: scene 'Bad': level for 'counter'" + level,
                              }));
}

TEST(ParseUnitsFile, ReportsASyntaxErrorAtItsPlace) {
  const std::vector<std::string> problems = problemsOf(unit("a") + "[groups]\ng = [\"a\",\n");
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("v.toml:6:", 0), 0u) << problems[0];
  // A letter beyond ASCII where a key belongs: a syntax error at its place,
  // never the reader's undefined behaviour (the sanitizer builds see it).
  const std::vector<std::string> accented = problemsOf(unit("a") + "\u00e9 = 1\n");
  ASSERT_EQ(accented.size(), 1u);
  EXPECT_EQ(accented[0].rfind("v.toml:5:1: ", 0), 0u) << accented[0];
  // What the reader quotes back stays on one line.
  EXPECT_EQ(problemsOf("a = t\n"), (std::vector<std::string>{
                                       "v.toml:1:6: Error while parsing boolean: expected 'true', saw 't\\n'"}));
}

TEST(ParseUnitsFile, RefusesAFileWithoutUnits) {
  EXPECT_EQ(problemsOf(""), std::vector<std::string>{"v.toml: defines no unit"});
  EXPECT_EQ(problemsOf("units = 1\n"),
            (std::vector<std::string>{"v.toml:1:9: 'units' must be a table", "v.toml: defines no unit"}));
}

TEST(ParseUnitsFile, ReportsEachBadCurveTrimAndOnLevelWhereItIs) {
  const std::string curve = ": curve must be \"linear\", \"dali\" or a number from 1.0 to 4.0";
  const std::string onLevel = ": on_level must be 1 to 255 or \"1%\" to \"100%\"";
  EXPECT_EQ(problemsOf("[units.a]\naddress = \"127.0.0.1\"\nport = 1\ntype = 1\n"
                       "curve = 0.9\nmin = 0\nmax = 1\non_level = 0\n"          // 5..8
                       "[units.b]\naddress = \"127.0.0.1\"\nport = 2\ntype = 1\n"
                       "max = 100\ncurve = 4.5\nmin = 100\non_level = 256\n"),  // 13..16
            (std::vector<std::string>{
                "v.toml:5:9: unit 'a'" + curve,
                "v.toml:6:7: unit 'a': min must be a whole number from 1 to 254",
                "v.toml:7:7: unit 'a': max must be a whole number from 2 to 255, above min",
                "v.toml:8:12: unit 'a'" + onLevel,
                "v.toml:13:7: unit 'b': max must be a whole number from 101 to 255, above min",
                "v.toml:14:9: unit 'b'" + curve,
                "v.toml:16:12: unit 'b'" + onLevel,
            }));
}

TEST(ParseUnitsFile, TakesEachUnitsOnStartAndRefreshElseThoseOfDefaults) {
  constexpr std::int64_t kSecond = 1000000;
  using Kind = StartPolicy::Kind;
  const UnitsFile file = parsed(
      "[defaults]\non_start = \"restore\"\nrefresh = \"5m\"\nrestore_within = \"1d12h\"\n" +
      unit("a") + "on_start = \"off\"\n" + unit("b") + "on_start = \"50%\"\nrefresh = \"off\"\n" +
      unit("c") + "on_start = 7\n" + unit("d") + "on_start = \"leave\"\nrefresh = \"90s\"\n" +
      unit("e"));
  struct Expected { Kind kind; int level; std::int64_t refreshUs; };
  const Expected expected[] = {{Kind::Level, 0, 300 * kSecond}, {Kind::Level, 128, 0},
                               {Kind::Level, 7, 300 * kSecond}, {Kind::Leave, 0, 90 * kSecond},
                               {Kind::Restore, 0, 300 * kSecond}};
  ASSERT_EQ(file.units.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(file.units[i].onStart.kind, expected[i].kind) << i;
    EXPECT_EQ(file.units[i].onStart.level, expected[i].level) << i;
    EXPECT_EQ(file.units[i].refreshUs, expected[i].refreshUs) << i;
  }
  EXPECT_EQ(file.restoreWithinMs, 36 * 3600 * 1000);
  EXPECT_EQ(file.startScene, -1);

  // A scene for the whole file, named before the scenes are read; the
  // units' own on_start stays leave.
  const UnitsFile scene = parsed("[defaults]\non_start = \"evening\"\nrefresh = \"24h\"\n"
                                 "restore_within = \"30d\"\n" + unit("a") +
                                 "[scenes.morning]\na = 255\n[scenes.evening]\na = \"30%\"\n");
  EXPECT_EQ(scene.startScene, 1);
  EXPECT_EQ(scene.units[0].onStart.kind, Kind::Leave);
  EXPECT_EQ(scene.units[0].refreshUs, 24 * 3600 * kSecond);
  EXPECT_EQ(scene.restoreWithinMs, std::int64_t{30} * 86400 * 1000);
}

TEST(ParseUnitsFile, ReportsEachBadOnStartRefreshAndDefaultWhereItIs) {
  const std::string onStart = ": on_start must be \"leave\", \"restore\", \"off\", 0 to 255 or \"0%\" to \"100%\"";
  const std::string refresh = " must be \"off\" or a span from \"1s\" to \"24h\", such as \"5m\" or \"1h30m\"";
  EXPECT_EQ(problemsOf("[units.a]\naddress = \"127.0.0.1\"\nport = 1\ntype = 1\n"
                       "on_start = \"evening\"\nrefresh = \"0s\"\n"                  // 5, 6
                       "[units.b]\naddress = \"127.0.0.1\"\nport = 2\ntype = 1\n"
                       "on_start = \"on\"\nrefresh = 300\n"                          // 11, 12
                       "[units.c]\naddress = \"127.0.0.1\"\nport = 3\ntype = 1\n"
                       "on_start = 256\nrefresh = \"24h1s\"\n"                       // 17, 18
                       "[scenes.evening]\na = 1\n"
                       "[defaults]\n"                                                // 21
                       "on_start = \"night\"\nrefresh = \"1m2h\"\n"                  // 22, 23
                       "restore_within = \"30d1s\"\nrestore = \"12h\"\n"),           // 24, 25
            (std::vector<std::string>{
                "v.toml:5:12: unit 'a': on_start names scene 'evening', but a scene is set for the "
                "whole file: write on_start = \"evening\" under [defaults]",
                "v.toml:6:11: unit 'a': refresh" + refresh,
                "v.toml:11:12: unit 'b'" + onStart,
                "v.toml:12:11: unit 'b': refresh" + refresh,
                "v.toml:17:12: unit 'c'" + onStart,
                "v.toml:18:11: unit 'c': refresh" + refresh,
                "v.toml:22:12: [defaults] on_start must be \"leave\", \"restore\", \"off\", a level (0 "
                "to 255 or \"0%\" to \"100%\") or the name of a scene",
                "v.toml:23:11: [defaults] refresh" + refresh,
                "v.toml:24:18: [defaults] restore_within must be a span from \"1s\" to \"30d\", such "
                "as \"12h\" or \"1d12h\"",
                "v.toml:25:1: unknown key 'restore' in [defaults]",
            }));
  EXPECT_EQ(problemsOf("defaults = \"12h\"\n" + unit("a")),
            std::vector<std::string>{"v.toml:1:12: 'defaults' must be a table"});
}

TEST(UnitsFile, AddTargetAddsEachUnitOnceInUnitOrder) {
  const UnitsFile file = parsed(unit("a") + unit("b") + unit("c") + unit("d") +
                                "[groups]\n"
                                "g = [\"d\", \"b\"]\n");
  std::vector<int> chosen;
  EXPECT_TRUE(file.addTarget("c", chosen));
  EXPECT_TRUE(file.addTarget("g", chosen));
  EXPECT_TRUE(file.addTarget("b", chosen));
  EXPECT_EQ(chosen, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(file.addTarget("e", chosen));
  EXPECT_EQ(chosen, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(file.addTarget("all", chosen));
  EXPECT_EQ(chosen, (std::vector<int>{0, 1, 2, 3}));
}

TEST(LoadUnitsFile, ReadsTheShippedExample) {
  UnitsFile file;
  std::vector<std::string> problems;
  EXPECT_TRUE(loadUnitsFile(VANTREL_EXAMPLE_UNITS_FILE, file, problems));
  EXPECT_EQ(problems, std::vector<std::string>{});
  ASSERT_EQ(file.units.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(file.units[i].address, "127.0.0.1");
    EXPECT_EQ(file.units[i].port, 4001 + i);
  }
  EXPECT_EQ(file.path, VANTREL_EXAMPLE_UNITS_FILE);
}

TEST(LoadUnitsFile, SaysWhyAFileCannotBeRead) {
  const TempDir dir;
  UnitsFile file;
  std::vector<std::string> problems;
  EXPECT_FALSE(loadUnitsFile(dir.path("missing.toml"), file, problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind(dir.path("missing.toml") + ": cannot read: ", 0), 0u) << problems[0];
}

}  // namespace


TEST(ParseUnitsFile, ReadsTheLocationSchedulesAndCatchUp) {
  const UnitsFile file = parsed(unit("counter") + unit("shelves") +
                                "[groups]\nfront = [\"shelves\"]\n"
                                "[scenes.open]\nall = 255\n"
                                "[location]\nlatitude = 52.52\nlongitude = 13\n"
                                "[schedules.opening]\n"                       // 16
                                "at = \"7:05\"\ndays = \"weekdays\"\nscene = \"open\"\nover = \"30m\"\n"
                                "[schedules.dusk]\n"
                                "at = \"sunset-1h30m\"\ndays = [\"sat\", \"sun\"]\n"
                                "not_before = \"17:00\"\nnot_after = \"21:00\"\n"
                                "levels = { all = 10, front = \"100%\" }\n"
                                "[schedules.late]\nat = \"sunrise+15m\"\ndays = \"weekends\"\nscene = \"night\"\n"
                                "[defaults]\ncatch_up = \"1h\"\n");
  EXPECT_TRUE(file.location.given);
  EXPECT_DOUBLE_EQ(file.location.latitude, 52.52);
  EXPECT_DOUBLE_EQ(file.location.longitude, 13.0);
  ASSERT_EQ(file.schedules.size(), 3u);
  const Schedule& opening = file.schedules[0];
  EXPECT_EQ(opening.name, "opening");
  EXPECT_EQ(opening.at.kind, ScheduleTime::Kind::Clock);
  EXPECT_EQ(opening.at.minute, 7 * 60 + 5);
  EXPECT_EQ(opening.days, 0x3eu);
  EXPECT_EQ(opening.scene, 0);
  EXPECT_EQ(opening.savedScene, "");
  EXPECT_EQ(opening.overUs, std::int64_t{1800} * 1000000);
  EXPECT_EQ(opening.line, 16);
  const Schedule& dusk = file.schedules[1];
  EXPECT_EQ(dusk.at.kind, ScheduleTime::Kind::Sunset);
  EXPECT_EQ(dusk.at.offsetMs, -5400000);
  EXPECT_EQ(dusk.days, 0x41u);
  EXPECT_EQ(dusk.notBefore, 17 * 60);
  EXPECT_EQ(dusk.notAfter, 21 * 60);
  EXPECT_EQ(dusk.scene, -1);
  // As a scene's: the group overrides "all".
  EXPECT_EQ(dusk.levels, (std::vector<std::pair<int, int>>{{0, 10}, {1, 255}}));
  const Schedule& late = file.schedules[2];
  EXPECT_EQ(late.at.kind, ScheduleTime::Kind::Sunrise);
  EXPECT_EQ(late.at.offsetMs, 900000);
  EXPECT_EQ(late.days, 0x41u);
  EXPECT_EQ(late.scene, -1);
  EXPECT_EQ(late.savedScene, "night");
  EXPECT_EQ(file.catchUpMs, 3600000);

  const UnitsFile plain = parsed(unit("a") + "[schedules.x]\nat = \"23:59\"\nlevels = { a = 1 }\n");
  EXPECT_EQ(plain.schedules[0].days, kEveryDay);
  EXPECT_EQ(plain.schedules[0].overUs, 0);
  EXPECT_EQ(plain.catchUpMs, 900000);
  EXPECT_FALSE(plain.location.given);
  EXPECT_EQ(parsed(unit("a") + "[defaults]\ncatch_up = \"0s\"\n").catchUpMs, 0);
}

TEST(ParseUnitsFile, ReportsEachBadLocationAndScheduleKeyWhereItIs) {
  const std::string at = ": at must be \"HH:MM\", \"sunrise\" or \"sunset\", the last two with an offset "
                         "if need be: \"sunset-15m\", \"sunrise+1h30m\"";
  const std::string days = ": days must be \"daily\", \"weekdays\", \"weekends\" or an array of \"mon\" to \"sun\"";
  const std::string head = unit("a") + "[scenes.open]\na = 1\n";  // lines 1-6
  const struct {
    std::string text;
    std::vector<std::string> problems;
  } cases[] = {
      {"[location]\nlatitude = 90.5\nlongitude = \"13\"\nheight = 3\n",
       {"v.toml:8:12: [location] latitude must be a number from -90 to 90",
        "v.toml:9:13: [location] longitude must be a number from -180 to 180",
        "v.toml:10:1: unknown key 'height' in [location]"}},
      {"[location]\nlatitude = -90\n", {"v.toml:7:1: [location] has no longitude"}},
      {"[schedules.x]\nat = \"24:00\"\nscene = \"open\"\n", {"v.toml:8:6: schedule 'x'" + at}},
      {"[schedules.x]\nat = \"7:5\"\nscene = \"open\"\n", {"v.toml:8:6: schedule 'x'" + at}},
      {"[schedules.x]\nat = \"07:60\"\nscene = \"open\"\n", {"v.toml:8:6: schedule 'x'" + at}},
      {"[schedules.x]\nat = \"sunset 15m\"\nscene = \"open\"\n", {"v.toml:8:6: schedule 'x'" + at}},
      {"[schedules.x]\nat = \"sunrise+13h\"\nscene = \"open\"\n", {"v.toml:8:6: schedule 'x'" + at}},
      {"[schedules.x]\nat = 730\nscene = \"open\"\n", {"v.toml:8:6: schedule 'x'" + at}},
      {"[schedules.x]\nat = \"sunset-15m\"\nscene = \"open\"\n",
       {"v.toml:8:6: schedule 'x': a time of the sun needs [location] with latitude and longitude"}},
      {"[schedules.x]\nat = \"7:30\"\ndays = \"workdays\"\nscene = \"open\"\n", {"v.toml:9:8: schedule 'x'" + days}},
      {"[schedules.x]\nat = \"7:30\"\ndays = []\nscene = \"open\"\n", {"v.toml:9:8: schedule 'x'" + days}},
      {"[schedules.x]\nat = \"7:30\"\ndays = [\"mon\", \"Tue\"]\nscene = \"open\"\n",
       {"v.toml:9:16: schedule 'x'" + days}},
      {"[schedules.x]\nat = \"7:30\"\ndays = [\"mon\", \"mon\"]\nscene = \"open\"\n",
       {"v.toml:9:16: schedule 'x': days names 'mon' twice"}},
      {"[schedules.x]\nat = \"7:30\"\nscene = \"open\"\nlevels = { a = 1 }\n",
       {"v.toml:10:1: schedule 'x' has both scene and levels: write one of them"}},
      {"[schedules.x]\nover = \"1m\"\n",
       {"v.toml:7:12: schedule 'x' has no at", "v.toml:7:12: schedule 'x' has no scene or levels"}},
      {"[schedules.x]\nat = \"7:30\"\nscene = \"Open\"\n",
       {"v.toml:9:9: schedule 'x': scene must be the name of a scene, of the file or saved"}},
      {"[schedules.x]\nat = \"7:30\"\nlevels = {}\n",
       {"v.toml:9:10: schedule 'x': levels must be a table of units and groups and their levels, as a "
        "scene's: levels = { counter = 255, shelves = \"80%\" }"}},
      {"[schedules.x]\nat = \"7:30\"\nlevels = { b = 1, a = 256 }\n",
       {"v.toml:9:12: schedule 'x' names unknown unit or group 'b'",
        "v.toml:9:23: schedule 'x': level for 'a' must be 0 to 255 or \"0%\" to \"100%\""}},
      {"[schedules.x]\nat = \"7:30\"\nscene = \"open\"\nover = \"24h1s\"\n",
       {"v.toml:10:8: schedule 'x': over must be a span up to \"24h\", such as \"30m\" or \"1h30m\""}},
      {"[schedules.x]\nat = \"7:30\"\nscene = \"open\"\nnot_after = \"21:00\"\n",
       {"v.toml:10:13: schedule 'x': not_before and not_after bound only a time of the sun"}},
      {"[location]\nlatitude = 1\nlongitude = 2\n[schedules.x]\nat = \"sunset\"\nscene = \"open\"\n"
       "not_before = \"9\"\nnot_after = \"17:00\"\n",
       {"v.toml:13:14: schedule 'x': not_before must be a clock time \"HH:MM\""}},
      {"[location]\nlatitude = 1\nlongitude = 2\n[schedules.x]\nat = \"sunset\"\nscene = \"open\"\n"
       "not_before = \"17:00\"\nnot_after = \"17:00\"\n",
       {"v.toml:14:13: schedule 'x': not_after must be later than not_before"}},
      {"[schedules.x]\nat = \"7:30\"\nscene = \"open\"\nwhen = 1\n",
       {"v.toml:10:1: unknown key 'when' in schedule 'x'"}},
      {"[schedules.X]\nat = \"7:30\"\nscene = \"open\"\n",
       {"v.toml:7:12: invalid schedule name 'X': a name is 1 to 32 characters of a-z, 0-9, - and _, "
        "starting with a letter or digit"}},
      {"[schedules]\nx = 1\n", {"v.toml:8:5: schedule 'x' must be a table"}},
      {"[defaults]\ncatch_up = \"0m\"\n",
       {"v.toml:8:12: [defaults] catch_up must be \"0s\" (never) or a span up to \"24h\", such as \"15m\" "
        "or \"1h\""}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(problemsOf(head + c.text), c.problems) << c.text;
}
