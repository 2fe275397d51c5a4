#include "link/tcp_session.hpp"

#include <cwchar>

#include "link/socket_calls.hpp"

OpenResult TcpSession::open(const char* address, std::uint16_t port) {
  const int startupError = socket_calls::startup();
  if (startupError != 0) {
    error_ = startupError;
    std::wprintf(L"\nWSAStartup failed with error: %d\n", startupError);
    return OpenResult::StartupFailed;
  }

  if (!socket_calls::createSocket(socket_, error_)) {
    std::wprintf(L"\nSocket failed with error: %ld\n", error_);
    socket_calls::cleanup();
    return OpenResult::SocketFailed;
  }

  if (!socket_calls::connectSocket(socket_, address, port, error_)) {
    std::wprintf(L"\nConnected failed with error:%ld. Vantrelへの接続が失敗しました。\n", error_);
    return OpenResult::ConnectFailed;
  }
  return OpenResult::Connected;
}

long TcpSession::send(const unsigned char* bytes, int length) {
  return socket_calls::sendBytes(socket_, bytes, length);
}

long TcpSession::receive(unsigned char* buffer, int length) {
  return socket_calls::receiveBytes(socket_, buffer, length);
}

void TcpSession::close() {
  socket_calls::closeSocket(socket_);
  socket_calls::cleanup();
}
