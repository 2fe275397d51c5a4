// vantreld's local socket end to end: the built vantreld, vantrel and
// vantrel-fade against a real broker (Debian's mosquitto), units served on
// 127.0.0.1 and a client of the test's own, so that one owner drives each
// unit and every front end shows what it confirmed.

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <memory>
#include <regex>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/child_process.hpp"
#include "support/local_ports.hpp"
#include "support/mqtt_peers.hpp"
#include "support/serving_unit.hpp"
#include "support/temp_dir.hpp"
#include "support/tools_service.hpp"

namespace {

using Json = nlohmann::json;

std::string state(int level) {
  return std::string("{\"state\":\"") + (level > 0 ? "ON" : "OFF") + "\",\"brightness\":" +
         std::to_string(level) + ",\"color_mode\":\"brightness\"}";
}

std::string unitTable(const std::string& name, const std::string& port) {
  return "[units." + name + "]\naddress = \"127.0.0.1\"\nport = " + port + "\ntype = 1\n\n";
}

/// A client of the socket, a line at a time, as socat would be.
class SocketClient {
 public:
  explicit SocketClient(const std::string& path) {
    socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    timeval limit{5, 0};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }
  ~SocketClient() { close(socket_); }
  bool connected() const { return connected_; }
  /// False once the service has closed the connection, or took nothing
  /// for 5 s.
  bool sendAll(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
      const ssize_t sent = ::send(socket_, text.data() + at, text.size() - at, MSG_NOSIGNAL);
      if (sent <= 0)
        return false;
      at += static_cast<std::size_t>(sent);
    }
    return true;
  }
  void send(const std::string& text) {
    EXPECT_EQ(::send(socket_, text.data(), text.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(text.size()));
  }
  /// The next line, "(closed)" when the service closed, "(none)" after 5 s.
  std::string line() {
    for (;;) {
      const std::size_t end = in_.find('\n');
      if (end != std::string::npos) {
        const std::string line = in_.substr(0, end);
        in_.erase(0, end + 1);
        return line;
      }
      char chunk[4096];
      const ssize_t got = recv(socket_, chunk, sizeof chunk, 0);
      if (got <= 0)
        return got == 0 ? "(closed)" : "(none)";
      in_.append(chunk, static_cast<std::size_t>(got));
    }
  }

 private:
  int socket_ = -1;
  bool connected_ = false;
  std::string in_;
};

/// The control page's API, GET on 127.0.0.1 without a password.
std::string httpGet(const std::string& port, const std::string& path) {
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request =
        "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + port + "\r\n\r\n";
    ::send(socket, request.data(), request.size(), MSG_NOSIGNAL);
    char chunk[4096];
    for (ssize_t got; (got = recv(socket, chunk, sizeof chunk, 0)) > 0;)
      reply.append(chunk, static_cast<std::size_t>(got));
  }
  close(socket);
  const std::size_t body = reply.find("\r\n\r\n");
  return body == std::string::npos ? "" : reply.substr(body + 4);
}

/// Runs vantrel or vantrel-fade on a thread while the test goes on.
class ToolRun {
 public:
  ToolRun(std::vector<std::string> argv, std::vector<std::string> environment) {
    thread_ = std::thread([this, argv = std::move(argv), environment = std::move(environment)] {
      result_ = runChild(argv, environment, 30000, [this](int pid) { pid_ = pid; });
    });
  }
  ~ToolRun() {
    if (thread_.joinable())
      thread_.join();
  }
  void signal(int number) {
    for (int i = 0; i < 500 && pid_.load() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid_.load(), number);
  }
  const ChildResult& result() {
    thread_.join();
    return result_;
  }

 private:
  std::atomic<int> pid_{0};
  ChildResult result_;
  std::thread thread_;
};

/// Waits (bounded) until `unit` has received `count` commands.
bool receives(ServingUnit& unit, std::size_t count) {
  for (int i = 0; i < 1000 && unit.levels().size() < count; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return unit.levels().size() >= count;
}

/// A service with MQTT and the control page, its units file shared with
/// the tools, and the tools' environment.
class LocalSocket : public ::testing::Test {
 protected:
  void serve(const std::string& units, std::vector<std::string> environment = {}) {
    webPort_ = LocalPort().port();
    service_ = std::make_unique<ToolsService>(
        dir_.path(), dir_.path("levels"),
        units + "[mqtt]\nhost = \"127.0.0.1\"\nport = " + broker_.port() + "\n[web]\nlisten = \"127.0.0.1:" +
            webPort_ + "\"\n",
        std::move(environment));
    probe_.await("vantrel/status", "online");
  }
  std::vector<std::string> vantrel(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {VANTREL_PATH, "--config", dir_.path("vantreld.toml")};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  std::vector<std::string> environment() const {
    return {"VANTREL_SOCKET=" + service_->socket(), "VANTREL_STATE=" + dir_.path("tool-levels")};
  }
  ChildResult run(const std::vector<std::string>& args) {
    return runChild(vantrel(args), environment(), 30000);
  }

  TempDir dir_;
  MqttBroker broker_{dir_};
  MqttProbe probe_{broker_.port()};
  std::string webPort_;
  std::unique_ptr<ToolsService> service_;
};

TEST_F(LocalSocket, ACommandLineLevelShowsOnMqttAndThePageWithinASecond) {
  ServingUnit a;
  serve(unitTable("a", a.port()));
  const ChildResult set = run({"set", "a", "20"});
  EXPECT_EQ(set.exitStatus, 0) << set.err;
  probe_.await("vantrel/unit/a/state", state(20), 1000);
  const Json page = Json::parse(httpGet(webPort_, "/api/state"), nullptr, false);
  ASSERT_TRUE(page.is_object()) << page;
  EXPECT_EQ(page["units"][1]["name"], "a") << page;
  EXPECT_EQ(page["units"][1]["level"], 20) << page;
  // The service remembers it; the tool wrote no levels file of its own.
  EXPECT_FALSE(std::filesystem::exists(dir_.path("tool-levels")));
  const ChildResult list = run({"list"});
  EXPECT_NE(list.out.find("level 20 (8%)"), std::string::npos) << list.out;
  a.finish();
  EXPECT_EQ(a.levels(), std::vector<int>{20});
}

// A unit of the service's file that it has no level of is "level ?" in
// the list, not the tool's own idea of it; after a boot, with the level from
// before as a hint, on every front end.
TEST_F(LocalSocket, AfterABootEveryFrontEndSaysTheLevelIsNotKnownWithTheLastAsAHint) {
  ServingUnit a;
  ServingUnit b;
  const std::string units = unitTable("a", a.port()) + unitTable("b", b.port());
  const std::string bootId = dir_.path("boot_id");
  writeText(bootId, "0c1f3f5e-8d4b-4b7a-9c1e-000000000001\n");
  serve(units, {"VANTREL_BOOT_ID_FILE=" + bootId});
  const std::string unknown = R"({"state":null})";
  probe_.await("vantrel/unit/b/state", unknown);
  EXPECT_EQ(run({"set", "a", "128"}).exitStatus, 0);
  probe_.await("vantrel/unit/a/state", state(128));
  const std::regex aKnown(R"(\n  a +127\.0\.0\.1:\d+ +type 1  level 128 \(50%\) at [^\n]+\n)");
  const std::regex bNotKnown(R"(\n  b +127\.0\.0\.1:\d+ +type 1  level \?\n)");
  const std::string listed = run({"list"}).out;
  EXPECT_TRUE(std::regex_search(listed, aKnown)) << listed;
  EXPECT_TRUE(std::regex_search(listed, bNotKnown)) << listed;

  service_.reset();
  writeText(bootId, "0c1f3f5e-8d4b-4b7a-9c1e-000000000002\n");
  serve(units, {"VANTREL_BOOT_ID_FILE=" + bootId});
  const std::string booted = run({"list"}).out;
  EXPECT_TRUE(std::regex_search(
      booted, std::regex(R"(\n  a +127\.0\.0\.1:\d+ +type 1  level \? \(last 128, just now\)\n)")))
      << booted;
  EXPECT_TRUE(std::regex_search(booted, bNotKnown)) << booted;
  probe_.await("vantrel/unit/a/state", unknown);
  const Json page = Json::parse(httpGet(webPort_, "/api/state"), nullptr, false);
  ASSERT_TRUE(page.is_object()) << page;
  const Json& unit = page["units"][1];
  EXPECT_TRUE(unit["level"].is_null()) << page;
  EXPECT_EQ(unit["remembered"]["level"], 128) << page;
  // Direct, the tool's own levels file as ever: it has none.
  EXPECT_NE(run({"--direct", "list"}).out.find("level -\n"), std::string::npos);
  a.finish();
  EXPECT_EQ(a.levels(), std::vector<int>{128});
  EXPECT_TRUE(b.levels().empty());
}

TEST_F(LocalSocket, NewestCommandWinsBetweenTheToolsAndMqtt) {
  ServingUnit a;
  serve(unitTable("a", a.port()));
  // A tool's fade, replaced by Home Assistant.
  ToolRun fade(vantrel({"--over", "20s", "--from", "0", "set", "a", "255"}), environment());
  ASSERT_TRUE(receives(a, 2));
  probe_.publish("vantrel/unit/a/set", R"({"brightness":5})");
  const ChildResult& replaced = fade.result();
  EXPECT_EQ(replaced.exitStatus, 1);
  EXPECT_EQ(replaced.err, "vantrel: a: replaced by a newer command from MQTT\n");
  EXPECT_EQ(replaced.out.rfind("0 of 1 unit confirmed in ", 0), 0u) << replaced.out;
  probe_.await("vantrel/unit/a/state", state(5));

  // Home Assistant's transition, replaced by a tool: the tool's level is
  // the one that stays, on the unit and on MQTT.
  probe_.publish("vantrel/unit/a/set", R"({"brightness":250,"transition":20})");
  ASSERT_TRUE(receives(a, a.levels().size() + 2));
  const ChildResult set = run({"set", "a", "30"});
  EXPECT_EQ(set.exitStatus, 0) << set.err;
  EXPECT_EQ(set.err, "");
  probe_.await("vantrel/unit/a/state", state(30));
  const std::size_t sent = a.levels().size();
  // Another tool's fade replaced by this one, in the words of another vantrel.
  ToolRun second(vantrel({"--over", "20s", "--from", "0", "set", "a", "255"}), environment());
  ASSERT_TRUE(receives(a, sent + 2));
  const ChildResult third = runChild(
      {VANTREL_FADE_PATH, "--over", "0", "--steps", "1", "127.0.0.1", a.port(), "1", "9", "10"},
      environment(), 30000);
  EXPECT_EQ(third.exitStatus, 0) << third.err;
  EXPECT_EQ(second.result().err, "vantrel: a: replaced by a newer command from another vantrel\n");
  a.finish();
  EXPECT_EQ(a.levels().back(), 10);
  probe_.await("vantrel/unit/a/state", state(10));
}

TEST_F(LocalSocket, CtrlCOrAKilledToolStopsItsFadeInTheService) {
  ServingUnit a;
  ServingUnit b;
  serve(unitTable("a", a.port()) + unitTable("b", b.port()));
  for (const int signal : {SIGINT, SIGKILL}) {
    ServingUnit& unit = signal == SIGINT ? a : b;
    const std::string name = signal == SIGINT ? "a" : "b";
    ToolRun fade(vantrel({"--over", "20s", "--steps", "200", "--from", "0", "set", name, "200"}),
                 environment());
    ASSERT_TRUE(receives(unit, 3));
    fade.signal(signal);
    const ChildResult& ended = fade.result();
    if (signal == SIGINT) {
      EXPECT_EQ(ended.exitStatus, 130);
      EXPECT_EQ(ended.err.rfind("vantrel: a: interrupted; the last level confirmed was ", 0), 0u)
          << ended.err;
    } else {
      EXPECT_EQ(ended.signal, SIGKILL);
    }
    // The service hears of it at once; its next step would be due within
    // 100 ms, so a second with none sent says the fade is over.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::size_t sent = unit.levels().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(unit.levels().size(), sent) << name;
    // The unit keeps its last confirmed level, on MQTT too.
    probe_.await("vantrel/unit/" + name + "/state", state(unit.levels().back()));
  }
}

TEST_F(LocalSocket, NoWaitHandsTheFadeToTheService) {
  ServingUnit a;
  serve(unitTable("a", a.port()));
  const ChildResult handed = run({"--no-wait", "--over", "500ms", "--from", "0", "set", "a", "100"});
  EXPECT_EQ(handed.exitStatus, 0);
  EXPECT_EQ(handed.out, "");
  EXPECT_EQ(handed.err, "");
  probe_.await("vantrel/unit/a/state", state(100));
  a.finish();
  EXPECT_GT(a.levels().size(), 3u);
  EXPECT_EQ(a.levels().back(), 100);

  // Without a service it is a usage error, and nothing is sent.
  ServingUnit b;
  const ChildResult alone = runChild(
      {VANTREL_FADE_PATH, "--no-wait", "127.0.0.1", b.port(), "1", "0", "9"},
      {"VANTREL_SOCKET=" + dir_.path("none.sock")}, 30000);
  b.finish();
  EXPECT_EQ(alone.exitStatus, 2);
  EXPECT_EQ(alone.err.rfind("vantrel-fade: --no-wait needs a running vantreld to hand the command to\n"
                            "usage: vantrel-fade ", 0),
            0u)
      << alone.err;
  EXPECT_EQ(b.levels(), std::vector<int>{});
}

TEST_F(LocalSocket, UnitsOutsideTheFileAreDrivenButNotPublished) {
  ServingUnit a;
  ServingUnit outside;
  serve(unitTable("a", a.port()));
  writeText(dir_.path("mine.toml"), unitTable("lamp", outside.port()));
  const std::vector<std::string> mine = {VANTREL_PATH, "--config", dir_.path("mine.toml")};
  std::vector<std::string> set = mine;
  set.insert(set.end(), {"--verbose", "set", "lamp", "40"});
  const ChildResult result = runChild(set, environment(), 30000);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.err, "vantrel: through vantreld at " + service_->socket() + "\n");
  // The user's own levels file is not the service's: damaged, it is not
  // worth a warning through the service, only when run direct.
  writeText(dir_.path("tool-levels"), "damaged\n");
  EXPECT_EQ(run({"set", "a", "2"}).err, "");
  const ChildResult direct = run({"--direct", "set", "a", "3"});
  EXPECT_NE(direct.err.find("tool-levels:1: damaged"), std::string::npos) << direct.err;
  std::vector<std::string> list = mine;
  list.push_back("list");
  EXPECT_NE(runChild(list, environment(), 30000).out.find("level 40 "), std::string::npos);
  // Published: the file's unit, after a command of its own, and nothing else.
  EXPECT_EQ(run({"set", "a", "1"}).exitStatus, 0);
  probe_.await("vantrel/unit/a/state", state(1));
  EXPECT_EQ(probe_.last("vantrel/unit/lamp/state"), "(none)");
  outside.finish();
  EXPECT_EQ(outside.levels(), std::vector<int>{40});
}

TEST_F(LocalSocket, MalformedRequestsGetOneErrorLineAndTheConnectionGoesOn) {
  ServingUnit a;
  serve(unitTable("a", a.port()));
  SocketClient client(service_->socket());
  ASSERT_TRUE(client.connected());
  client.send("{\"levels\": []}\n");
  EXPECT_EQ(client.line(), R"({"error":"say {\"protocol\": 1} first","protocol":1})");
  client.send("{\"protocol\": 1}\n");
  EXPECT_EQ(client.line(), R"({"protocol":1})");
  client.send("nonsense\n");
  EXPECT_EQ(client.line(), R"({"error":"not valid JSON","protocol":1})");
  client.send(std::string(70000, 'x') + "\n");
  EXPECT_EQ(client.line(), R"({"error":"line longer than 64 KiB","protocol":1})");
  client.send(R"({"fade": {"units": [{"address": "127.0.0.1", "port": 0, "type": 1, "to": 1}], "zero_us": 0}})"
              "\n");
  EXPECT_EQ(client.line(), R"({"error":"port must be a whole number from 1 to 65535","protocol":1})");
  client.send("{\"levels\": [{\"address\": \"127.0.0.1\", \"port\": " + a.port() + ", \"type\": 1}]}\n");
  // A unit of its file that it has no level of, and where it keeps the levels.
  EXPECT_EQ(client.line(), R"({"levels":[{"confirmed_ms":0,"known":false,"last_on":-1,"level":-1}],"levels_file":")" +
                               dir_.path("levels") + "\"}");
  // A tool of another protocol is refused cleanly.
  SocketClient newer(service_->socket());
  newer.send("{\"protocol\": 2}\n");
  EXPECT_EQ(newer.line(),
            R"({"error":"protocol 2 is not served here: this vantreld speaks protocol 1","protocol":1})");
  EXPECT_EQ(newer.line(), "(closed)");
  a.finish();
  EXPECT_EQ(a.levels(), std::vector<int>{});
}

TEST_F(LocalSocket, AtMost64ClientsAreServedAndOneThatDoesNotReadDelaysNobody) {
  ServingUnit a;
  serve(unitTable("a", a.port()));
  std::vector<std::unique_ptr<SocketClient>> clients;
  for (int i = 0; i < 64; ++i) {
    clients.push_back(std::make_unique<SocketClient>(service_->socket()));
    clients.back()->send("{\"protocol\": 1}\n");
    ASSERT_EQ(clients.back()->line(), R"({"protocol":1})") << i;
  }
  SocketClient more(service_->socket());
  EXPECT_EQ(more.line(), R"({"error":"too many clients: at most 64 at once","protocol":1})");
  EXPECT_EQ(more.line(), "(closed)");
  // One of them asks for much and reads none of it; the others, and the
  // units, go on.
  // Its answers, some 300 KB, are more than its socket holds.
  for (int i = 0; i < 5000; ++i)
    clients[0]->send("{\"levels\": [{\"address\": \"127.0.0.1\", \"port\": 1, \"type\": 1}]}\n");
  // Room for the tool: once another client's answer came, the service has
  // seen this one go.
  clients.pop_back();
  clients[1]->send("{\"levels\": []}\n");
  const std::string none = R"({"levels":[],"levels_file":")" + dir_.path("levels") + "\"}";
  EXPECT_EQ(clients[1]->line(), none);
  const ChildResult set = run({"set", "a", "60"});
  EXPECT_EQ(set.exitStatus, 0) << set.err;
  clients[2]->send("{\"levels\": []}\n");
  EXPECT_EQ(clients[2]->line(), none);
  a.finish();
  EXPECT_EQ(a.levels(), std::vector<int>{60});
}

// A service that stops during a tool's fade leaves it no end to report: the
// tool must not take that for success.
TEST(LocalServiceGone, EachUnitNotConfirmedIsNamedWithItsLastLevelAndNoSuccess) {
  for (const bool fadeTool : {false, true}) {
    TempDir dir;
    ServingUnit unit;
    ToolsService service(dir.path(), dir.path("levels"));
    writeText(dir.path("mine.toml"), unitTable("a", unit.port()));
    const std::vector<std::string> argv =
        fadeTool ? std::vector<std::string>{VANTREL_FADE_PATH, "--over", "20s", "127.0.0.1",
                                            unit.port(), "1", "0", "200"}
                 : std::vector<std::string>{VANTREL_PATH, "--config", dir.path("mine.toml"),
                                            "--over", "20s", "--from", "0", "set", "a", "200"};
    ToolRun run(argv, {"VANTREL_SOCKET=" + service.socket(), "VANTREL_STATE=" + dir.path("mine")});
    ASSERT_TRUE(receives(unit, 5));
    EXPECT_EQ(service.stop(SIGTERM), 0);
    const ChildResult& result = run.result();
    unit.finish();
    EXPECT_EQ(result.exitStatus, 1);
    const std::string name = fadeTool ? "vantrel-fade: 127.0.0.1:" + unit.port() : "vantrel: a";
    const std::string said = name + ": the service went away; the last level confirmed was ";
    const std::size_t at = result.err.find(said);
    ASSERT_NE(at, std::string::npos) << result.err;
    // The unit echoed the last level sent; the service may have stopped
    // before the tool heard of it.
    const int last = std::stoi(result.err.substr(at + said.size()));
    const std::vector<int>& sent = unit.levels();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_TRUE(last == sent.back() || last == sent[sent.size() - 2]) << result.err;
    if (fadeTool)
      EXPECT_EQ(result.out, "");
    else
      EXPECT_EQ(result.out.rfind("0 of 1 unit confirmed in ", 0), 0u) << result.out;
  }
}

TEST_F(LocalSocket, TheServiceSendsEachLevelThroughItsUnitsCurveButVantrelFadesBytesAsTheyAre) {
  ServingUnit a;
  ServingUnit b;
  const std::string trims = "min = 100\nmax = 200\non_level = 60\n\n";
  serve(unitTable("a", a.port()) + trims + unitTable("b", b.port()) + trims);
  EXPECT_EQ(run({"set", "a", "128"}).exitStatus, 0);
  probe_.await("vantrel/unit/a/state", state(128));
  EXPECT_EQ(run({"set", "b", "on"}).exitStatus, 0);
  probe_.await("vantrel/unit/b/state", state(60));
  // An MQTT command is a level too, and so is its retained state.
  probe_.publish("vantrel/unit/b/set", R"({"brightness":255})");
  probe_.await("vantrel/unit/b/state", state(255));
  // vantrel-fade's levels are bytes, sent as they are; the unit is then at
  // the lowest level whose byte is at least that: 153 for 160.
  const ChildResult bytes = runChild(
      {VANTREL_FADE_PATH, "--over", "0", "--steps", "1", "127.0.0.1", a.port(), "1", "0", "160"},
      environment(), 30000);
  EXPECT_EQ(bytes.exitStatus, 0) << bytes.err;
  probe_.await("vantrel/unit/a/state", state(153));
  a.finish();
  b.finish();
  // 100 + round((L - 1) / 254 × 100).
  EXPECT_EQ(a.levels().front(), 150);
  EXPECT_EQ(a.levels().back(), 160);  // through the curve: 159
  EXPECT_EQ(b.levels(), (std::vector<int>{123, 200}));
}

TEST_F(LocalSocket, SilentClientsAreLetGoAfter5sAndAFullServiceSaysSoToTheTool) {
  ServingUnit a;
  serve(unitTable("a", a.port()));
  std::vector<std::unique_ptr<SocketClient>> silent;
  for (int i = 0; i < 64; ++i)
    silent.push_back(std::make_unique<SocketClient>(service_->socket()));
  const ChildResult full = run({"set", "a", "1"});
  EXPECT_EQ(full.exitStatus, 1);
  EXPECT_EQ(full.err, "vantrel: cannot use vantreld at " + service_->socket() +
                          ": the service refused: too many clients: at most 64 at once\n");
  EXPECT_EQ(silent.front()->line(),
            R"({"error":"no greeting within 5 s: say {\"protocol\": 1} first","protocol":1})");
  EXPECT_EQ(silent.front()->line(), "(closed)");
  EXPECT_EQ(silent.back()->line().rfind(R"({"error":"no greeting within 5 s)", 0), 0u);
  const ChildResult set = run({"set", "a", "2"});
  EXPECT_EQ(set.exitStatus, 0) << set.err;
  a.finish();
  EXPECT_EQ(a.levels(), std::vector<int>{2});
}

long residentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0)
      return std::stol(line.substr(6));
  }
  return -1;
}

TEST_F(LocalSocket, AClientThatNeverReadsIsLetGoAt1MiBAndTheMemoryComesBack) {
  ServingUnit a;
  serve(unitTable("a", a.port()));
  SocketClient greedy(service_->socket());
  greedy.send("{\"protocol\": 1}\n");
  ASSERT_EQ(greedy.line(), R"({"protocol":1})");
  const long before = residentKiB(service_->pid());
  // Up to 30 MB of requests whose answers it never reads, sent from a
  // thread while this one watches the service's memory.
  std::atomic<bool> dropped{false};
  std::atomic<bool> done{false};
  std::thread flood([&] {
    std::string requests;
    for (int i = 0; i < 1000; ++i)
      requests += "{\"levels\": [{\"address\": \"127.0.0.1\", \"port\": 1, \"type\": 1}]}\n";
    for (int i = 0; i < 450 && !dropped.load(); ++i)
      dropped = !greedy.sendAll(requests);
    done = true;
  });
  long most = before;
  for (int i = 0; i < 6000 && !done.load(); ++i) {
    most = std::max(most, residentKiB(service_->pid()));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  flood.join();
  // Let go: what it was sent before is there to read, then the end.
  std::string last;
  for (int i = 0; i < 100000 && last != "(closed)" && last != "(none)"; ++i)
    last = greedy.line();
  EXPECT_EQ(last, "(closed)");
  [[maybe_unused]] const long after = residentKiB(service_->pid());
  // Tools are served as before.
  const ChildResult set = run({"set", "a", "7"});
  EXPECT_EQ(set.exitStatus, 0) << set.err;
#if !defined(__SANITIZE_ADDRESS__)
  // What it held: the 1 MiB, the string that grew to it, and the answers
  // to one read's requests; the sanitizers' own keep it from coming back.
  EXPECT_LT(most - before, 6 * 1024) << before << " KiB before";
  EXPECT_LT(after - before, 2 * 1024) << before << " KiB before";
#endif
}

// The socket's file: a stale one is replaced, a live one never.
TEST(LocalSocketFile, AStaleSocketIsReplacedAndALiveOneNever) {
  TempDir dir;
  const std::string path = dir.path("vantreld.sock");
  {
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(stale);  // as a vantreld that was killed leaves it
  }
  ToolsService first(dir.path(), dir.path("levels"));
  ASSERT_TRUE(first.started());
  struct stat status;
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  writeText(dir.path("second.toml"), unitTable("a", "9"));
  const ChildResult second = runChild({VANTRELD_PATH, "--config", dir.path("second.toml")},
                                      {"VANTREL_SOCKET=" + path, "VANTREL_STATE=" + dir.path("levels")},
                                      10000);
  EXPECT_EQ(second.exitStatus, 1);
  EXPECT_EQ(second.err, "vantreld: " + path + ": another vantreld serves it\n");
  SocketClient client(path);
  client.send("{\"protocol\": 1}\n");
  EXPECT_EQ(client.line(), R"({"protocol":1})");
}

// A socket that this user may not use: an error, nothing sent, rather than
// going around the owner.
TEST(LocalSocketFile, ASocketThatRefusesTheUserIsAnErrorAndDirectGoesAround) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root, to run the tool as another user";
  TempDir dir;
  ServingUnit a;
  chmod(dir.path().c_str(), 0777);
  writeText(dir.path("vantrel.toml"), unitTable("a", a.port()));
  ToolsService service(dir.path(), dir.path("levels"));
  // nobody: an unprivileged user of every Debian system, outside the group.
  const std::vector<std::string> asNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                             "--clear-groups", VANTREL_PATH, "--config",
                                             dir.path("vantrel.toml")};
  const std::vector<std::string> environment = {"VANTREL_SOCKET=" + service.socket(),
                                                "VANTREL_STATE=" + dir.path("nobody/levels")};
  std::vector<std::string> set = asNobody;
  set.insert(set.end(), {"set", "a", "50"});
  const ChildResult refused = runChild(set, environment, 30000);
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "vantrel: cannot use vantreld at " + service.socket() +
                             ": permission denied; join the group vantrel, or use --direct to go "
                             "around it\n");
  set.insert(set.end() - 3, "--direct");
  const ChildResult direct = runChild(set, environment, 30000);
  EXPECT_EQ(direct.exitStatus, 0) << direct.err;
  a.finish();
  EXPECT_EQ(a.levels(), std::vector<int>{50});
}

}  // namespace
