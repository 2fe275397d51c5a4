/* The least a program can do to carry out one level command as vantrel-dim
 * does: the same locale, the same lines through wprintf, one connect, send,
 * receive and close. It is the yardstick for the tool's start-up cost, not a
 * second tool: it checks nothing a benchmark run does not need.
 *
 * usage: c_client ADDRESS PORT TYPE LEVEL */

#include <arpa/inet.h>
#include <locale.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wchar.h>

static void trace(const wchar_t* format, const unsigned char* b) {
  wprintf(format, (unsigned)(int)(signed char)b[0], (unsigned)(int)(signed char)b[1],
          (unsigned)(int)(signed char)b[2], (unsigned)b[3], (int)b[3]);
}

int main(int argc, char** argv) {
  setlocale(LC_ALL, "");
  if (argc < 5) {
    wprintf(L"\nPlease check the number of the arguments. 引数の数を確認してください。\n");
    return 1;
  }
  const int type = atoi(argv[3]);
  const int level = atoi(argv[4]);
  const unsigned char frame[4] = {0x7E, 0x5A, type == 1 ? 0x04 : 0x05, (unsigned char)level};

  signal(SIGPIPE, SIG_IGN);
  const int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) {
    wprintf(L"\nSocket failed with error: %ld\n", 0L);
    return 1;
  }
  struct sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons((unsigned short)atoi(argv[2]));
  to.sin_addr.s_addr = inet_addr(argv[1]);
  if (connect(fd, (struct sockaddr*)&to, sizeof to) != 0) {
    wprintf(L"\nConnected failed with error:%ld. Vantrelへの接続が失敗しました。\n", 111L);
  } else {
    const ssize_t sent = send(fd, frame, 4, 0);
    trace(L"Send data to the Vantrel: 0x%x 0x%x 0x%02x 0x%02x(%03d)\n", frame);
    if (sent != 4) {
      wprintf(L"\nOutput failed.\n");
    } else {
      unsigned char reply[4] = {0};
      const ssize_t received = recv(fd, reply, 4, 0);
      trace(L"\nReceive data from the Vantrel: 0x%x 0x%x 0x%02x 0x%02x(%03d)", reply);
      if (received == 4 && memcmp(reply, frame, 4) == 0)
        wprintf(L"\nOutput succeeded. 調光値%dで出力が成功しました。\n", level);
      else
        wprintf(L"\nOutput failed. 調光値%dで出力が失敗しました。\n", level);
    }
  }
  close(fd);
  return 0;
}
