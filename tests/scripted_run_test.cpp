// The whole run with its socket calls scripted: the failures that a live
// network cannot be made to produce on demand, and the order of the calls,
// which standard error logs one a line.

#include <string>

#include <gtest/gtest.h>

#include "support/child_process.hpp"

namespace {

ChildResult runScripted(const std::string& script) {
  return runChild({VANTREL_DIM_SCRIPTED_PATH, "127.0.0.1", "4000", "1", "128"},
                  {"LC_ALL=C.UTF-8", "VANTREL_SCRIPT=" + script}, 20000);
}

const char kSendLine[] = "Send data to the Vantrel: 0x7e 0x5a 0x04 0x80(128)\n";

TEST(ScriptedRun, FailedStartupEndsTheRunHoldingNothing) {
  const ChildResult result = runScripted("startup=10091");
  EXPECT_EQ(result.out, "\nWSAStartup failed with error: 10091\n");
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, "startup\n");
}

TEST(ScriptedRun, FailedSocketCleansTheStackUpOnce) {
  const ChildResult result = runScripted("socket=24");
  EXPECT_EQ(result.out, "\nSocket failed with error: 24\n");
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, "startup\nsocket\ncleanup\n");
}

TEST(ScriptedRun, FailedConnectClosesSocketThenStack) {
  const ChildResult result = runScripted("connect=-10061");
  EXPECT_EQ(result.out, "\nConnected failed with error:-10061. Vantrelへの接続が失敗しました。\n");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "startup\nsocket\nconnect\nclose\ncleanup\n");
}

TEST(ScriptedRun, ShortOrFailedSendSkipsTheReceive) {
  for (const char* script : {"send=3", "send=0", "send=-1"}) {
    const ChildResult result = runScripted(script);
    EXPECT_EQ(result.out, std::string(kSendLine) + "\nOutput failed.\n") << script;
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "startup\nsocket\nconnect\nsend\nclose\ncleanup\n") << script;
  }
}

TEST(ScriptedRun, ExchangeRunsBetweenConnectAndClose) {
  const ChildResult result = runScripted("receive=4");
  EXPECT_EQ(result.out, std::string(kSendLine) +
                            "\nReceive data from the Vantrel: 0x7e 0x5a 0x04 0x80(128)"
                            "\nOutput succeeded. 調光値128で出力が成功しました。\n");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "startup\nsocket\nconnect\nsend\nreceive\nclose\ncleanup\n");
}

TEST(ScriptedRun, FailedReceiveFailsTheVerdict) {
  const ChildResult result = runScripted("receive=-1");
  EXPECT_EQ(result.out, std::string(kSendLine) +
                            "\nReceive data from the Vantrel: 0x0 0x0 0x00 0x00(000)"
                            "\nOutput failed. 調光値128で出力が失敗しました。\n");
  EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
