/* The least a program can do to set many units to one level: for each port
 * of 127.0.0.1 in turn, connect, send the 4-byte level command, read the
 * 4-byte echo, close; in one process. It is the yardstick for what vantrel
 * costs at scale, not a second tool: it checks only that every unit echoed,
 * so that both do the same work.
 *
 * usage: c_units_client TYPE LEVEL PORT...
 * Exit status 0 when every unit echoed, else 1. */

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int exchange(unsigned short port, const unsigned char* frame) {
  const int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0)
    return 0;
  struct sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  unsigned char reply[4] = {0};
  size_t got = 0;
  if (connect(fd, (struct sockaddr*)&to, sizeof to) == 0 && send(fd, frame, 4, 0) == 4) {
    ssize_t n;
    while (got < sizeof reply && (n = recv(fd, reply + got, sizeof reply - got, 0)) > 0)
      got += (size_t)n;
  }
  close(fd);
  return got == sizeof reply && memcmp(reply, frame, 4) == 0;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: c_units_client TYPE LEVEL PORT...\n");
    return 2;
  }
  const unsigned char frame[4] = {0x7E, 0x5A, atoi(argv[1]) == 1 ? 0x04 : 0x05,
                                  (unsigned char)atoi(argv[2])};
  signal(SIGPIPE, SIG_IGN);
  int failed = 0;
  for (int i = 3; i < argc; ++i)
    failed += !exchange((unsigned short)atoi(argv[i]), frame);
  if (failed > 0)
    fprintf(stderr, "c_units_client: %d of %d units did not echo\n", failed, argc - 3);
  return failed > 0;
}
