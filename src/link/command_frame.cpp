#include "link/command_frame.hpp"

#include <cwchar>

#include "link/tcp_session.hpp"

namespace {

// Bytes 0 to 2 are shown as signed chars widened to int, so 0x80 and above
// print with eight hex digits; byte 3 is the level and shows as 0..255.
void printTraceLine(const wchar_t* format, const unsigned char (&bytes)[CommandFrame::kSize]) {
  auto widened = [](unsigned char byte) {
    return static_cast<unsigned>(static_cast<int>(static_cast<signed char>(byte)));
  };
  std::wprintf(format, widened(bytes[0]), widened(bytes[1]), widened(bytes[2]),
               static_cast<unsigned>(bytes[3]), static_cast<int>(bytes[3]));
}

}  // namespace

CommandFrame buildCommandFrame(int unitType, unsigned char level) {
  const unsigned char commandCode = unitType == 1 ? 0x04 : 0x05;
  return CommandFrame{{0x7E, 0x5A, commandCode, level}};
}

bool isEcho(const CommandFrame& frame, const unsigned char (&reply)[CommandFrame::kSize],
            long received) {
  if (received != CommandFrame::kSize)
    return false;
  for (int i = 0; i < CommandFrame::kSize; ++i) {
    if (reply[i] != frame.bytes[i])
      return false;
  }
  return true;
}

Reply receiveReply(TcpSession& session, const CommandFrame& frame) {
  Reply reply;
  reply.count = session.receive(reply.bytes, CommandFrame::kSize);
  reply.echoed = isEcho(frame, reply.bytes, reply.count);
  return reply;
}

// The send trace line goes out before the receive starts, so that a console
// shows what was sent while the unit keeps the tool waiting.
void runLevelExchange(TcpSession& session, const CommandFrame& frame) {
  const long sent = session.send(frame.bytes, CommandFrame::kSize);
  printTraceLine(L"Send data to the Vantrel: 0x%x 0x%x 0x%02x 0x%02x(%03d)\n", frame.bytes);
  if (sent != CommandFrame::kSize) {
    std::wprintf(L"\nOutput failed.\n");
    return;
  }

  const Reply reply = receiveReply(session, frame);
  printTraceLine(L"\nReceive data from the Vantrel: 0x%x 0x%x 0x%02x 0x%02x(%03d)", reply.bytes);

  const int level = frame.bytes[3];
  if (reply.echoed)
    std::wprintf(L"\nOutput succeeded. 調光値%dで出力が成功しました。\n", level);
  else
    std::wprintf(L"\nOutput failed. 調光値%dで出力が失敗しました。\n", level);
}
