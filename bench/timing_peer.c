/* A unit for timing fades: it echoes level commands, one connection at a
 * time, and notes when each command arrived, so that a fade's schedule can
 * be checked where it matters, at the unit. It does no more than that, so
 * that its own cost stays out of the figures.
 *
 * usage: timing_peer COUNT
 * Prints the port it listens on (127.0.0.1), then, after COUNT commands,
 * each arrival in microseconds after the first, one a line. */

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static long long now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int main(int argc, char** argv) {
  int count = argc > 1 ? atoi(argv[1]) : 0;
  if (count <= 0) {
    fprintf(stderr, "usage: timing_peer COUNT\n");
    return 2;
  }
  long long* arrivals = calloc((size_t)count, sizeof *arrivals);
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  struct sockaddr_in address = {0};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (arrivals == NULL || bind(listener, (struct sockaddr*)&address, length) != 0 ||
      listen(listener, 16) != 0 || getsockname(listener, (struct sockaddr*)&address, &length) != 0) {
    perror("timing_peer");
    return 1;
  }
  printf("%u\n", (unsigned)ntohs(address.sin_port));
  fflush(stdout);

  for (int i = 0; i < count; ++i) {
    int fd = accept(listener, NULL, NULL);
    unsigned char command[4];
    size_t got = 0;
    while (fd >= 0 && got < sizeof command) {
      ssize_t n = recv(fd, command + got, sizeof command - got, 0);
      if (n <= 0)
        break;
      got += (size_t)n;
    }
    arrivals[i] = now_us();
    if (got == sizeof command)
      send(fd, command, sizeof command, MSG_NOSIGNAL);
    if (fd >= 0)
      close(fd);
  }
  for (int i = 0; i < count; ++i)
    printf("%lld\n", arrivals[i] - arrivals[0]);
  return 0;
}
