// vantreld's schedules end to end: the built vantreld under faketime (its clock set to a
// moment before or after a schedule's time, and running from there), a unit served on
// 127.0.0.1, and what it received.

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/child_process.hpp"
#include "support/mqtt_peers.hpp"
#include "support/serving_unit.hpp"
#include "support/temp_dir.hpp"
#include "support/vantreld_process.hpp"

namespace {

using namespace std::chrono_literals;

// The shop opens at 07:30 UTC: unit a to 200, `more` said of the schedule.
void writeOpening(const TempDir& dir, const ServingUnit& unit, const std::string& more = "") {
  writeText(dir.path("vantrel.toml"), "[units.a]\naddress = \"127.0.0.1\"\nport = " + unit.port() +
                                          "\ntype = 1\n[schedules.open]\nat = \"07:30\"\nlevels = { a = 200 }\n" +
                                          more);
  sameBootAsBefore(dir);
}

// libfaketime itself rather than its faketime program, which would stand between the test's
// signals and vantreld: the clock starts at `moment` and runs on from there. A sanitized build's
// runtime then comes second among the libraries loaded, which it allows when told.
VantreldProcess startAt(const TempDir& dir, const char* moment) {
  return VantreldProcess(dir, {}, {"--verbose"},
                         {"LD_PRELOAD=" VANTREL_LIBFAKETIME, std::string("FAKETIME=@") + moment,
                          "TZ=UTC", "ASAN_OPTIONS=verify_asan_link_order=0"});
}

TEST(VantreldSchedules, AScheduleFiresWithinASecondOfItsTime) {
  if (std::string(VANTREL_LIBFAKETIME).empty())
    GTEST_SKIP() << "no libfaketime (apt-get install faketime)";
  TempDir dir;
  ServingUnit a;
  writeOpening(dir, a);
  const auto started = ServingUnit::Clock::now();
  VantreldProcess service = startAt(dir, "2026-12-10 07:29:58");
  EXPECT_TRUE(service.sees("vantreld: schedule 'open' fired at 2026-12-10 07:30:00", 10000));
  EXPECT_EQ(a.levelsEndingWith(200), std::vector<int>{200});
  const std::vector<ServingUnit::Clock::time_point> arrivals = a.arrivals();
  ASSERT_EQ(arrivals.size(), 1u);
  // Two seconds on the faked clock from the start, which itself takes some.
  EXPECT_GE(arrivals[0] - started, 1900ms);
  EXPECT_LE(arrivals[0] - started, 3500ms);
  EXPECT_EQ(service.stop(SIGTERM), 0);
  EXPECT_EQ(readText(dir.path("levels.schedules")),
            "# vantreld's schedules: NAME on|off LAST-FIRED\nopen on 2026-12-10T07:30:00.000Z\n");
}

TEST(VantreldSchedules, AStartPastAMissedTimeCatchesUpOnceAndTheNextStartFiresNothing) {
  if (std::string(VANTREL_LIBFAKETIME).empty())
    GTEST_SKIP() << "no libfaketime (apt-get install faketime)";
  TempDir dir;
  ServingUnit a;
  writeOpening(dir, a);
  {
    VantreldProcess service = startAt(dir, "2026-12-10 07:40:00");
    EXPECT_TRUE(service.sees("vantreld: schedule 'open' caught up, missed at 2026-12-10 07:30:00"));
    EXPECT_EQ(a.levelsEndingWith(200), std::vector<int>{200});
    EXPECT_EQ(service.stop(SIGTERM), 0);
  }
  VantreldProcess again = startAt(dir, "2026-12-10 07:41:00");
  EXPECT_TRUE(again.sees("vantreld: serving 1 units"));
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(again.stop(SIGTERM), 0);
  EXPECT_EQ(a.levels(), std::vector<int>{200});
  EXPECT_EQ(again.skipped().find("schedule 'open'"), std::string::npos) << again.skipped();
}

TEST(VantreldSchedules, CatchUpLeavesAUnitThatConfirmedALevelSinceTheMissedTime) {
  if (std::string(VANTREL_LIBFAKETIME).empty())
    GTEST_SKIP() << "no libfaketime (apt-get install faketime)";
  TempDir dir;
  ServingUnit a;
  writeOpening(dir, a);
  // Set at 07:35, by a tool run direct while the service was off.
  writeText(dir.path("levels"), "127.0.0.1 " + a.port() + " 1 40 2026-12-10T07:35:00.000Z 40\n");
  VantreldProcess service = startAt(dir, "2026-12-10 07:40:00");
  EXPECT_TRUE(service.sees("vantreld: serving 1 units"));
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(service.stop(SIGTERM), 0);
  EXPECT_EQ(a.levels(), std::vector<int>{});
  EXPECT_EQ(service.skipped().find("schedule 'open'"), std::string::npos) << service.skipped();
}

TEST(VantreldSchedules, AMissedFadeIsJoinedWhereItWouldBeAndEndsWhenItWould) {
  if (std::string(VANTREL_LIBFAKETIME).empty())
    GTEST_SKIP() << "no libfaketime (apt-get install faketime)";
  TempDir dir;
  ServingUnit a;
  writeOpening(dir, a, "over = \"10s\"\n");
  // Known to be off, so that the fade is from 0.
  writeText(dir.path("levels"), "127.0.0.1 " + a.port() + " 1 0 2026-12-10T07:00:00.000Z 255\n");
  const auto started = ServingUnit::Clock::now();
  VantreldProcess service = startAt(dir, "2026-12-10 07:30:05");
  EXPECT_TRUE(service.sees("vantreld: schedule 'open' caught up, missed at 2026-12-10 07:30:00, joining its fade 5s in"));
  const std::vector<int> levels = a.levelsEndingWith(200);
  // The level it starts from (the engine's first command of any fade), then half-way at once,
  // and at 200 about five seconds on.
  ASSERT_GE(levels.size(), 3u);
  EXPECT_EQ(levels[0], 0);
  EXPECT_GE(levels[1], 80);
  EXPECT_LE(levels[1], 130);
  EXPECT_EQ(levels.back(), 200);
  const auto ended = a.arrivals().back() - started;
  EXPECT_GE(ended, 4s);
  EXPECT_LE(ended, 7s);
  EXPECT_EQ(service.stop(SIGTERM), 0);
}

TEST(VantreldSchedules, AScheduleNamingASavedSceneSetsItsLevels) {
  if (std::string(VANTREL_LIBFAKETIME).empty())
    GTEST_SKIP() << "no libfaketime (apt-get install faketime)";
  TempDir dir;
  ServingUnit a;
  writeText(dir.path("vantrel.toml"), "[units.a]\naddress = \"127.0.0.1\"\nport = " + a.port() +
                                          "\ntype = 1\n[schedules.open]\nat = \"07:30\"\nscene = \"evening\"\n");
  sameBootAsBefore(dir);
  writeText(dir.path("levels.scenes"), "# vantrel saved scenes 1\n# SCENE ADDRESS PORT TYPE LEVEL UNIT\n"
                                       "evening 127.0.0.1 " + a.port() + " 1 77 a\n");
  VantreldProcess service = startAt(dir, "2026-12-10 07:40:00");
  EXPECT_TRUE(service.sees("vantreld: schedule 'open' caught up, missed at 2026-12-10 07:30:00"));
  EXPECT_EQ(a.levelsEndingWith(77), std::vector<int>{77});
  EXPECT_EQ(service.stop(SIGTERM), 0);
}

// Home Assistant's switch: its configuration on the service's device, its retained state, and a
// switch off that lasts across a restart, so that the schedule's time then passes unfired.
TEST(VantreldSchedules, SwitchedOffOverMqttItStaysOffAcrossARestartAndDoesNotFire) {
  if (std::string(VANTREL_LIBFAKETIME).empty())
    GTEST_SKIP() << "no libfaketime (apt-get install faketime)";
  TempDir dir;
  MqttBroker broker(dir);
  MqttProbe probe(broker.port());
  const std::string gone = "homeassistant/switch/vantrel/schedule_gone/config";
  probe.publish(gone, "{}", true);
  // A stray retained ON, which must not turn it back on at the restart.
  probe.publish("vantrel/schedules/open/set", "ON", true);
  probe.await("vantrel/schedules/open/set", "ON");
  ServingUnit a;
  writeOpening(dir, a, "[mqtt]\nhost = \"127.0.0.1\"\nport = " + broker.port() + "\n");
  {
    VantreldProcess service = startAt(dir, "2026-12-10 07:29:00");
    const nlohmann::json config = nlohmann::json::parse(
        probe.await("homeassistant/switch/vantrel/schedule_open/config", [](const std::string& p) { return !p.empty(); }),
        nullptr, false);
    EXPECT_EQ(config.value("name", ""), "Schedule open");
    EXPECT_EQ(config.value("unique_id", ""), "vantrel_schedule_open");
    EXPECT_EQ(config.value("command_topic", ""), "vantrel/schedules/open/set");
    EXPECT_EQ(config.value("state_topic", ""), "vantrel/schedules/open/state");
    EXPECT_EQ(config["device"]["identifiers"], nlohmann::json::array({"vantreld_vantrel"}));
    probe.await("vantrel/schedules/open/state", "ON");
    probe.await(gone, "");
    EXPECT_TRUE(service.sees("vantreld: mqtt: ignored the retained command on vantrel/schedules/open/set"));
    for (const char* wrong : {"off", "maybe"}) {
      probe.publish("vantrel/schedules/open/set", wrong);
      EXPECT_TRUE(service.sees(std::string("vantreld: vantrel/schedules/open/set: a schedule takes ON or OFF, not '") +
                               wrong + "'"));
    }
    probe.publish("vantrel/schedules/nothing/set", "OFF");
    EXPECT_TRUE(service.sees("vantreld: vantrel/schedules/nothing/set: unknown schedule 'nothing'"));
    EXPECT_EQ(probe.last("vantrel/schedules/open/state"), "ON");
    probe.publish("vantrel/schedules/open/set", "OFF");
    probe.await("vantrel/schedules/open/state", "OFF");
    EXPECT_EQ(service.stop(SIGTERM), 0);
  }
  EXPECT_EQ(readText(dir.path("levels.schedules")).rfind("open off ", std::string::npos),
            readText(dir.path("levels.schedules")).find('\n') + 1);
  VantreldProcess again = startAt(dir, "2026-12-10 07:29:58");
  EXPECT_TRUE(again.sees("vantreld: serving 1 units"));
  std::this_thread::sleep_for(4s);
  EXPECT_EQ(probe.last("vantrel/schedules/open/state"), "OFF");
  // Through the service, its own record, not the one beside this user's levels (there is none).
  const ChildResult listed = runChild({VANTREL_PATH, "--config", dir.path("vantrel.toml"), "list"},
                                      {"VANTREL_STATE=" + dir.path("user-levels"),
                                       "VANTREL_SOCKET=" + dir.path("vantreld.sock"), "TZ=UTC"},
                                      10000);
  EXPECT_EQ(listed.exitStatus, 0) << listed.err;
  EXPECT_NE(listed.out.find("\nschedules:\n  open  off  next -  "), std::string::npos) << listed.out;
  EXPECT_EQ(again.stop(SIGTERM), 0);
  EXPECT_EQ(a.levels(), std::vector<int>{});
  EXPECT_EQ(again.skipped().find("schedule 'open' fired"), std::string::npos) << again.skipped();
}

}  // namespace
