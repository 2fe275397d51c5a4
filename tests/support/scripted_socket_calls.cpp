// The session's socket calls following the script (support/script.hpp)
// instead of the network, so that the real run can be driven into failures a
// live peer cannot be made to cause.

#include <cstring>

#include "link/socket_calls.hpp"
#include "support/script.hpp"

namespace {

unsigned char lastSent[4];

}  // namespace

namespace socket_calls {

int startup() {
  logCall("startup");
  long code = 0;
  return scripted("startup", code) ? static_cast<int>(code) : 0;
}

bool createSocket(SocketHandle& handle, long& error, bool) {
  logCall("socket");
  handle = 3;
  return !scripted("socket", error);
}

bool connectSocket(SocketHandle, const char*, std::uint16_t, long& error) {
  logCall("connect");
  return !scripted("connect", error);
}

long sendBytes(SocketHandle, const unsigned char* bytes, int length) {
  logCall("send");
  std::memcpy(lastSent, bytes, sizeof lastSent);
  long count = length;
  scripted("send", count);
  return count;
}

long receiveBytes(SocketHandle, unsigned char* buffer, int length) {
  logCall("receive");
  long count = 0;
  scripted("receive", count);
  if (count > 0)
    std::memcpy(buffer, lastSent, static_cast<size_t>(count < length ? count : length));
  return count;
}

void closeSocket(SocketHandle) {
  logCall("close");
}

void cleanup() {
  logCall("cleanup");
}

}  // namespace socket_calls
