// vantrel-sim standing in for many units at once, run as the program users
// run, against clients on 127.0.0.1.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/local_ports.hpp"
#include "support/tool_platform.hpp"

namespace {

/// A connection to a unit on 127.0.0.1, or -1; no read waits past 5 s.
int connectTo(const std::string& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const timeval limit = {5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
    return fd;
  close(fd);
  return -1;
}

/// The first `units` lines: the ports, or "" from the first that did not
/// come on.
std::vector<std::string> readPorts(BackgroundChild& sim, int units) {
  std::vector<std::string> ports;
  for (int i = 0; i < units; ++i)
    ports.push_back(i > 0 && ports.back().empty() ? "" : sim.readLine(i == 0 ? 30000 : 5000));
  return ports;
}

class SimulatorUnits : public ::testing::TestWithParam<ToolPlatform> {};

// All units at once, as the benchmark of a tool that drives many does it.
// Their delays run side by side: one after the other they would take 25 s.
TEST_P(SimulatorUnits, EachAnswersOnItsOwnPortAndAllCountTowardsOneTotal) {
  const int units = 256;
  std::vector<std::string> argv = GetParam().simCommand;
  argv.insert(argv.end(), {"--port", "0", "--units", "256", "--count", "256", "--delay", "100ms"});
  BackgroundChild sim(argv, {});
  const std::vector<std::string> ports = readPorts(sim, units);
  ASSERT_EQ(std::set<std::string>(ports.begin(), ports.end()).size(), ports.size());
  ASSERT_NE(ports.back(), "");

  std::vector<int> clients;
  for (const std::string& port : ports)
    clients.push_back(connectTo(port));
  for (int i = 0; i < units; ++i) {
    const std::uint8_t command[4] = {0x7e, 0x5a, 0x04, static_cast<std::uint8_t>(i)};
    send(clients[i], command, sizeof command, MSG_NOSIGNAL);
  }
  int echoed = 0;
  for (int i = 0; i < units; ++i) {
    std::uint8_t reply[4] = {};
    if (echoed == i)  // after a miss, the rest are not waited for
      echoed += recv(clients[i], reply, sizeof reply, MSG_WAITALL) == 4 && reply[3] == i;
    close(clients[i]);
  }
  EXPECT_EQ(echoed, units);

  // In the order the exchanges ended, each line under its own unit's port.
  std::set<std::string> logged;
  for (int i = 0; i < units; ++i) {
    const std::string line = sim.readLine(5000);
    if (line.empty())
      break;
    const std::string port = line.substr(0, line.find(':'));
    const size_t unit = std::find(ports.begin(), ports.end(), port) - ports.begin();
    const std::string prefix = port + ": 127.0.0.1:";
    EXPECT_EQ(line.substr(0, prefix.size()), prefix) << line;
    EXPECT_NE(line.find("(unit type 1, level " + std::to_string(unit) + "); answered 7e 5a 04 "),
              std::string::npos)
        << line;
    logged.insert(port);
  }
  EXPECT_EQ(logged.size(), ports.size());
  EXPECT_EQ(sim.stop(0, 10000), 0);  // done after that many exchanges of all units
}

INSTANTIATE_TEST_SUITE_P(Platforms, SimulatorUnits, ::testing::ValuesIn(testedPlatforms()),
                         [](const ::testing::TestParamInfo<ToolPlatform>& info) {
                           return info.param.name;
                         });

TEST(SimulatorUnits, ASilentUnitHoldsUpNoOtherAndAStopEndsThemAll) {
  BackgroundChild sim({VANTREL_SIM_PATH, "--port", "0", "--units", "2", "--reply", "silent"}, {});
  const std::vector<std::string> ports = readPorts(sim, 2);
  ASSERT_NE(ports[1], "");
  const std::uint8_t command[4] = {0x7e, 0x5a, 0x04, 0x80};
  const int holding = connectTo(ports[0]);
  send(holding, command, sizeof command, MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // taken up by the first unit

  const int other = connectTo(ports[1]);
  send(other, command, sizeof command, MSG_NOSIGNAL);
  close(other);
  EXPECT_EQ(sim.readLine(5000).substr(0, ports[1].size() + 2), ports[1] + ": ");

  // The first unit would hold its client for 60 s.
  EXPECT_EQ(sim.stop(SIGTERM, 5000), 0);
  EXPECT_NE(sim.readLine(1000).find(ports[0] + ": "), std::string::npos);
  close(holding);
}

/// How often each thread of process `pid` has given up the processor of its
/// own accord so far: once per wake-up of a thread that waits.
std::vector<long> voluntarySwitches(int pid) {
  std::vector<long> counts;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
        counts.push_back(std::stol(line.substr(line.find(':') + 1)));
  }
  return counts;
}

// Idle units block until a client or the stop comes: a thread that woke on
// a timer to look for the stop would switch 20 times a second.
TEST(SimulatorUnits, IdleThreadsWakeForAStopAndOnlyForAStop) {
  BackgroundChild sim({VANTREL_SIM_PATH, "--port", "0", "--units", "8"}, {});
  ASSERT_NE(readPorts(sim, 8).back(), "");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // every thread at its wait
  const std::vector<long> before = voluntarySwitches(sim.pid());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const std::vector<long> after = voluntarySwitches(sim.pid());
  ASSERT_EQ(before.size(), 8u + VANTREL_EMULATOR_THREADS);
  ASSERT_EQ(after.size(), 8u + VANTREL_EMULATOR_THREADS);
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_LE(after[i] - before[i], 2) << "thread " << i;
  // A unit on a thread of its own, not the one the signal lands on, ends too.
  EXPECT_EQ(sim.stop(SIGTERM, 5000), 0);
}

TEST(SimulatorUnits, ListenOnConsecutivePortsThatMustNotGoPastTheLast) {
  for (const char* units : {"0", "257", "2"}) {
    const ChildResult result =
        runChild({VANTREL_SIM_PATH, "--port", "65535", "--units", units}, {}, 10000);
    EXPECT_EQ(result.exitStatus, 2) << units;
    EXPECT_EQ(result.out, "") << units;  // no port listened on
    EXPECT_EQ(result.err.find("\nusage: vantrel-sim "), result.err.find('\n')) << result.err;
  }

  // A port the system found free; the two after it may be taken: a few tries.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string first = LocalPort().port();
    const int p = std::stoi(first);
    BackgroundChild sim({VANTREL_SIM_PATH, "--port", first, "--units", "3"}, {});
    const std::vector<std::string> ports = readPorts(sim, 3);
    if (p > 65533 || ports[0].empty())
      continue;
    EXPECT_EQ(ports,
              (std::vector<std::string>{first, std::to_string(p + 1), std::to_string(p + 2)}));
    EXPECT_EQ(sim.stop(SIGINT, 5000), 0);
    return;
  }
  GTEST_SKIP() << "found no three free ports in a row";
}

}  // namespace
