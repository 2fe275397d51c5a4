// Runs the built vantrel-fade as a child process against units on
// 127.0.0.1: what reaches the unit and in which order, the exit status, and
// what the fade says. Timing is checked only for order and coarse bounds.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sim/unit_peer.hpp"
#include "support/child_process.hpp"
#include "support/local_ports.hpp"
#include "support/serving_unit.hpp"
#include "support/temp_dir.hpp"
#include "support/tool_platform.hpp"
#include "support/tools_service.hpp"

namespace {

using Clock = std::chrono::steady_clock;

ReplyPlan failingWith(ReplyKind kind) {
  ReplyPlan plan;
  plan.kind = kind;
  return plan;
}

std::vector<int> range(int from, int to) {
  std::vector<int> levels;
  for (int level = from; level <= to; ++level)
    levels.push_back(level);
  return levels;
}

class FadeEndToEnd : public ::testing::TestWithParam<ToolPlatform> {
 protected:
  void SetUp() override {
    if (GetParam().throughService)
      service_ = std::make_unique<ToolsService>(dir_.path(), dir_.path("levels"));
  }
  ChildResult runFade(const std::vector<std::string>& args,
                      const std::function<void(int)>& started = {}) {
    std::vector<std::string> argv = GetParam().fadeCommand;
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> environment = GetParam().environment;
    environment.push_back("VANTREL_SOCKET=" +
                          (service_ ? service_->socket() : dir_.path("none.sock")));
    const Clock::time_point start = Clock::now();
    ChildResult result = runChild(argv, environment, 30000, started);
    seconds_ = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
  }
  /// `text` as a line of the platform's console.
  std::string line(const std::string& text) const { return text + GetParam().lineEnd; }
  bool matches(const std::string& text, const std::string& pattern) const {
    return std::regex_match(text, std::regex(pattern + GetParam().lineEnd));
  }

  TempDir dir_;
  std::unique_ptr<ToolsService> service_;  ///< after dir_: it goes first
  double seconds_ = 0;  ///< how long the last run took, start to exit
};

TEST_P(FadeEndToEnd, FastFadeSendsEveryLevelOnceAndInOrder) {
  {
    ServingUnit unit;
    const ChildResult result = runFade({"--over", "0", "127.0.0.1", unit.port(), "1", "0", "255"});
    unit.finish();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(matches(result.out, R"(Level 255 confirmed in \d+\.\d{3} s: 256 commands sent, 0 failed)"))
        << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(unit.levels(), range(0, 255));
  }
  // Downwards, unit type 2, options among the arguments, a host name.
  ServingUnit unit;
  const ChildResult result =
      runFade({"localhost", unit.port(), "--steps=4", "2", "200", "--over=0", "100", "--verbose"});
  unit.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  // Only --verbose tells the two ways apart: one line naming the socket.
  EXPECT_EQ(result.err, service_ ? line("vantrel-fade: through vantreld at " + service_->socket())
                                 : "");
  EXPECT_EQ(unit.levels(), (std::vector<int>{200, 175, 150, 125, 100}));
  for (const Exchange& e : unit.exchanges())
    EXPECT_EQ(e.received[2], 0x05);
}

TEST_P(FadeEndToEnd, TimedFadeSendsInOrderAndTakesItsTime) {
  ServingUnit unit;
  const ChildResult result =
      runFade({"--over", "600ms", "--steps", "6", "127.0.0.1", unit.port(), "1", "0", "60"});
  unit.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(unit.levels(), (std::vector<int>{0, 10, 20, 30, 40, 50, 60}));
  const std::vector<Clock::time_point> arrivals = unit.arrivals();
  ASSERT_EQ(arrivals.size(), 7u);
  // No command goes out early, and a fade does not drag on.
  EXPECT_GE(arrivals.back() - arrivals.front(), std::chrono::milliseconds(500));
  EXPECT_LT(seconds_, 10);
}

TEST_P(FadeEndToEnd, FailedMiddleCommandIsPassedButTheLastIsTriedAgain) {
  // Exchanges 0..3 carry levels 0..3; 1 and the first try of 3 get a wrong echo.
  ServingUnit unit([](int i) { return i == 1 || i == 3 ? failingWith(ReplyKind::ChangedByte) : ReplyPlan{}; });
  const ChildResult result = runFade({"--over", "0", "127.0.0.1", unit.port(), "1", "0", "3"});
  unit.finish();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_TRUE(matches(result.out, R"(Level 3 confirmed in \d+\.\d{3} s: 5 commands sent, 2 failed)"))
      << result.out;
  EXPECT_EQ(unit.levels(), (std::vector<int>{0, 1, 2, 3, 3}));
}

TEST_P(FadeEndToEnd, LastCommandNeverConfirmedIsTriedExactlyTriesTimes) {
  ServingUnit unit([](int i) { return i >= 2 ? failingWith(ReplyKind::ChangedByte) : ReplyPlan{}; });
  const ChildResult result =
      runFade({"--over", "0", "--tries", "4", "127.0.0.1", unit.port(), "1", "0", "2"});
  unit.finish();
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, line("vantrel-fade: 127.0.0.1:" + unit.port() +
                             ": level 2 not confirmed after 4 tries: reply 7e 5a 04 fd is not the echo"));
  EXPECT_EQ(unit.levels(), (std::vector<int>{0, 1, 2, 2, 2, 2}));
}

TEST_P(FadeEndToEnd, UnreachableUnitFailsQuickly) {
  const LocalPort refusing;
  const ChildResult result = runFade({"127.0.0.1", refusing.port(), "1", "0", "10"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, line("vantrel-fade: 127.0.0.1:" + refusing.port() +
                             ": level 10 not confirmed: could not start at level 0 after 3 tries: "
                             "connection refused"));
  EXPECT_LT(seconds_, 5);
}

TEST_P(FadeEndToEnd, SilentUnitIsBoundedByTheTimeout) {
  const LocalPort silent(true);
  const ChildResult result =
      runFade({"--timeout", "200ms", "--tries", "2", "127.0.0.1", silent.port(), "1", "5", "5"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, line("vantrel-fade: 127.0.0.1:" + silent.port() +
                             ": level 5 not confirmed after 2 tries: timed out waiting for the reply"));
  EXPECT_GE(seconds_, 0.4);  // two tries of 200 ms
  EXPECT_LT(seconds_, 10);
}

TEST_P(FadeEndToEnd, UsageErrorsSayWhyAndConnectNowhere) {
  ServingUnit unit;
  const std::string port = unit.port();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"127.0.0.1", port, "1", "0"},
           {"127.0.0.1", port, "3", "0", "10"},
           {"127.0.0.1", port, "1", "0", "256"},
           {"--over", "1m", "127.0.0.1", port, "1", "0", "10"},
           {"--bogus", "127.0.0.1", port, "1", "0", "10"}}) {
    const ChildResult result = runFade(args);
    EXPECT_EQ(result.exitStatus, 2) << args[0];
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(matches(result.err, "vantrel-fade: [^\r\n]+" + GetParam().lineEnd +
                                        "usage: vantrel-fade .*" + GetParam().lineEnd + ".*"))
        << result.err;
  }
  unit.finish();
  EXPECT_EQ(unit.exchanges().size(), 0u);
}

TEST_P(FadeEndToEnd, InterruptStopsTheFadeWithStatus130) {
  // Between commands, waiting for the last: it says where the unit was left.
  ServingUnit unit;
  std::thread interrupter;
  const ChildResult midway =
      runFade({"--over", "30s", "--steps", "1", "127.0.0.1", unit.port(), "1", "0", "255"},
              [&](int pid) {
    interrupter = std::thread([&unit, pid] {
      for (int i = 0; i < 1000 && unit.levels().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      kill(pid, SIGINT);
    });
  });
  interrupter.join();
  EXPECT_EQ(midway.exitStatus, 130);
  EXPECT_EQ(midway.out, "");
  EXPECT_EQ(midway.err, line("vantrel-fade: 127.0.0.1:" + unit.port() +
                             ": interrupted; the last level confirmed was 0"));
  EXPECT_LT(seconds_, 20);

  // Within an exchange that would wait a minute: it is abandoned.
  const LocalPort silent(true);
  const ChildResult waiting = runFade({"--timeout", "60s", "127.0.0.1", silent.port(), "1", "0", "9"},
                                      [&](int pid) {
    // Once it waits for the reply: a loaded machine may take a while to start it (wine).
    interrupter = std::thread([&silent, pid] {
      silent.connected(20000);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      kill(pid, SIGINT);
    });
  });
  interrupter.join();
  EXPECT_EQ(waiting.exitStatus, 130);
  EXPECT_EQ(waiting.err, line("vantrel-fade: 127.0.0.1:" + silent.port() +
                              ": interrupted before any level was confirmed"));
  EXPECT_LT(seconds_, 20);
}

INSTANTIATE_TEST_SUITE_P(Platforms, FadeEndToEnd, ::testing::ValuesIn(platformsAndService()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
