// Runs the built vantreld as a child process: its usage errors, a file with
// nothing for it to serve, the other front ends without the tools' socket,
// a clean stop on SIGTERM or SIGHUP, and a kill during a fade. (--help and
// --version are among the release checks.)

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/serving_unit.hpp"
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

// Without a place for the tools' socket, a file with another front end is
// served all the same, once vantreld has said why the tools cannot reach it.
TEST(VantreldEndToEnd, WithoutAPlaceForTheSocketTheOtherFrontEndsServe) {
  TempDir dir;
  // A port that was free a moment ago, for the page.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size), 0);
  close(probe);
  const std::string config = dir.path("vantrel.toml");
  writeText(config, std::string(kUnit) + "[web]\nlisten = \"127.0.0.1:" +
                        std::to_string(ntohs(address.sin_port)) + "\"\n");
  const std::string socket = dir.path("missing/vantreld.sock");
  BackgroundChild child({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", VANTRELD_PATH, "--config", config,
                         "--verbose"},
                        {"VANTREL_STATE=" + dir.path("levels"), "VANTREL_SOCKET=" + socket});
  EXPECT_EQ(child.readLine(10000),
            "vantreld: no local socket for the tools: " + socket + ": No such file or directory");
  EXPECT_EQ(child.readLine(10000), "vantreld: serving 1 units from " + config);
  EXPECT_EQ(child.stop(SIGTERM, 5000), 0);
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

/// vantreld serving unit a, on `port`, to the tools alone, as a user starts
/// it; `vantrel(args)` is the tool's command line.
class UnitAService {
 public:
  explicit UnitAService(const std::string& port) {
    writeText(config_, "[units.a]\naddress = \"127.0.0.1\"\nport = " + port + "\ntype = 1\n");
  }
  void start() {
    child_ = std::make_unique<BackgroundChild>(
        std::vector<std::string>{VANTRELD_PATH, "--config", config_, "--verbose"}, environment());
    EXPECT_EQ(child_->readLine(10000), "vantreld: serving 1 units from " + config_);
    EXPECT_EQ(child_->readLine(10000), "vantreld: the tools reach it at " + socket_);
  }
  int stop(int signal) { return child_->stop(signal, 5000); }
  ChildResult vantrel(std::vector<std::string> args) const {
    args.insert(args.begin(), {VANTREL_PATH, "--config", config_});
    return runChild(args, environment(), 30000);
  }
  /// The level in the levels file, -1 when it holds none.
  int remembered() const {
    std::ifstream in(dir_.path("levels"));
    std::string address, port, type;
    int level = -1;
    for (std::string line; std::getline(in, line);)
      if (!line.empty() && line[0] != '#')
        std::istringstream(line) >> address >> port >> type >> level;
    return level;
  }
  const std::string& socket() const { return socket_; }

 private:
  std::vector<std::string> environment() const {
    return {"VANTREL_STATE=" + dir_.path("levels"), "VANTREL_SOCKET=" + socket_};
  }
  TempDir dir_;
  std::string config_ = dir_.path("vantrel.toml");
  std::string socket_ = dir_.path("vantreld.sock");
  std::unique_ptr<BackgroundChild> child_;
};

bool receives(const ServingUnit& unit, std::size_t count) {
  for (int i = 0; i < 1000 && unit.levels().size() < count; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return unit.levels().size() >= count;
}

// A closed terminal ends it as a stop does: the fade stopped, its level
// written, the socket removed.
TEST(VantreldEndToEnd, SighupStopsItAsSigtermDoes) {
  ServingUnit a;
  UnitAService service(a.port());
  service.start();
  const ChildResult handed = service.vantrel({"--no-wait", "--over", "10s", "--from", "0", "set", "a", "250"});
  EXPECT_EQ(handed.exitStatus, 0) << handed.err;
  ASSERT_TRUE(receives(a, 3));
  EXPECT_EQ(service.stop(SIGHUP), 0);
  EXPECT_FALSE(std::filesystem::exists(service.socket()));
  a.finish();
  const std::vector<int> sent = a.levels();
  // The command cut short by the stop may have reached the unit unconfirmed.
  const int level = service.remembered();
  EXPECT_TRUE(level == sent.back() || level == sent[sent.size() - 2]) << level;
}

TEST(VantreldEndToEnd, AKillDuringALongFadeLosesAboutASecondOfIt) {
  ServingUnit a;
  UnitAService service(a.port());
  service.start();
  EXPECT_EQ(service.vantrel({"set", "a", "99"}).exitStatus, 0);
  EXPECT_EQ(service.vantrel({"--no-wait", "--over", "10s", "set", "a", "250"}).exitStatus, 0);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(service.stop(SIGKILL), -1);
  a.finish();
  const int last = a.levels().back();
  const int level = service.remembered();
  // 151 levels in 10 s: a second is 15 of them.
  EXPECT_GT(level, 99);
  EXPECT_LE(level, last);
  EXPECT_LE(last - level, 25) << "the unit is at " << last;
  service.start();
  const ChildResult list = service.vantrel({"list"});
  EXPECT_NE(list.out.find("level " + std::to_string(level) + " ("), std::string::npos) << list.out;
  EXPECT_EQ(service.stop(SIGTERM), 0);
}

}  // namespace
