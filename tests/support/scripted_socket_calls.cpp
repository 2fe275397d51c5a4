// Socket calls that follow a script instead of the network, so that the real
// run can be driven into failures a live peer cannot be made to cause.
//
// VANTREL_SCRIPT holds comma-separated "call=value" items:
//   startup=CODE   the start-up fails with CODE
//   socket=CODE    socket creation fails with CODE
//   connect=CODE   the connect fails with CODE
//   send=COUNT     the send returns COUNT (-1 for a failure)
//   receive=COUNT  the receive returns COUNT, echoing what was sent
// Calls not named succeed; an unscripted receive reports the peer closed.
// Each call is logged on standard error, one name a line, so a test can check
// what was called and in which order.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/socket_calls.hpp"

namespace {

unsigned char lastSent[4];

// Looks `call` up in the script; true with its value when it is named.
bool scripted(const char* call, long& value) {
  const char* script = std::getenv("VANTREL_SCRIPT");
  if (script == nullptr)
    return false;
  const size_t length = std::strlen(call);
  for (const char* item = script; *item != '\0';) {
    if (std::strncmp(item, call, length) == 0 && item[length] == '=') {
      value = std::strtol(item + length + 1, nullptr, 10);
      return true;
    }
    const char* comma = std::strchr(item, ',');
    if (comma == nullptr)
      break;
    item = comma + 1;
  }
  return false;
}

void log(const char* call) {
  std::fprintf(stderr, "%s\n", call);
}

}  // namespace

namespace socket_calls {

int startup() {
  log("startup");
  long code = 0;
  return scripted("startup", code) ? static_cast<int>(code) : 0;
}

bool createSocket(SocketHandle& handle, long& error) {
  log("socket");
  handle = 3;
  return !scripted("socket", error);
}

bool connectSocket(SocketHandle, const char*, std::uint16_t, long& error) {
  log("connect");
  return !scripted("connect", error);
}

long sendBytes(SocketHandle, const unsigned char* bytes, int length) {
  log("send");
  std::memcpy(lastSent, bytes, sizeof lastSent);
  long count = length;
  scripted("send", count);
  return count;
}

long receiveBytes(SocketHandle, unsigned char* buffer, int length) {
  log("receive");
  long count = 0;
  scripted("receive", count);
  if (count > 0)
    std::memcpy(buffer, lastSent, static_cast<size_t>(count < length ? count : length));
  return count;
}

void closeSocket(SocketHandle) {
  log("close");
}

void cleanup() {
  log("cleanup");
}

}  // namespace socket_calls
