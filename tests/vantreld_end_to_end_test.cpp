// Runs the built vantreld as a child process: its usage errors, a file with
// nothing for it to serve, and a clean stop on SIGTERM. (--help and
// --version are among the release checks.)

#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

namespace {

const char kUnit[] = "[units.a]\naddress = \"127.0.0.1\"\nport = 4001\ntype = 1\n";
const char kUsage[] =
    "usage: vantreld [--config FILE] [--verbose]\n"
    "Try 'vantreld --help' for more information.\n";

ChildResult vantreld(const std::vector<std::string>& args, const TempDir& dir,
                     const std::string& socket = "") {
  std::vector<std::string> argv = {VANTRELD_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return runChild(argv, {"VANTREL_STATE=" + dir.path("levels"),
                         "VANTREL_SOCKET=" + (socket.empty() ? dir.path("vantreld.sock") : socket)},
                  10000);
}

TEST(VantreldEndToEnd, UsageErrorsSayWhyThenTheUsage) {
  TempDir dir;
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--frobnicate"}, "vantreld: unknown option '--frobnicate'\n"},
      {{"--config"}, "vantreld: option --config needs a value\n"},
      {{"--config="}, "vantreld: --config needs a file name\n"},
      {{"serve"}, "vantreld: unexpected 'serve'\n"},
  };
  for (const auto& [args, reason] : cases) {
    const ChildResult result = vantreld(args, dir);
    EXPECT_EQ(result.exitStatus, 2) << args[0];
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, reason + kUsage);
  }
}

// A file without [mqtt] and [web] serves the tools alone; without a place
// for their socket either, nothing is left to serve.
TEST(VantreldEndToEnd, AFileWithNeitherTableAndNoSocketLeavesNothingToServe) {
  TempDir dir;
  const std::string config = dir.path("vantrel.toml");
  writeText(config, kUnit);
  const std::string socket = dir.path("missing/vantreld.sock");
  const ChildResult result = vantreld({"--config", config}, dir, socket);
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.err, "vantreld: no local socket for the tools: " + socket +
                            ": No such file or directory, and " + config +
                            " has no [mqtt], [web], [sacn] or [artnet] table: nothing to serve\n");
  writeText(config, std::string(kUnit) + "[mqtt]\nport = \"1883\"\n");
  const ChildResult bad = vantreld({"--config", config}, dir);
  EXPECT_EQ(bad.exitStatus, 2);
  EXPECT_EQ(bad.err, config + ":6:8: [mqtt] port must be a whole number from 1 to 65535\n");
}

TEST(VantreldEndToEnd, StopsCleanlyOnSigterm) {
  TempDir dir;
  const std::string config = dir.path("vantrel.toml");
  writeText(config, std::string(kUnit) + "[web]\n");
  BackgroundChild child({VANTRELD_PATH, "--config", config, "--verbose"},
                        {"VANTREL_STATE=" + dir.path("levels"),
                         "VANTREL_SOCKET=" + dir.path("vantreld.sock")});
  EXPECT_EQ(child.readLine(10000), "vantreld: serving 1 units from " + config);
  EXPECT_EQ(child.readLine(10000), "vantreld: the tools reach it at " + dir.path("vantreld.sock"));
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(child.stop(SIGTERM, 5000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(2));
}

}  // namespace
