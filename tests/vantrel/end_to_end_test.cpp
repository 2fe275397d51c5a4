// Runs the built vantrel as a child process against units served on
// 127.0.0.1 by the test, with a units file and a levels file of its own:
// what reaches each unit, the exit status, what it says, and what it
// remembers. Timing is checked only for order and coarse bounds.

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/local_ports.hpp"
#include "support/serving_unit.hpp"
#include "support/tool_platform.hpp"
#include "support/tools_service.hpp"

namespace {

using Clock = std::chrono::steady_clock;

/// A folder of the test's own for the units file and the levels file.
class Site {
 public:
  Site() {
    char name[] = "/tmp/vantrel-test-XXXXXX";
    dir_ = mkdtemp(name);
  }
  ~Site() { std::filesystem::remove_all(dir_); }

  /// Writes the units file: `units` are (name, port) pairs of type-1 units
  /// on 127.0.0.1, `rest` is appended as it stands.
  void write(const std::vector<std::pair<std::string, std::string>>& units,
             const std::string& rest = "") const {
    std::ofstream file(config());
    for (const auto& [name, port] : units)
      file << "[units." << name << "]\naddress = \"127.0.0.1\"\nport = " << port
           << "\ntype = 1\n\n";
    file << rest;
  }
  std::string config() const { return dir_ + "/vantrel.toml"; }
  const std::string& dir() const { return dir_; }
  std::string state() const { return dir_ + "/state/levels"; }

 private:
  std::string dir_;
};

class VantrelEndToEnd : public ::testing::TestWithParam<ToolPlatform> {
 protected:
  void SetUp() override {
    if (GetParam().throughService)
      service_ = std::make_unique<ToolsService>(site_.dir(), site_.state());
  }
  /// The service's socket; direct, one where none listens.
  std::string socket() const { return service_ ? service_->socket() : site_.dir() + "/none.sock"; }

  ChildResult run(const std::vector<std::string>& args,
                  const std::function<void(int)>& started = {}) {
    std::vector<std::string> argv = GetParam().vantrelCommand;
    argv.insert(argv.end(), {"--config", site_.config()});
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> environment = GetParam().environment;
    environment.push_back("VANTREL_STATE=" + site_.state());
    environment.push_back("VANTREL_SOCKET=" + socket());
    const Clock::time_point start = Clock::now();
    ChildResult result = runChild(argv, environment, 30000, started);
    seconds_ = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
  }
  /// vantrel-fade with the same levels file, or with VANTREL_STATE=`state`.
  ChildResult runFade(const std::vector<std::string>& args, const std::string& state = "") {
    std::vector<std::string> argv = GetParam().fadeCommand;
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> environment = GetParam().environment;
    environment.push_back("VANTREL_STATE=" + (state.empty() ? site_.state() : state));
    environment.push_back("VANTREL_SOCKET=" + socket());
    return runChild(argv, environment, 30000);
  }
  /// `text` as lines of the platform's console.
  std::string lines(const std::string& text) const { return console(GetParam(), text); }
  bool matches(const std::string& text, const std::string& pattern) const {
    return std::regex_match(text, std::regex(pattern + GetParam().lineEnd));
  }
  /// The level `list` shows for the unit `name`, "-" when none.
  std::string listedLevel(const std::string& name) {
    const ChildResult listed = run({"list"});
    std::smatch found;
    const std::regex line("  " + name + " +127\\.0\\.0\\.1:\\d+ +type 1 +level (-|\\d+)");
    return std::regex_search(listed.out, found, line) ? found[1].str() : "not listed";
  }

  Site site_;
  std::unique_ptr<ToolsService> service_;  ///< after site_: it goes first
  double seconds_ = 0;
};

TEST_P(VantrelEndToEnd, SceneSetsEachUnitToItsLevelAndRemembersThem) {
  ServingUnit counter;
  ServingUnit left;
  ServingUnit right;
  site_.write({{"counter", counter.port()}, {"shelf-left", left.port()}, {"shelf-right", right.port()}},
              "[groups]\nshelves = [\"shelf-left\", \"shelf-right\"]\n\n"
              "[scenes.open]\nall = 10\ncounter = 255\nshelves = \"80%\"\n");
  EXPECT_EQ(listedLevel("counter"), "-");
  const ChildResult result = run({"scene", "open"});
  counter.finish();
  left.finish();
  right.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_TRUE(matches(result.out, R"(All 3 units confirmed in \d+\.\d{3} s: 3 commands sent, 0 failed)"))
      << result.out;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(counter.levels(), (std::vector<int>{255}));
  EXPECT_EQ(left.levels(), (std::vector<int>{204}));
  EXPECT_EQ(right.levels(), (std::vector<int>{204}));
  EXPECT_EQ(listedLevel("counter"), "255");
  EXPECT_EQ(listedLevel("shelf-right"), "204");
}

TEST_P(VantrelEndToEnd, SetReachesTheUnitsOfAGroupEachOnce) {
  ServingUnit counter;
  ServingUnit left;
  ServingUnit right;
  site_.write({{"counter", counter.port()}, {"shelf-left", left.port()}, {"shelf-right", right.port()}},
              "[groups]\nshelves = [\"shelf-left\", \"shelf-right\"]\n");
  const ChildResult result = run({"set", "shelves", "shelf-left", "50%"});
  counter.finish();
  left.finish();
  right.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_TRUE(matches(result.out, R"(All 2 units confirmed in \d+\.\d{3} s: 2 commands sent, 0 failed)"))
      << result.out;
  EXPECT_EQ(counter.levels(), std::vector<int>{});
  EXPECT_EQ(left.levels(), (std::vector<int>{128}));
  EXPECT_EQ(right.levels(), (std::vector<int>{128}));
}

TEST_P(VantrelEndToEnd, TimedFadeTakesEveryUnitThroughItsLevelsInStep) {
  ServingUnit a;
  ServingUnit b;
  site_.write({{"a", a.port()}, {"b", b.port()}});
  // b's level is remembered from a first run; a's is not, so --from decides.
  ASSERT_EQ(run({"set", "b", "60"}).exitStatus, 0);
  const ChildResult result =
      run({"--over", "600ms", "--steps", "6", "--from", "0", "set", "all", "60", "--verbose"});
  a.finish();
  b.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  // Only --verbose tells the two ways apart: one line naming the socket.
  EXPECT_EQ(result.err, GetParam().throughService
                            ? lines("vantrel: through vantreld at " + socket() + "\n")
                            : "");
  EXPECT_EQ(a.levels(), (std::vector<int>{0, 10, 20, 30, 40, 50, 60}));
  EXPECT_EQ(b.levels(), (std::vector<int>{60, 0, 10, 20, 30, 40, 50, 60}));
  EXPECT_GE(b.arrivals().back() - b.arrivals()[1], std::chrono::milliseconds(500));
  EXPECT_LT(seconds_, 10);
  std::istringstream out(result.out);
  std::string line;
  int commandLines = 0;
  while (std::getline(out, line))
    commandLines += std::regex_search(line, std::regex(R"(^ +\d+\.\d{3} ms  [ab]  level +\d+  confirmed)"));
  EXPECT_EQ(commandLines, 14) << result.out;
}

TEST_P(VantrelEndToEnd, RefusedAndSilentUnitsFailAloneAndQuickly) {
  ServingUnit good;
  const LocalPort refusing;
  const LocalPort silent(true);
  site_.write({{"good", good.port()}, {"gone", refusing.port()}, {"hung", silent.port()}});
  const ChildResult result = run({"--timeout", "1s", "--tries", "1", "set", "all", "7"});
  good.finish();
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_TRUE(matches(result.out, R"(1 of 3 units confirmed in \d+\.\d{3} s: 3 commands sent, 2 failed)"))
      << result.out;
  EXPECT_EQ(result.err, lines("vantrel: gone: level 7 not confirmed after 1 try: connection refused\n"
                              "vantrel: hung: level 7 not confirmed after 1 try: "
                              "timed out waiting for the reply\n"));
  EXPECT_EQ(good.levels(), (std::vector<int>{7}));
  EXPECT_LT(seconds_, 8);  // one time-out, not one per unit
  EXPECT_EQ(listedLevel("good"), "7");
  EXPECT_EQ(listedLevel("gone"), "-");
}

TEST_P(VantrelEndToEnd, UsageAndFileErrorsSayWhyAndConnectNowhere) {
  ServingUnit unit;
  site_.write({{"counter", unit.port()}}, "[scenes.open]\ncounter = 255\n");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"set", "counter"}, {"set", "nobody", "10"}, {"scene", "closed"}, {"dim", "counter"},
           {"set", "counter", "101%"}, {"--from", "0", "set", "counter", "10"}, {"--tries=0", "list"}}) {
    const ChildResult result = run(args);
    EXPECT_EQ(result.exitStatus, 2) << args[0];
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(matches(result.err, "vantrel: [^\r\n]+" + GetParam().lineEnd +
                                        "usage: vantrel [\\s\\S]*"))
        << result.err;
  }
  site_.write({{"counter", unit.port()}}, "[scenes.open]\ncountr = 255\n");
  const ChildResult bad = run({"scene", "open"});
  EXPECT_EQ(bad.exitStatus, 2);
  EXPECT_TRUE(matches(bad.err, site_.config() + ":7:1: .*countr.*")) << bad.err;
  unit.finish();
  EXPECT_EQ(unit.exchanges().size(), 0u);
}

TEST_P(VantrelEndToEnd, InterruptStopsEveryUnitAndRemembersWhatWasConfirmed) {
  ServingUnit a;
  ServingUnit b;
  site_.write({{"a", a.port()}, {"b", b.port()}});
  std::thread interrupter;
  const ChildResult result =
      run({"--over", "30s", "--steps", "1", "--from", "20", "set", "a", "b", "255"}, [&](int pid) {
        interrupter = std::thread([&a, &b, pid] {
          for (int i = 0; i < 1000 && (a.levels().empty() || b.levels().empty()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          kill(pid, SIGINT);
        });
      });
  interrupter.join();
  a.finish();
  b.finish();
  EXPECT_EQ(result.exitStatus, 130);
  EXPECT_EQ(result.err, lines("vantrel: a: interrupted; the last level confirmed was 20\n"
                              "vantrel: b: interrupted; the last level confirmed was 20\n"));
  EXPECT_LT(seconds_, 20);
  EXPECT_EQ(listedLevel("a"), "20");
  EXPECT_EQ(listedLevel("b"), "20");
}

// What the run confirmed is what it reports, whatever was confirmed before
// it (through the service too, which knew the unit's level already).
TEST_P(VantrelEndToEnd, AnInterruptBeforeTheRunConfirmedAnythingSaysSo) {
  ServingUnit a([](int i) {
    ReplyPlan plan;
    plan.kind = i == 0 ? ReplyKind::Echo : ReplyKind::Silent;
    return plan;
  });
  site_.write({{"a", a.port()}});
  ASSERT_EQ(run({"set", "a", "20"}).exitStatus, 0);
  std::thread interrupter;
  const ChildResult result = run({"--timeout", "60s", "set", "a", "30"}, [&](int pid) {
    // The silent unit notes nothing until the tool lets go, so the kernel's
    // table tells when the tool is running; an interrupt before the command
    // went out says the same.
    interrupter = std::thread([&a, pid] {
      connectionOpenTo(a.port(), 20000);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      kill(pid, SIGINT);
    });
  });
  interrupter.join();
  a.finish();
  EXPECT_EQ(result.exitStatus, 130);
  EXPECT_EQ(result.err, lines("vantrel: a: interrupted before any level was confirmed\n"));
  EXPECT_EQ(listedLevel("a"), "20");
}

// vantrel-fade leaves the unit where vantrel finds it: the last level it
// confirmed, even when the fade failed, under the address as written.
TEST_P(VantrelEndToEnd, WhatVantrelFadeConfirmedIsListedAndFadedFrom) {
  ServingUnit a([](int i) {
    ReplyPlan plan;
    plan.kind = i >= 2 && i <= 4 ? ReplyKind::ChangedByte : ReplyKind::Echo;
    return plan;
  });
  site_.write({{"a", a.port()}});
  const ChildResult failed = runFade({"--over", "0", "127.0.0.1", a.port(), "1", "0", "2"});
  EXPECT_EQ(failed.exitStatus, 1);
  EXPECT_EQ(listedLevel("a"), "1");

  const ChildResult faded = runFade({"--over", "0", "127.0.0.1", a.port(), "1", "1", "5"});
  EXPECT_EQ(faded.exitStatus, 0) << faded.err;
  EXPECT_EQ(listedLevel("a"), "5");
  const ChildResult set = run({"--over", "0", "set", "a", "3"});
  EXPECT_EQ(set.exitStatus, 0) << set.err;

  // A levels file that cannot be written is a warning, not a failure.
  // Through the service the tool writes none: the service remembers.
  const ChildResult unwritable =
      runFade({"127.0.0.1", a.port(), "1", "3", "3"}, site_.config() + "/levels");
  a.finish();
  EXPECT_EQ(unwritable.exitStatus, 0);
  if (!GetParam().throughService) {
    EXPECT_TRUE(matches(unwritable.err, "vantrel-fade: [^\r\n]+")) << unwritable.err;
  }
  EXPECT_EQ(a.levels(), (std::vector<int>{0, 1, 2, 2, 2, 1, 2, 3, 4, 5, 5, 4, 3, 3}));
}

// What a new user trips over, one test per kind of surprise.

TEST_P(VantrelEndToEnd, AFadeFromALevelNotKnownSaysItSetsAtOnce) {
  ServingUnit a;
  ServingUnit b;
  site_.write({{"a", a.port()}, {"b", b.port()}});
  const ChildResult first = run({"--quiet", "--over", "1s", "set", "all", "200"});
  EXPECT_EQ(first.exitStatus, 0);
  EXPECT_EQ(first.out, "");
  const std::string without =
      ": level not known: set at once to 200, without a fade (--from LEVEL fades from a level "
      "you give)\n";
  EXPECT_EQ(first.err, lines("vantrel: a" + without + "vantrel: b" + without));
  // Now that they are known, the next run fades, and says nothing of it.
  const ChildResult second = run({"--over", "100ms", "--steps", "1", "set", "all", "100"});
  a.finish();
  b.finish();
  EXPECT_EQ(second.exitStatus, 0);
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(a.levels(), (std::vector<int>{200, 200, 100}));
  EXPECT_EQ(b.levels(), (std::vector<int>{200, 200, 100}));
}

TEST_P(VantrelEndToEnd, TheResultLineCountsTheConfirmedUnitsWhenSomeFailed) {
  ServingUnit good;
  const LocalPort refusing;
  site_.write({{"good", good.port()}, {"gone", refusing.port()}});
  const ChildResult result = run({"--tries", "1", "set", "all", "7"});
  const ChildResult quiet = run({"--quiet", "--tries", "1", "set", "all", "7"});
  good.finish();
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_TRUE(matches(result.out, R"(1 of 2 units confirmed in \d+\.\d{3} s: 2 commands sent, 1 failed)"))
      << result.out;
  EXPECT_EQ(result.err, lines("vantrel: gone: level 7 not confirmed after 1 try: connection refused\n"));
  EXPECT_EQ(quiet.exitStatus, 1);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, result.err);
}

TEST_P(VantrelEndToEnd, LevelsThatCouldNotBeRememberedAreReportedAsSuch) {
  if (GetParam().throughService)
    GTEST_SKIP() << "through the service the tool writes no levels file: vantreld remembers them";
  ServingUnit a;
  site_.write({{"a", a.port()}});
  // Root may write anywhere: a folder where the lock would go stops even root.
  std::filesystem::create_directories(site_.state() + ".lock");
  const ChildResult result = run({"set", "a", "9"});
  a.finish();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(matches(result.err, "vantrel: levels not remembered: " + site_.state() +
                                      ": cannot lock " + site_.state() + R"(\.lock: [^\r\n]+)"))
      << result.err;
  EXPECT_EQ(a.levels(), std::vector<int>{9});
  EXPECT_EQ(listedLevel("a"), "-");
}

TEST_P(VantrelEndToEnd, TheUnitsFileCatchesAddressesThatCannotBeMeant) {
  ServingUnit unit;
  site_.write({{"a", unit.port()}, {"b", unit.port()}},
              "[units.c]\naddress = \"127.0.0.1:5001\"\nport = 5001\ntype = 1\n\n"
              "[units.d]\naddress = \"192.168.0.300\"\nport = 4001\ntype = 1\n");
  const ChildResult result = run({"set", "all", "10"});
  unit.finish();
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.out, "");
  const std::string file = site_.config();
  EXPECT_EQ(result.err,
            lines(file + ":8:8: unit 'b' has the address and port of unit 'a': 127.0.0.1 port " +
                  unit.port() + "\n" + file +
                  ":12:11: unit 'c': address '127.0.0.1:5001' holds a port: write address = "
                  "\"127.0.0.1\" and port = 5001\n" +
                  file +
                  ":17:11: unit 'd': address '192.168.0.300' is neither a dotted IPv4 address "
                  "(four numbers 0 to 255) nor a host name\n"));
  EXPECT_EQ(unit.exchanges().size(), 0u);
}

TEST_P(VantrelEndToEnd, SyntaxErrorsOfCommonMistakesComeWithAHint) {
  const std::string file = site_.config();
  site_.write({{"a", "4001"}}, "[scenes.open]\na = 50%\n");
  EXPECT_EQ(run({"list"}).err,
            lines(file + ":7:7: Error while parsing decimal integer: expected digit, saw '%'; "
                         "write a percentage in quotes: \"50%\"\n"));
  site_.write({{"a", "4001"}}, "[units.b]\naddress = 127.0.0.1\n");
  EXPECT_EQ(run({"list"}).err,
            lines(file + ":7:16: Error while parsing floating-point: expected decimal digit or "
                         "exponent, saw '.'; write an address in quotes: \"127.0.0.1\"\n"));
  site_.write({{"a", "4001"}}, "[units.a]\nport = 4002\n");
  const ChildResult twice = run({"list"});
  EXPECT_EQ(twice.exitStatus, 2);
  EXPECT_EQ(twice.err, lines(file + ":6:1: Error while parsing table header: cannot redefine "
                                    "existing table 'units.a' (first defined at line 1)\n"));
}

TEST_P(VantrelEndToEnd, OnTurnsEachUnitBackToItsLastLevelAndOffIsZero) {
  ServingUnit a;
  ServingUnit b;
  site_.write({{"a", a.port()}, {"b", b.port()}});
  EXPECT_EQ(run({"set", "a", "77"}).exitStatus, 0);
  EXPECT_EQ(run({"--over", "100ms", "--steps", "2", "set", "a", "off"}).exitStatus, 0);
  const ChildResult on = run({"set", "all", "on"});
  a.finish();
  b.finish();
  EXPECT_EQ(on.exitStatus, 0) << on.err;
  EXPECT_EQ(a.levels(), (std::vector<int>{77, 77, 38, 0, 77}));
  EXPECT_EQ(b.levels(), std::vector<int>{255});  // never confirmed a level: full
}

TEST_P(VantrelEndToEnd, ListShowsEachLevelAsAPercentageToo) {
  ServingUnit a;
  site_.write({{"a", a.port()}, {"b", "4001"}});
  ASSERT_EQ(run({"set", "a", "20%"}).exitStatus, 0);
  a.finish();
  const std::string listed = run({"list"}).out;
  EXPECT_TRUE(std::regex_search(
      listed, std::regex(R"(  a  127\.0\.0\.1:\d+ +type 1  level 51 \(20%\) at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)" +
                         GetParam().lineEnd + "  b  127\\.0\\.0\\.1:4001 +type 1  level -")))
      << listed;
}

// The service reads no curve of the tool's file yet: through it the levels would go raw.
TEST_P(VantrelEndToEnd, SetSendsEachUnitsByteAndListsAndRemembersTheLevel) {
  ServingUnit gamma;
  ServingUnit trimmed;
  ServingUnit plain;
  site_.write({{"plain", plain.port()}},
              "[units.gamma]\naddress = \"127.0.0.1\"\nport = " + gamma.port() +
                  "\ntype = 1\ncurve = 2.2\n\n[units.trimmed]\naddress = \"127.0.0.1\"\nport = " +
                  trimmed.port() + "\ntype = 1\nmin = 20\nmax = 230\n");
  const ChildResult result = run({"--verbose", "set", "all", "50%"});
  gamma.finish();
  trimmed.finish();
  plain.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(gamma.levels(), std::vector<int>{56});
  EXPECT_EQ(trimmed.levels(), std::vector<int>{125});
  EXPECT_EQ(plain.levels(), std::vector<int>{128});
  EXPECT_TRUE(std::regex_search(result.out, std::regex(R"(gamma    level 128 \(sent  56\)  confirmed)")))
      << result.out;
  EXPECT_TRUE(std::regex_search(result.out, std::regex(R"(plain    level 128  confirmed)")))
      << result.out;
  const std::string listed = run({"list"}).out;
  for (const char* line : {"  plain    127\\.0\\.0\\.1:\\d+ +type 1  level 128 \\(50%\\) at ",
                           "  gamma    127\\.0\\.0\\.1:\\d+ +type 1  level 128 \\(sent 56\\) \\(50%\\) at ",
                           "  trimmed  127\\.0\\.0\\.1:\\d+ +type 1  level 128 \\(sent 125\\) \\(50%\\) at "})
    EXPECT_TRUE(std::regex_search(listed, std::regex(line))) << line << "\n" << listed;
  if (GetParam().throughService)
    return;  // the service keeps its own levels file
  std::ifstream levels(site_.state());
  const std::string remembered((std::istreambuf_iterator<char>(levels)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(std::regex_search(remembered, std::regex("\n127\\.0\\.0\\.1 " + gamma.port() +
                                                       " 1 128 \\S+ 128 56\n")))
      << remembered;
  EXPECT_TRUE(std::regex_search(remembered, std::regex("\n127\\.0\\.0\\.1 " + plain.port() +
                                                       " 1 128 \\S+ 128\n")))
      << remembered;
}

TEST_P(VantrelEndToEnd, AFadeThroughTheDaliCurveSendsEachByteOnceUpToMax) {
  ServingUnit unit;
  site_.write({}, "[units.d]\naddress = \"127.0.0.1\"\nport = " + unit.port() +
                      "\ntype = 1\ncurve = \"dali\"\nmin = 20\nmax = 230\n");
  const ChildResult result = run({"--over", "1s", "--steps", "255", "--from", "0", "set", "d", "255"});
  unit.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const std::vector<int> bytes = unit.levels();
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(bytes.front(), 0);
  EXPECT_EQ(bytes.back(), 230);
  for (std::size_t k = 1; k < bytes.size(); ++k)
    EXPECT_GT(bytes[k], bytes[k - 1]) << k;
  EXPECT_LT(bytes.size(), 200u);  // the bottom's levels share their bytes
  EXPECT_EQ(listedLevel("d"), "255");
}

TEST_P(VantrelEndToEnd, OnGivesTheOnLevelToAUnitWithNoLevelToGoBackTo) {
  ServingUnit fresh;
  ServingUnit known;
  site_.write({}, "[units.fresh]\naddress = \"127.0.0.1\"\nport = " + fresh.port() +
                      "\ntype = 1\non_level = \"40%\"\ncurve = 2\n\n[units.known]\naddress = "
                      "\"127.0.0.1\"\nport = " + known.port() + "\ntype = 1\non_level = 10\n");
  ASSERT_EQ(run({"set", "known", "77"}).exitStatus, 0);
  ASSERT_EQ(run({"set", "known", "off"}).exitStatus, 0);
  const ChildResult on = run({"set", "all", "on"});
  fresh.finish();
  known.finish();
  EXPECT_EQ(on.exitStatus, 0) << on.err;
  EXPECT_EQ(fresh.levels(), std::vector<int>{41});  // level 102: 1 + round((101/254)^2 × 254)
  EXPECT_EQ(known.levels(), (std::vector<int>{77, 0, 77}));
  EXPECT_EQ(listedLevel("fresh"), "102");
}

TEST_P(VantrelEndToEnd, EachBadCurveTrimAndOnLevelIsReportedWhereItIs) {
  ServingUnit unit;
  site_.write({}, "[units.a]\naddress = \"127.0.0.1\"\nport = " + unit.port() +
                      "\ntype = 1\ncurve = \"gamma\"\nmin = 300\nmax = 1\non_level = \"0%\"\n");
  const ChildResult result = run({"set", "all", "10"});
  unit.finish();
  const std::string file = site_.config();
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            lines(file + ":5:9: unit 'a': curve must be \"linear\", \"dali\" or a number from 1.0 to 4.0\n" +
                  file + ":6:7: unit 'a': min must be a whole number from 1 to 254\n" + file +
                  ":7:7: unit 'a': max must be a whole number from 2 to 255, above min\n" + file +
                  ":8:12: unit 'a': on_level must be 1 to 255 or \"1%\" to \"100%\"\n"));
  EXPECT_EQ(unit.exchanges().size(), 0u);
}

TEST_P(VantrelEndToEnd, TheToolsShareTheirConventions) {
  for (const std::vector<std::string>& tool : {GetParam().vantrelCommand, GetParam().fadeCommand}) {
    std::vector<std::string> help = tool;
    help.push_back("--help");
    std::vector<std::string> h = tool;
    h.push_back("-h");
    const ChildResult byName = runChild(help, GetParam().environment, 30000);
    const ChildResult byLetter = runChild(h, GetParam().environment, 30000);
    EXPECT_EQ(byLetter.exitStatus, 0);
    EXPECT_EQ(byLetter.out, byName.out);
    EXPECT_NE(byLetter.out.find("usage: "), std::string::npos);
  }
  std::vector<std::string> argv = GetParam().simCommand;
  argv.insert(argv.end(), {"--port=0", "--units=2"});
  BackgroundChild sim(argv, GetParam().environment);
  const std::string first = sim.readLine(30000);
  const std::string second = sim.readLine(5000);
  EXPECT_TRUE(!first.empty() && !second.empty() && first != second) << first << " " << second;

  const ChildResult missing = run({"--config", site_.config() + ".missing", "list"});
  EXPECT_EQ(missing.exitStatus, 2);
  EXPECT_TRUE(matches(missing.err,
                      "vantrel: " + site_.config() + R"(\.missing: cannot read: [^\r\n]+)"))
      << missing.err;
}

// Saved scenes, direct and through the service, which saves the levels it confirmed.

TEST_P(VantrelEndToEnd, ASavedSceneHoldsTheConfirmedLevelsAndIsRecalledAsAWrittenOne) {
  ServingUnit a;
  ServingUnit b;
  ServingUnit c;
  site_.write({{"a", a.port()}, {"b", b.port()}, {"c", c.port()}},
              "[groups]\nab = [\"a\", \"b\"]\n");
  ASSERT_EQ(run({"set", "a", "40"}).exitStatus, 0);
  ASSERT_EQ(run({"set", "b", "90"}).exitStatus, 0);
  const ChildResult saved = run({"scene", "save", "evening"});
  EXPECT_EQ(saved.exitStatus, 0) << saved.err;
  EXPECT_EQ(saved.err, lines("vantrel: scene 'evening': left out, level not known: c\n"));
  EXPECT_EQ(saved.out, lines("Saved scene 'evening': 2 units.\n"));
  ASSERT_EQ(run({"set", "all", "0"}).exitStatus, 0);
  const ChildResult recalled = run({"scene", "evening"});
  a.finish();
  b.finish();
  c.finish();
  EXPECT_EQ(recalled.exitStatus, 0) << recalled.err;
  EXPECT_EQ(a.levels(), (std::vector<int>{40, 0, 40}));
  EXPECT_EQ(b.levels(), (std::vector<int>{90, 0, 90}));
  EXPECT_EQ(c.levels(), std::vector<int>{0});
  EXPECT_TRUE(std::regex_search(run({"list"}).out,
                                std::regex("scenes:" + GetParam().lineEnd +
                                           "  evening \\(saved\\)  a 40, b 90" + GetParam().lineEnd)));
}

TEST_P(VantrelEndToEnd, ASavedSceneIsReplacedRemovedAndNeverTakesAWrittenScenesName) {
  ServingUnit a;
  site_.write({{"a", a.port()}}, "[scenes.open]\na = 255\n");
  ASSERT_EQ(run({"set", "a", "30"}).exitStatus, 0);
  const ChildResult clash = run({"scene", "save", "open"});
  EXPECT_EQ(clash.exitStatus, 2);
  EXPECT_EQ(clash.err, lines(site_.config() + ":6: scene 'open' is written in the units file: "
                                              "a saved scene takes another name\n"));
  ASSERT_EQ(run({"scene", "save", "low", "a"}).exitStatus, 0);
  ASSERT_EQ(run({"set", "a", "60"}).exitStatus, 0);
  ASSERT_EQ(run({"scene", "save", "low", "a"}).exitStatus, 0);  // replaces it
  ASSERT_EQ(run({"scene", "low"}).exitStatus, 0);
  EXPECT_EQ(run({"scene", "remove", "low"}).exitStatus, 0);
  const ChildResult gone = run({"scene", "low"});
  a.finish();
  EXPECT_EQ(gone.exitStatus, 2);
  EXPECT_TRUE(matches(gone.err, "vantrel: unknown scene 'low'" + GetParam().lineEnd +
                                    "usage: vantrel [\\s\\S]*"))
      << gone.err;
  EXPECT_EQ(a.levels(), (std::vector<int>{30, 60, 60}));
}

TEST_P(VantrelEndToEnd, ASaveThatCannotBeWrittenSaysWhyInOneLine) {
  ServingUnit a;
  site_.write({{"a", a.port()}});
  ASSERT_EQ(run({"set", "a", "30"}).exitStatus, 0);
  a.finish();
  // Root may write anywhere: a folder where the new file would go stops even root.
  std::filesystem::create_directories(site_.state() + ".scenes.tmp");
  const ChildResult result = run({"scene", "save", "evening"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(matches(result.err, "vantrel: scene 'evening' not saved: cannot create " +
                                      site_.state() + R"(\.scenes\.tmp: [^\r\n]+)"))
      << result.err;
  EXPECT_EQ(run({"scene", "evening"}).exitStatus, 2);
}

INSTANTIATE_TEST_SUITE_P(Platforms, VantrelEndToEnd, ::testing::ValuesIn(platformsAndService()),
                         [](const auto& info) { return info.param.name; });

// Eight runs at once, one per unit, as a scheduler starts them: none loses
// another's level.
TEST(VantrelRuns, RunningSideBySideLoseNoLevel) {
  Site site;
  std::vector<std::unique_ptr<ServingUnit>> units;
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 8; ++i) {
    units.push_back(std::make_unique<ServingUnit>());
    entries.push_back({"u" + std::to_string(i), units.back()->port()});
  }
  site.write(entries);
  const ToolPlatform linux = testedPlatforms().front();
  std::vector<std::thread> runs;
  std::vector<int> statuses(8, -1);
  for (int i = 0; i < 8; ++i) {
    runs.emplace_back([&, i] {
      std::vector<std::string> argv = linux.vantrelCommand;
      argv.insert(argv.end(), {"--config", site.config(), "set", "u" + std::to_string(i),
                               std::to_string(100 + i)});
      const std::vector<std::string> environment = {"VANTREL_STATE=" + site.state(),
                                                    "VANTREL_SOCKET=" + site.dir() + "/none.sock"};
      statuses[i] = runChild(argv, environment, 30000).exitStatus;
    });
  }
  for (std::thread& run : runs)
    run.join();
  EXPECT_EQ(statuses, std::vector<int>(8, 0));
  std::vector<std::string> list = linux.vantrelCommand;
  list.insert(list.end(), {"--config", site.config(), "list"});
  const std::string listed = runChild(list, {"VANTREL_STATE=" + site.state(),
                                             "VANTREL_SOCKET=" + site.dir() + "/none.sock"},
                                      30000).out;
  for (int i = 0; i < 8; ++i)
    EXPECT_TRUE(std::regex_search(listed, std::regex("  u" + std::to_string(i) + " .* level " +
                                                     std::to_string(100 + i) + " ")))
        << listed;
}

}  // namespace
