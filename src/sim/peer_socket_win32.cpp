#include <winsock2.h>

#include <climits>
#include <string>

#include "sim/peer_socket.hpp"

namespace {

// The system's words in English, which every console code page shows;
// a Windows without English messages gives the number alone.
std::string describe(int code) {
  char text[256];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                     text, sizeof text, nullptr);
  std::string words(text, length);
  while (!words.empty() && (words.back() == '\r' || words.back() == '\n' ||
                            words.back() == ' ' || words.back() == '.'))
    words.pop_back();
  const std::string number = "error " + std::to_string(code);
  return words.empty() ? number : words + " (" + number + ")";
}

int clamp(std::size_t length) {
  return length < INT_MAX ? static_cast<int>(length) : INT_MAX;
}

}  // namespace

namespace peer_socket {

// Nothing in the record is read afterwards; it only has to outlive the call.
bool startup(std::string& error) {
  WSADATA startupRecord;
  const int code = WSAStartup(0x0202, &startupRecord);
  if (code != 0)
    error = "WSAStartup: " + describe(code);
  return code == 0;
}

void cleanup() { WSACleanup(); }

std::string lastError() { return describe(WSAGetLastError()); }

Handle createSocket() {
  return static_cast<Handle>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

// On Windows SO_REUSEADDR lets a socket bind a port that another one
// listens on and take its connections: left off, so that a port in use
// fails the listen as on Linux, and SO_EXCLUSIVEADDRUSE keeps others from
// doing so to this listener.
bool bindAndListen(Handle listener, std::uint32_t address, std::uint16_t port,
                   std::uint16_t& boundPort) {
  const SOCKET s = static_cast<SOCKET>(listener);
  BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(address);
  int len = sizeof addr;
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR ||
      listen(s, 16) == SOCKET_ERROR ||
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == SOCKET_ERROR)
    return false;
  boundPort = ntohs(addr.sin_port);
  return true;
}

// A console control handler runs on a thread of its own and interrupts no
// wait here, but sets the stop event. Waiting on a socket and an event
// together takes WSAEventSelect(), which makes the socket non-blocking while
// it lasts: the socket is handed back as it was. Without a stop event the
// caller's slices of at most 50 ms see its stop flag.
Readiness waitReadable(Handle handle, int ms, Handle stop) {
  const SOCKET s = static_cast<SOCKET>(handle);
  if (stop != kNoSocket) {
    static thread_local const WSAEVENT ready = WSACreateEvent();
    WSAResetEvent(ready);
    if (WSAEventSelect(s, ready, FD_ACCEPT | FD_READ | FD_CLOSE) == SOCKET_ERROR)
      return Readiness::Ready;
    const HANDLE both[2] = {ready, reinterpret_cast<HANDLE>(stop)};
    const DWORD woken = WaitForMultipleObjects(2, both, FALSE, ms < 0 ? INFINITE : static_cast<DWORD>(ms));
    WSAEventSelect(s, ready, 0);
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    if (woken == WAIT_OBJECT_0 + 1)
      return Readiness::Interrupted;
    return woken == WAIT_TIMEOUT ? Readiness::TimedOut : Readiness::Ready;
  }
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(static_cast<SOCKET>(handle), &readable);
  timeval wait = {ms / 1000, ms % 1000 * 1000};
  const int count = select(0, &readable, nullptr, nullptr, ms < 0 ? nullptr : &wait);
  return count == 0 ? Readiness::TimedOut : Readiness::Ready;
}

Handle acceptClient(Handle listener, std::uint32_t& address, std::uint16_t& port) {
  sockaddr_in from = {};
  int len = sizeof from;
  const SOCKET s = accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(&from), &len);
  address = ntohl(from.sin_addr.s_addr);
  port = ntohs(from.sin_port);
  return static_cast<Handle>(s);
}

long receiveSome(Handle connection, std::uint8_t* buffer, std::size_t length) {
  const int n = recv(static_cast<SOCKET>(connection), reinterpret_cast<char*>(buffer),
                     clamp(length), 0);
  return n < 0 ? 0 : n;
}

// Windows raises no signal for a connection the client has gone from.
long sendSome(Handle connection, const std::uint8_t* bytes, std::size_t length) {
  return send(static_cast<SOCKET>(connection), reinterpret_cast<const char*>(bytes),
              clamp(length), 0);
}

void resetOnClose(Handle connection) {
  linger off = {1, 0};
  setsockopt(static_cast<SOCKET>(connection), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&off), sizeof off);
}

void closeSocket(Handle handle) { closesocket(static_cast<SOCKET>(handle)); }

}  // namespace peer_socket
