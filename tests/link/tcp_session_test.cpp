// The real socket calls, driven into failures in a child process so that the
// limits and signals involved stay out of the test runner.

#include "link/tcp_session.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

namespace {

// Runs in the child: opens a session with no descriptor left to spare.
[[noreturn]] void openPastTheDescriptorLimit() {
  // The runner has already written narrow text to stdout, which fixes its
  // orientation; reopening gives the session's wide message a fresh stream,
  // and stderr is what the parent can see.
  if (std::freopen("/dev/stderr", "a", stdout) == nullptr)
    std::_Exit(3);
  const int lowestFree = dup(0);
  close(lowestFree);
  const rlimit limit = {static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
  setrlimit(RLIMIT_NOFILE, &limit);
  TcpSession session;
  const OpenResult result = session.open("127.0.0.1", 9);
  std::fflush(stdout);
  std::_Exit(result == OpenResult::SocketFailed ? 0 : 4);
}

// Runs in the child: sends on a connection that its peer has broken.
[[noreturn]] void sendOnABrokenConnection() {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    std::_Exit(3);

  TcpSession session;
  if (session.open("127.0.0.1", ntohs(address.sin_port)) != OpenResult::Connected)
    std::_Exit(3);
  // A FIN and then an RST: the connection goes to CLOSE_WAIT and then
  // breaks, which makes the next send fail with EPIPE, the error that comes
  // with SIGPIPE.
  const int accepted = accept(listener, nullptr, nullptr);
  shutdown(accepted, SHUT_WR);
  usleep(50 * 1000);
  const linger reset = {1, 0};
  setsockopt(accepted, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(accepted);
  usleep(100 * 1000);

  const unsigned char bytes[4] = {0x7E, 0x5A, 0x04, 0x00};
  const long sent = session.send(bytes, 4);
  session.close();
  std::_Exit(sent == -1 ? 0 : 4);
}

TEST(TcpSessionDeathTest, SocketCreationPastTheDescriptorLimitReportsEmfile) {
  EXPECT_EXIT(openPastTheDescriptorLimit(), ::testing::ExitedWithCode(0),
              "^\nSocket failed with error: 24\n$");
}

TEST(TcpSessionDeathTest, SendOnABrokenConnectionFailsWithoutKillingTheProcess) {
  EXPECT_EXIT(sendOnABrokenConnection(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
