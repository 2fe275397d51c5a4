// Runs the built tool as a child process against a peer on 127.0.0.1 and
// compares its standard output byte for byte, and its exit status.

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sim/unit_peer.hpp"
#include "support/child_process.hpp"
#include "support/dim_messages.hpp"
#include "support/local_ports.hpp"
#include "support/tool_platform.hpp"

namespace {

const char kCountMessage[] =
    "\nPlease check the number of the arguments. 引数の数を確認してください。\n";
const char kTypeMessage[] =
    "\nPlease input 1 or 2 to the third argument. "
    "Vantrelのタイプを「1」または「2」で入力してください。\n";
const char kLevelMessage[] =
    "\nPlease input a value of 0 to 255 to the forth argument. "
    "調光値に0～255の数字を入力してください。\n";

class EndToEnd : public ::testing::TestWithParam<ToolPlatform> {
 protected:
  /// What the tool prints for `utf8`, on this platform's console.
  std::string console(const std::string& utf8) const { return ::console(GetParam(), utf8); }

  ChildResult runTool(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = GetParam().command;
    argv.insert(argv.end(), args.begin(), args.end());
    return runChild(argv, GetParam().environment, 20000);
  }

  /// Runs the tool against a peer that answers as `plan` says. The argument
  /// "PORT" stands for the peer's port, "PORT+65536" and "PORT-65536" for
  /// numbers whose low 16 bits are that port.
  ChildResult runAgainstPeer(const ReplyPlan& plan, std::vector<std::string> args,
                             Exchange& exchange) {
    UnitPeer peer;
    std::string error;
    EXPECT_TRUE(peer.listen("127.0.0.1", 0, error)) << error;
    const int port = peer.port();
    for (std::string& arg : args) {
      if (arg == "PORT")
        arg = std::to_string(port);
      else if (arg == "PORT+65536")
        arg = std::to_string(port + 65536);
      else if (arg == "PORT-65536")
        arg = std::to_string(port - 65536);
    }
    bool served = false;
    std::thread server([&] { served = peer.serveOne(plan, 20000, 5000, exchange); });
    ChildResult result = runTool(args);
    server.join();
    EXPECT_TRUE(served) << "the tool never connected; it wrote to stderr: " << result.err;
    return result;
  }

  ChildResult runAgainstPeer(const ReplyPlan& plan, const std::vector<std::string>& args) {
    Exchange exchange;
    return runAgainstPeer(plan, args, exchange);
  }
};

ReplyPlan replyOf(ReplyKind kind, int count = 0) {
  ReplyPlan plan;
  plan.kind = kind;
  plan.count = count;
  plan.byteIndex = count;
  return plan;
}

TEST_P(EndToEnd, TooFewArgumentsGiveTheCountMessageAlone) {
  const LocalPort refusing;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"127.0.0.1"}, {"127.0.0.1", refusing.port(), "1"}}) {
    const ChildResult result = runTool(args);
    EXPECT_EQ(result.out, console(kCountMessage)) << args.size() << " arguments";
    EXPECT_EQ(result.exitStatus, 1);
  }
}

TEST_P(EndToEnd, UnitTypeOtherThanOneOrTwoIsRefused) {
  const LocalPort refusing;
  for (const char* type : {"0", "3", "-1", "abc", "", "4294967297"}) {
    const ChildResult result = runTool({"127.0.0.1", refusing.port(), type, "10"});
    EXPECT_EQ(result.out, console(kTypeMessage)) << "type '" << type << "'";
    EXPECT_EQ(result.exitStatus, 1);
  }
  // Checked before the level, and the run stops at the first bad argument.
  const ChildResult both = runTool({"127.0.0.1", refusing.port(), "3", "256"});
  EXPECT_EQ(both.out, console(kTypeMessage));
  EXPECT_EQ(both.exitStatus, 1);
}

TEST_P(EndToEnd, LevelOutsideZeroTo255IsRefused) {
  const LocalPort refusing;
  for (const char* level : {"256", "-1", "2147483648", "-2147483649", "99999999999999999999"}) {
    const ChildResult result = runTool({"127.0.0.1", refusing.port(), "1", level});
    EXPECT_EQ(result.out, console(kLevelMessage)) << "level '" << level << "'";
    EXPECT_EQ(result.exitStatus, 1);
  }
}

TEST_P(EndToEnd, RefusedConnectIsReportedWithStatusZero) {
  const LocalPort refusing;
  const ChildResult result = runTool({"127.0.0.1", refusing.port(), "1", "10"});
  EXPECT_EQ(result.out, console("\nConnected failed with error:" +
                                std::to_string(GetParam().connectionRefused) +
                                ". Vantrelへの接続が失敗しました。\n"));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_P(EndToEnd, AddressIsReadAsInetAddrReadsIt) {
  for (const char* address : {"127.1", "0x7f.0.0.1", "0177.0.0.1", "2130706433"}) {
    const ChildResult result = runAgainstPeer(ReplyPlan{}, {address, "PORT", "1", "1"});
    EXPECT_EQ(result.out, console(sent("0x7e 0x5a 0x04 0x01(001)") +
                                  received("0x7e 0x5a 0x04 0x01(001)") + succeeded(1)))
        << address;
  }
  // A text it refuses becomes the all-ones address, with no message of its own.
  const ChildResult allOnes = runTool({"255.255.255.255", "9", "1", "1"});
  const ChildResult unreadable = runTool({"no.such.host", "9", "1", "1"});
  EXPECT_EQ(unreadable.out, allOnes.out);
  EXPECT_EQ(unreadable.out.rfind(console("\nConnected failed with error:"), 0), 0u)
      << unreadable.out;
  EXPECT_EQ(unreadable.exitStatus, 0);
}

TEST_P(EndToEnd, EchoedCommandSucceedsAndIsAllTheUnitGets) {
  Exchange exchange;
  const ChildResult result =
      runAgainstPeer(replyOf(ReplyKind::Echo), {"127.0.0.1", "PORT", "1", "128"}, exchange);
  EXPECT_EQ(result.out, console(sent("0x7e 0x5a 0x04 0x80(128)") +
                                received("0x7e 0x5a 0x04 0x80(128)") + succeeded(128)));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(exchange.received, (std::vector<std::uint8_t>{0x7E, 0x5A, 0x04, 0x80}));
}

TEST_P(EndToEnd, ArgumentsAreReadAsDecimalsWithTheirLeadingNumber) {
  struct Case {
    std::vector<std::string> args;
    std::string bytes;
    int level;
  };
  // The port wraps to its low 16 bits, so PORT+65536 and PORT-65536 reach
  // the same peer; arguments after the fourth change nothing.
  const Case cases[] = {
      {{"127.0.0.1", "PORT", "2", "5"}, "0x7e 0x5a 0x05 0x05(005)", 5},
      {{"127.0.0.1", "PORT", "+2", "0"}, "0x7e 0x5a 0x05 0x00(000)", 0},
      {{"127.0.0.1", "PORT", " 2", "255"}, "0x7e 0x5a 0x05 0xff(255)", 255},
      {{"127.0.0.1", "PORT", "2abc", "abc"}, "0x7e 0x5a 0x05 0x00(000)", 0},
      {{"127.0.0.1", "PORT", "1", "12abc", "extra", "9"}, "0x7e 0x5a 0x04 0x0c(012)", 12},
      {{"127.0.0.1", "PORT+65536", "1", "\t+7"}, "0x7e 0x5a 0x04 0x07(007)", 7},
      {{"127.0.0.1", "PORT-65536", "1", "7"}, "0x7e 0x5a 0x04 0x07(007)", 7},
  };
  for (const Case& c : cases) {
    const ChildResult result = runAgainstPeer(ReplyPlan{}, c.args);
    EXPECT_EQ(result.out, console(sent(c.bytes) + received(c.bytes) + succeeded(c.level)))
        << "arguments " << c.args[1] << " " << c.args[2] << " " << c.args[3];
    EXPECT_EQ(result.exitStatus, 0);
  }
}

TEST_P(EndToEnd, ReplyThatDiffersInAnyByteFails) {
  const char* shown[] = {"0xffffff81 0x5a 0x04 0x80(128)", "0x7e 0xffffffa5 0x04 0x80(128)",
                         "0x7e 0x5a 0xfffffffb 0x80(128)", "0x7e 0x5a 0x04 0x7f(127)"};
  for (int index = 0; index < 4; ++index) {
    const ChildResult result =
        runAgainstPeer(replyOf(ReplyKind::ChangedByte, index), {"127.0.0.1", "PORT", "1", "128"});
    EXPECT_EQ(result.out, console(sent("0x7e 0x5a 0x04 0x80(128)") + received(shown[index]) +
                                  failed(128)))
        << "byte " << index;
    EXPECT_EQ(result.exitStatus, 0);
  }
}

TEST_P(EndToEnd, ReplyBytesOf0x80AndAboveShowAsSignedExceptTheLevel) {
  ReplyPlan plan;
  plan.kind = ReplyKind::Fixed;
  plan.bytes = {0xFF, 0x5A, 0x80, 0xFF};
  const ChildResult result = runAgainstPeer(plan, {"127.0.0.1", "PORT", "2", "255"});
  EXPECT_EQ(result.out, console(sent("0x7e 0x5a 0x05 0xff(255)") +
                                received("0xffffffff 0x5a 0xffffff80 0xff(255)") + failed(255)));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_P(EndToEnd, ShortMissingAndResetRepliesFailWithZerosWhereNothingCame) {
  struct Case {
    ReplyPlan plan;
    std::string shown;
  };
  // Level 0 makes the 3-byte reply leave the buffer equal to the frame: only
  // the count tells it apart.
  const Case cases[] = {
      {replyOf(ReplyKind::Short, 3), "0x7e 0x5a 0x04 0x00(000)"},
      {replyOf(ReplyKind::Short, 1), "0x7e 0x0 0x00 0x00(000)"},
      {replyOf(ReplyKind::Split, 2), "0x7e 0x5a 0x00 0x00(000)"},
      {replyOf(ReplyKind::Close), "0x0 0x0 0x00 0x00(000)"},
      {replyOf(ReplyKind::Reset), "0x0 0x0 0x00 0x00(000)"},
  };
  for (const Case& c : cases) {
    const ChildResult result = runAgainstPeer(c.plan, {"127.0.0.1", "PORT", "1", "0"});
    EXPECT_EQ(result.out,
              console(sent("0x7e 0x5a 0x04 0x00(000)") + received(c.shown) + failed(0)))
        << "reply kind " << static_cast<int>(c.plan.kind);
    EXPECT_EQ(result.exitStatus, 0);
  }
}

TEST_P(EndToEnd, LongReplyIsJudgedOnItsFirstFourBytes) {
  Exchange exchange;
  const ChildResult result =
      runAgainstPeer(replyOf(ReplyKind::Long, 8), {"127.0.0.1", "PORT", "2", "64"}, exchange);
  EXPECT_EQ(result.out, console(sent("0x7e 0x5a 0x05 0x40(064)") +
                                received("0x7e 0x5a 0x05 0x40(064)") + succeeded(64)));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(exchange.received.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Platforms, EndToEnd, ::testing::ValuesIn(testedPlatforms()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
