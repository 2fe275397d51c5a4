#include "link/tcp_session.hpp"

#include <cwchar>

#include "link/socket_calls.hpp"

OpenResult TcpSession::open(const char* address, std::uint16_t port) {
  if (options_.timeoutMs > 0)
    limit_ = {socket_calls::monotonicMs() + options_.timeoutMs, options_.stop};

  const int startupError = socket_calls::startup();
  if (startupError != 0) {
    error_ = startupError;
    if (!options_.quiet)
      std::wprintf(L"\nWSAStartup failed with error: %d\n", startupError);
    return OpenResult::StartupFailed;
  }

  if (!socket_calls::createSocket(socket_, error_)) {
    if (!options_.quiet)
      std::wprintf(L"\nSocket failed with error: %ld\n", error_);
    socket_calls::cleanup();
    return OpenResult::SocketFailed;
  }

  if (!socket_calls::connectSocket(socket_, address, port, limit(), error_)) {
    if (!options_.quiet)
      std::wprintf(L"\nConnected failed with error:%ld. Vantrelへの接続が失敗しました。\n", error_);
    return OpenResult::ConnectFailed;
  }
  return OpenResult::Connected;
}

long TcpSession::send(const unsigned char* bytes, int length) {
  return socket_calls::sendBytes(socket_, bytes, length, limit(), error_);
}

long TcpSession::receive(unsigned char* buffer, int length) {
  return socket_calls::receiveBytes(socket_, buffer, length, limit(), error_);
}

void TcpSession::close() {
  socket_calls::closeSocket(socket_);
  socket_calls::cleanup();
}

LinkFailure TcpSession::failure() const {
  return socket_calls::failureOf(error_);
}

int socket_calls::nextWaitMs(const WaitLimit& limit, bool& stopped) {
  const std::int64_t kStopCheckMs = 50;
  stopped = limit.stop != nullptr && limit.stop->load();
  const std::int64_t left = limit.deadlineMs - monotonicMs();
  if (stopped || left <= 0)
    return 0;
  return static_cast<int>(left < kStopCheckMs ? left : kStopCheckMs);
}
