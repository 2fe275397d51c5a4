// The whole run with its socket calls scripted: the failures that a live
// network cannot be made to produce on demand, and the order of the calls,
// which standard error logs one a line. On Windows the script stands in for
// Winsock beneath the real session code, so the log shows the Winsock calls.

#include <string>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/tool_platform.hpp"

namespace {

const char kSendLine[] = "Send data to the Vantrel: 0x7e 0x5a 0x04 0x80(128)\n";

class ScriptedRun : public ::testing::TestWithParam<ToolPlatform> {
 protected:
  ChildResult run(const std::string& script) const {
    std::vector<std::string> argv = GetParam().scriptedCommand;
    argv.insert(argv.end(), {"127.0.0.1", "4000", "1", "128"});
    std::vector<std::string> environment = GetParam().environment;
    environment.push_back("VANTREL_SCRIPT=" + script);
    return runChild(argv, environment, 20000);
  }
  std::string console(const std::string& utf8) const { return ::console(GetParam(), utf8); }
  std::string calls(std::initializer_list<Call> steps) const { return callLog(GetParam(), steps); }
};

// The start-up's own result is the code: no error code is asked for, and
// nothing was acquired, so nothing is released.
TEST_P(ScriptedRun, FailedStartupEndsTheRunHoldingNothing) {
  const ChildResult result = run("startup=10091");
  EXPECT_EQ(result.out, console("\nWSAStartup failed with error: 10091\n"));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, calls({Call::Startup}));
}

TEST_P(ScriptedRun, FailedSocketCleansTheStackUpOnce) {
  const ChildResult result = run("socket=10024");
  EXPECT_EQ(result.out, console("\nSocket failed with error: 10024\n"));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, calls({Call::Startup, Call::Socket, Call::ErrorCode, Call::Cleanup}));
}

TEST_P(ScriptedRun, FailedConnectClosesSocketThenStack) {
  const ChildResult result = run("connect=-10061");
  EXPECT_EQ(result.out,
            console("\nConnected failed with error:-10061. Vantrelへの接続が失敗しました。\n"));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, calls({Call::Startup, Call::Socket, Call::Connect, Call::ErrorCode,
                               Call::CloseSocket, Call::Cleanup}));
}

TEST_P(ScriptedRun, ShortOrFailedSendSkipsTheReceive) {
  for (const char* script : {"send=3", "send=0", "send=-1"}) {
    const ChildResult result = run(script);
    EXPECT_EQ(result.out, console(std::string(kSendLine) + "\nOutput failed.\n")) << script;
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, calls({Call::Startup, Call::Socket, Call::Connect, Call::Send,
                                 Call::CloseSocket, Call::Cleanup}))
        << script;
  }
}

TEST_P(ScriptedRun, ExchangeRunsBetweenConnectAndClose) {
  const ChildResult result = run("receive=4");
  EXPECT_EQ(result.out, console(std::string(kSendLine) +
                                "\nReceive data from the Vantrel: 0x7e 0x5a 0x04 0x80(128)"
                                "\nOutput succeeded. 調光値128で出力が成功しました。\n"));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, calls({Call::Startup, Call::Socket, Call::Connect, Call::Send,
                               Call::Receive, Call::CloseSocket, Call::Cleanup}));
}

TEST_P(ScriptedRun, FailedReceiveFailsTheVerdict) {
  const ChildResult result = run("receive=-1");
  EXPECT_EQ(result.out, console(std::string(kSendLine) +
                                "\nReceive data from the Vantrel: 0x0 0x0 0x00 0x00(000)"
                                "\nOutput failed. 調光値128で出力が失敗しました。\n"));
  EXPECT_EQ(result.exitStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(Platforms, ScriptedRun, ::testing::ValuesIn(testedPlatforms()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
