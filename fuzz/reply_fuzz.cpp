// The level exchange against any peer behaviour: whatever the send and the
// receive return (-1 to 4) and whatever bytes arrive, the console must show
// the frame, the whole reply buffer in the byte notation, and success exactly
// for a 4-byte echo. The expected text is built here digit by digit, not with
// the tool's format strings.
//
// Input: [sent] [received] [unit type] [level] [reply bytes...]

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "link/command_frame.hpp"
#include "link/socket_calls.hpp"
#include "link/tcp_session.hpp"

namespace {

struct Peer {
  long sent = 0;
  long received = 0;
  unsigned char reply[CommandFrame::kSize] = {};
  int sendCalls = 0;
  int receiveCalls = 0;
};
Peer peer;

std::wstring hex(unsigned value, int minDigits) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), L"0123456789abcdef"[value % 16]);
    value /= 16;
  } while (value != 0);
  while (static_cast<int>(digits.size()) < minDigits)
    digits.insert(digits.begin(), L'0');
  return L"0x" + digits;
}

// Bytes 0..2 read as signed: 0x80 and up fill the upper 24 bits with ones.
std::wstring signedHex(unsigned char byte, int minDigits) {
  return byte < 0x80 ? hex(byte, minDigits) : L"0xffffff" + hex(byte, 2).substr(2);
}

std::wstring bytesField(const unsigned char (&b)[4]) {
  std::wstring decimal = std::to_wstring(b[3]);
  decimal.insert(0, 3 - decimal.size(), L'0');
  return signedHex(b[0], 1) + L" " + signedHex(b[1], 1) + L" " + signedHex(b[2], 2) + L" " +
         hex(b[3], 2) + L"(" + decimal + L")";
}

std::wstring expectedConsole(const CommandFrame& frame, const unsigned char (&buffer)[4]) {
  std::wstring out = L"Send data to the Vantrel: " + bytesField(frame.bytes) + L"\n";
  if (peer.sent != 4)
    return out + L"\nOutput failed.\n";
  out += L"\nReceive data from the Vantrel: " + bytesField(buffer);
  const bool echo = peer.received == 4 && std::memcmp(buffer, frame.bytes, 4) == 0;
  const std::wstring level = std::to_wstring(frame.bytes[3]);
  if (echo)
    return out + L"\nOutput succeeded. 調光値" + level + L"で出力が成功しました。\n";
  return out + L"\nOutput failed. 調光値" + level + L"で出力が失敗しました。\n";
}

}  // namespace

namespace socket_calls {

int startup() { return 0; }
bool createSocket(SocketHandle&, long&, bool) { return true; }
bool connectSocket(SocketHandle, const char*, std::uint16_t, long&) {
  return true;
}
void closeSocket(SocketHandle) {}
void cleanup() {}

long sendBytes(SocketHandle, const unsigned char*, int length) {
  ++peer.sendCalls;
  if (length != CommandFrame::kSize)
    std::abort();
  return peer.sent;
}

// Like recv: only the bytes it reports are delivered.
long receiveBytes(SocketHandle, unsigned char* buffer, int length) {
  ++peer.receiveCalls;
  if (length != CommandFrame::kSize)
    std::abort();
  if (peer.received > 0)
    std::memcpy(buffer, peer.reply, static_cast<std::size_t>(peer.received));
  return peer.received;
}

}  // namespace socket_calls

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4)
    return 0;
  peer = Peer{};
  peer.sent = data[0] % 6 - 1;
  peer.received = data[1] % 6 - 1;
  const int unitType = data[2] % 2 + 1;
  const unsigned char level = data[3];
  std::memcpy(peer.reply, data + 4, size - 4 < 4 ? size - 4 : 4);

  const CommandFrame frame = buildCommandFrame(unitType, level);

  // The echo check on its own sees the whole of the bytes, whatever the
  // count: a full match with a count short of 4 must still fail.
  const bool match = std::memcmp(peer.reply, frame.bytes, 4) == 0;
  if (isEcho(frame, peer.reply, peer.received) != (match && peer.received == 4))
    std::abort();

  // The exchange prints to stdout; catch it in memory.
  wchar_t* text = nullptr;
  std::size_t length = 0;
  std::FILE* console = open_wmemstream(&text, &length);
  if (console == nullptr)
    std::abort();
  std::FILE* realStdout = stdout;
  stdout = console;
  TcpSession session;
  runLevelExchange(session, frame);
  stdout = realStdout;
  std::fclose(console);

  unsigned char delivered[4] = {};
  if (peer.received > 0)
    std::memcpy(delivered, peer.reply, static_cast<std::size_t>(peer.received));
  const bool rightCalls = peer.sendCalls == 1 && peer.receiveCalls == (peer.sent == 4 ? 1 : 0);
  const bool rightText = std::wstring(text, length) == expectedConsole(frame, delivered);
  std::free(text);
  if (!rightCalls || !rightText)
    std::abort();
  return 0;
}
