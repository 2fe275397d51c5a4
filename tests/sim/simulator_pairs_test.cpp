// The tool of each platform against the simulator of each, run as the
// programs users run, one of them under wine: every pair must give the
// verdicts of the native Linux pair, and the simulators must log alike.

#include <signal.h>

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/dim_messages.hpp"
#include "support/tool_platform.hpp"

namespace {

struct Mode {
  const char* reply;     ///< vantrel-sim --reply
  const char* shown;     ///< the reply buffer in the tool's receive trace line
  bool succeeds;
  const char* answered;  ///< the simulator's log line from " received" on
};

// Unit type 1, level 128: the frame is 7e 5a 04 80.
const Mode kModes[] = {
    {"echo", "0x7e 0x5a 0x04 0x80(128)", true, "answered 7e 5a 04 80 (echo)"},
    {"change:0", "0xffffff81 0x5a 0x04 0x80(128)", false, "answered 81 5a 04 80 (changed byte)"},
    {"short:2", "0x7e 0x5a 0x00 0x00(000)", false, "answered 7e 5a (short, then closed)"},
    {"close", "0x0 0x0 0x00 0x00(000)", false, "answered nothing (closed)"},
    {"reset", "0x0 0x0 0x00 0x00(000)", false, "answered nothing (reset)"},
};

using Pair = std::tuple<ToolPlatform, ToolPlatform>;  // the tool's platform, the simulator's

class SimulatorPair : public ::testing::TestWithParam<Pair> {};

TEST_P(SimulatorPair, GivesTheVerdictsOfTheNativePair) {
  const ToolPlatform& tool = std::get<0>(GetParam());
  const ToolPlatform& simulator = std::get<1>(GetParam());
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.reply);
    std::vector<std::string> simArgv = simulator.simCommand;
    simArgv.insert(simArgv.end(), {"--port", "0", "--count", "1", "--reply", mode.reply});
    BackgroundChild sim(simArgv, {});
    const std::string port = sim.readLine(30000);
    ASSERT_FALSE(port.empty()) << "the simulator did not start";

    std::vector<std::string> toolArgv = tool.command;
    toolArgv.insert(toolArgv.end(), {"127.0.0.1", port, "1", "128"});
    const ChildResult result = runChild(toolArgv, tool.environment, 30000);
    const std::string expected = sent("0x7e 0x5a 0x04 0x80(128)") + received(mode.shown) +
                                 (mode.succeeds ? succeeded(128) : failed(128));
    EXPECT_EQ(result.out, console(tool, expected));
    EXPECT_EQ(result.exitStatus, 0);

    const std::string log = sim.readLine(10000);
    const size_t client = log.find(" received");  // what precedes it is the client's address
    EXPECT_EQ(client == std::string::npos ? log : log.substr(client),
              std::string(" received 7e 5a 04 80 (unit type 1, level 128); ") + mode.answered);
    EXPECT_EQ(sim.stop(0, 10000), 0);  // --count 1: done after one exchange
  }
}

std::string pairName(const ::testing::TestParamInfo<Pair>& info) {
  return std::get<0>(info.param).name + "ToolOn" + std::get<1>(info.param).name + "Simulator";
}

INSTANTIATE_TEST_SUITE_P(Platforms, SimulatorPair,
                         ::testing::Combine(::testing::ValuesIn(testedPlatforms()),
                                            ::testing::ValuesIn(testedPlatforms())),
                         pairName);

}  // namespace
