// vantrel-dim ADDRESS PORT TYPE LEVEL: sets the light output of one Vantrel
// power unit with a single level command, and says whether the unit echoed it.

#include <clocale>
#include <cstdint>
#include <cwchar>

#include "cli/decimal.hpp"
#include "link/command_frame.hpp"
#include "link/tcp_session.hpp"

int main(int argc, char* argv[]) {
  std::setlocale(LC_ALL, "");

  if (argc < 5) {
    std::wprintf(L"\nPlease check the number of the arguments. 引数の数を確認してください。\n");
    return 1;
  }

  // Address and port are the unit's business: whatever they say is tried.
  const char* address = argv[1];
  const auto port = static_cast<std::uint16_t>(static_cast<unsigned>(decimalValue(argv[2])));

  const int unitType = decimalValue(argv[3]);
  if (unitType != 1 && unitType != 2) {
    std::wprintf(L"\nPlease input 1 or 2 to the third argument. Vantrelのタイプを「1」または「2」で入力してください。\n");
    return 1;
  }

  const int level = decimalValue(argv[4]);
  if (level < 0 || level > 255) {
    std::wprintf(L"\nPlease input a value of 0 to 255 to the forth argument. 調光値に0～255の数字を入力してください。\n");
    return 1;
  }

  const CommandFrame frame = buildCommandFrame(unitType, static_cast<unsigned char>(level));

  TcpSession session;
  switch (session.open(address, port)) {
    case OpenResult::StartupFailed:
    case OpenResult::SocketFailed:
      return 1;
    case OpenResult::ConnectFailed:
      break;
    case OpenResult::Connected:
      runLevelExchange(session, frame);
      break;
  }

  // From here on a socket existed, so the status is 0 whatever the unit did;
  // the verdict line is what tells success from failure.
  session.close();
  return 0;
}
