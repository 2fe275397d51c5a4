#ifndef VANTREL_LINK_COMMAND_FRAME_HPP
#define VANTREL_LINK_COMMAND_FRAME_HPP

class TcpSession;

/// The 4-byte level command, in wire order: two header bytes, the command
/// code of the unit type, the dimming level. A unit that carries the command
/// out answers with the same 4 bytes.
struct CommandFrame {
  static constexpr int kSize = 4;
  unsigned char bytes[kSize];
};

/// The frame for unit type 1 or 2 (the caller has checked which) and a level.
CommandFrame buildCommandFrame(int unitType, unsigned char level);

/// True exactly when `received` is 4 and the reply equals the frame.
bool isEcho(const CommandFrame& frame, const unsigned char (&reply)[CommandFrame::kSize],
            long received);

/// What came back for a frame.
struct Reply {
  unsigned char bytes[CommandFrame::kSize] = {};  ///< zero where nothing came
  /// The bytes received; when none came, what the receive returned: 0 when
  /// the unit closed, -1 when it failed.
  long count = 0;
  bool echoed = false;  ///< isEcho of the bytes and the count
};

/// Receives the reply to `frame`, which has gone out whole, in one receive,
/// whatever it brings, and judges it. Bytes beyond the fourth are never read.
Reply receiveReply(TcpSession& session, const CommandFrame& frame);

/// A level exchange as a value, with nothing printed.
struct ExchangeResult {
  long sent = 0;  ///< what the send returned
  Reply reply;    ///< the whole reply; left empty unless all 4 bytes went out
};

/// Sends the frame once, receives at most once, and tells the console what
/// went out, what came back and whether the unit carried the command out.
void runLevelExchange(TcpSession& session, const CommandFrame& frame);

#endif
