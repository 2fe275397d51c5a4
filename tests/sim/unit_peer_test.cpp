#include "sim/unit_peer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes kCommand = {0x7e, 0x5a, 0x04, 0x80};

TEST(ParseReplyPlan, AcceptsEachMode) {
  struct Case { const char* text; ReplyKind kind; int byteIndex; int count; };
  const Case cases[] = {
      {"echo", ReplyKind::Echo, 3, 2},        {"change:0", ReplyKind::ChangedByte, 0, 2},
      {"short:0", ReplyKind::Short, 3, 0},    {"short:3", ReplyKind::Short, 3, 3},
      {"long:1", ReplyKind::Long, 3, 1},      {"long:64", ReplyKind::Long, 3, 64},
      {"split:3", ReplyKind::Split, 3, 3},    {"close", ReplyKind::Close, 3, 2},
      {"reset", ReplyKind::Reset, 3, 2},      {"silent", ReplyKind::Silent, 3, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ReplyPlan plan;
    ASSERT_TRUE(parseReplyPlan(c.text, plan));
    EXPECT_EQ(plan.kind, c.kind);
    EXPECT_EQ(plan.byteIndex, c.byteIndex);
    EXPECT_EQ(plan.count, c.count);
  }
}

TEST(ParseReplyPlan, RefusesBadModes) {
  for (const char* text : {"", "Echo", "echo:1", "echo ", "change", "change:", "change:4",
                           "change:-1", "short:4", "long:0", "long:65", "split:0", "split:4",
                           "split:1x", "long:99999999999999999999", "close:", "bounce", "silent:1",
                           "bytes:", "bytes:f", "bytes:fg", "bytes:ff 00",
                           "bytes:00000000000000000000000000000000000000000000000000000000000000000"
                           "00000000000000000000000000000000000000000000000000000000000000000"}) {
    ReplyPlan plan;
    EXPECT_FALSE(parseReplyPlan(text, plan)) << text;
  }
}

TEST(ParseReplyPlan, ReadsFixedBytesAsHexPairs) {
  ReplyPlan plan;
  ASSERT_TRUE(parseReplyPlan("bytes:FF5a04fF", plan));
  EXPECT_EQ(plan.kind, ReplyKind::Fixed);
  EXPECT_EQ(plan.bytes, (Bytes{0xff, 0x5a, 0x04, 0xff}));
}

TEST(DescribeExchange, NamesLevelCommandAndAnswer) {
  Exchange e{"127.0.0.1:5000", kCommand, kCommand, ReplyKind::Echo};
  EXPECT_EQ(describeExchange(e), "127.0.0.1:5000 received 7e 5a 04 80 (unit type 1, level 128);"
                                 " answered 7e 5a 04 80 (echo)");
  e = {"127.0.0.1:5000", {0x7e, 0x5a, 0x05, 0xff}, {}, ReplyKind::Reset};
  EXPECT_EQ(describeExchange(e), "127.0.0.1:5000 received 7e 5a 05 ff (unit type 2, level 255);"
                                 " answered nothing (reset)");
}

TEST(DescribeExchange, SaysWhenBytesAreNoLevelCommand) {
  for (const Bytes& in : {Bytes{0x01, 0x02}, Bytes{0x7e, 0x5a, 0x06, 0x10},
                          Bytes{0x7f, 0x5a, 0x04, 0x10}, Bytes{0x7e, 0x5a, 0x04, 0x80, 0x00}}) {
    std::string line = describeExchange({"127.0.0.1:5000", in, {}, ReplyKind::Close});
    EXPECT_NE(line.find(" (not a level command); answered nothing (closed)"), std::string::npos)
        << line;
  }
  EXPECT_EQ(describeExchange({"127.0.0.1:5000", {}, {}, ReplyKind::Close}),
            "127.0.0.1:5000 received nothing; answered nothing (closed)");
}

TEST(ShowLine, DrawsTheLevelAsABarAndANumberThenTheCount) {
  EXPECT_EQ(showLine(-1, 0), "[....................] ---  exchanges: 0");
  EXPECT_EQ(showLine(7, 4), "[#...................]   7  exchanges: 4");
  EXPECT_EQ(showLine(128, 57), "[##########..........] 128  exchanges: 57");
  EXPECT_EQ(showLine(255, 1000000), "[####################] 255  exchanges: 1000000");
  EXPECT_EQ(showLine(256, 1), showLine(-1, 1));
}

TEST(EchoedLevel, IsTheCommandsLevelOnlyWhenTheReplyBeginsWithTheCommand) {
  const Bytes longer = {0x7e, 0x5a, 0x04, 0x80, 0xa0}, notLevel = {0x7e, 0x5a, 0x06, 0x80};
  EXPECT_EQ(echoedLevel({"", kCommand, kCommand, ReplyKind::Echo}), 128);
  EXPECT_EQ(echoedLevel({"", longer, longer, ReplyKind::Long}), 128);
  EXPECT_EQ(echoedLevel({"", kCommand, {0x7e, 0x5a, 0x04, 0x7f}, ReplyKind::ChangedByte}), -1);
  EXPECT_EQ(echoedLevel({"", kCommand, {0x7e, 0x5a, 0x04}, ReplyKind::Short}), -1);
  EXPECT_EQ(echoedLevel({"", notLevel, notLevel, ReplyKind::Echo}), -1);
}

// --listen once took what inet_pton takes; the simulator reads it itself now,
// so that every platform takes the same.
TEST(ParseIPv4, TakesWhatInetPtonTakes) {
  for (const char* text : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "10.200.0.9", "1.2.3",
                           "1.2.3.4.5", "256.1.1.1", "1.2.3.1000", "01.2.3.4", "1.2.3.00",
                           "1..2.3", ".1.2.3", "1.2.3.", "1.2.3.4 ", " 1.2.3.4", "+1.2.3.4",
                           "0x7f.0.0.1", "", "localhost"}) {
    in_addr expected;
    const bool valid = inet_pton(AF_INET, text, &expected) == 1;
    std::uint32_t address = 0;
    EXPECT_EQ(parseIPv4(text, address), valid) << "'" << text << "'";
    if (valid) {
      EXPECT_EQ(address, ntohl(expected.s_addr)) << text;
    }
  }
}

// Runs serveOne on a thread while the test plays the client.
class Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(peer.listen("127.0.0.1", 0, error)) << error;
  }
  void TearDown() override { finish(); }

  int start(const ReplyPlan& plan, int ioTimeoutMs = 5000) {
    server = std::thread([this, plan, ioTimeoutMs] {
      served = peer.serveOne(plan, 2000, ioTimeoutMs, exchange, &stop);
    });
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval limit = {2, 0};  // no test can hang on a read
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(peer.port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    return fd;
  }
  Bytes recvOnce(int fd) {
    std::uint8_t buf[16];
    ssize_t n = recv(fd, buf, sizeof(buf), 0);
    return n > 0 ? Bytes(buf, buf + n) : Bytes();
  }
  void finish() {
    if (server.joinable())
      server.join();
  }

  UnitPeer peer;
  std::atomic<bool> stop{false};
  std::uint8_t buf[16];
  std::thread server;
  bool served = false;
  Exchange exchange;
};

TEST_F(Loopback, GivesUpWhenNoClientComes) {
  EXPECT_FALSE(peer.serveOne(ReplyPlan(), 50, 50, exchange));
}

TEST_F(Loopback, ReadsACommandInPiecesAndRecordsAllTheClientSent) {
  int fd = start(ReplyPlan());
  send(fd, kCommand.data(), 2, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  send(fd, kCommand.data() + 2, 2, 0);
  EXPECT_EQ(recvOnce(fd), kCommand);
  send(fd, "\xab\xcd", 2, 0);
  close(fd);
  finish();
  EXPECT_EQ(exchange.received, (Bytes{0x7e, 0x5a, 0x04, 0x80, 0xab, 0xcd}));
}

TEST_F(Loopback, SplitSendsTheRestToAClientStillReading) {
  int fd = start({ReplyKind::Split, 3, 1, 100, {}});
  send(fd, kCommand.data(), kCommand.size(), 0);
  Bytes got, more;
  while (got.size() < 4 && !(more = recvOnce(fd)).empty())
    got.insert(got.end(), more.begin(), more.end());
  EXPECT_EQ(got, kCommand);
  close(fd);
  finish();
  EXPECT_EQ(exchange.answered, kCommand);
}

TEST_F(Loopback, DelaysTheReply) {
  ReplyPlan plan;
  plan.delayUs = 300000;
  int fd = start(plan);
  const auto sentAt = std::chrono::steady_clock::now();
  send(fd, kCommand.data(), kCommand.size(), 0);
  EXPECT_EQ(recvOnce(fd), kCommand);
  EXPECT_GE(std::chrono::steady_clock::now() - sentAt, std::chrono::milliseconds(250));
  close(fd);
}

TEST_F(Loopback, StopEndsADelayOrASilenceWithoutAnswering) {
  ReplyPlan delayed, silent;
  delayed.delayUs = 10000000;
  silent.kind = ReplyKind::Silent;
  for (const ReplyPlan& plan : {delayed, silent}) {
    stop = false;
    int fd = start(plan);
    send(fd, kCommand.data(), kCommand.size(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    EXPECT_EQ(recv(fd, buf, sizeof(buf), 0), 0);  // the close, before the client's 2 s
    finish();
    EXPECT_EQ(exchange.stoppedInDelay, plan.kind == ReplyKind::Echo);
    close(fd);
  }
}

TEST_F(Loopback, SilentHoldsTheConnectionUntilTheClientClosesOrItsTimeIsUp) {
  ReplyPlan plan;
  plan.kind = ReplyKind::Silent;
  plan.silentLimitMs = 5000;
  int fd = start(plan, 100);  // the read time-out does not end it
  send(fd, kCommand.data(), kCommand.size(), 0);
  timeval wait = {0, 300000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  EXPECT_EQ(recv(fd, buf, sizeof(buf), 0), -1);  // neither a reply nor the close
  const auto closedAt = std::chrono::steady_clock::now();
  close(fd);
  finish();
  EXPECT_LT(std::chrono::steady_clock::now() - closedAt, std::chrono::seconds(3));
  EXPECT_NE(describeExchange(exchange).find("; answered nothing (silent)"), std::string::npos);

  plan.silentLimitMs = 200;
  fd = start(plan);
  send(fd, kCommand.data(), kCommand.size(), 0);
  EXPECT_EQ(recv(fd, buf, sizeof(buf), 0), 0);  // the close, before the client's 2 s
  close(fd);
}

// Runs in the child, as the descriptor limit is the whole process's: a
// client waits, but every accept fails with EMFILE. Prints the number of
// serveOne calls made in half a second.
[[noreturn]] void serveWithNoDescriptorLeft() {
  UnitPeer peer;
  std::string error;
  if (!peer.listen("127.0.0.1", 0, error))
    std::_Exit(3);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(peer.port());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
    std::_Exit(3);
  const int lowestFree = dup(0);
  close(lowestFree);
  const rlimit limit = {static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
  setrlimit(RLIMIT_NOFILE, &limit);

  int calls = 0;
  Exchange exchange;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  for (; std::chrono::steady_clock::now() < end; ++calls) {
    if (peer.serveOne(ReplyPlan(), 2000, 100, exchange))
      std::_Exit(4);
  }
  std::fprintf(stderr, "%d calls\n", calls);
  std::_Exit(0);
}

// A 100 ms pause after each failed accept allows about 5 calls in half a
// second (fewer on a busy machine); a loop that spins makes a million.
TEST(UnitPeerDeathTest, FailingAcceptsDoNotSpin) {
  EXPECT_EXIT(serveWithNoDescriptorLeft(), ::testing::ExitedWithCode(0), "^1?[0-9] calls\n$");
}

}  // namespace
