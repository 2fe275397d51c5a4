/* Many units for timing vantrel: it listens on N ports of 127.0.0.1 and
 * echoes the level commands that come to any of them, many connections at
 * once, on one thread, and notes when each command arrived at its unit. It
 * does no more than that, so that its own cost stays out of the figures.
 *
 * The arrival is the kernel's receive stamp of the segment that carried the
 * command's last byte (SO_TIMESTAMPNS), not the time this loop got round to
 * it: with 16 units answering at once, the loop's own turns would otherwise
 * show up as spread between the units. The stamp this loop takes after the
 * read is printed beside it, to show how much that would have been.
 *
 * usage: units_peer N [IDLE_SECONDS]
 * Prints the N ports it listens on, one a line; then serves until SIGTERM or
 * SIGINT, or until nothing has come for IDLE_SECONDS (default 60); then
 * prints each command it noted, one a line, in the order it served them:
 *     UNIT LEVEL ARRIVAL_US SEEN_US
 * UNIT is the port's index (0..N-1), LEVEL the last byte (-1 when the 4
 * bytes were not a level command), the times in microseconds (to the
 * nanosecond) after the earliest arrival noted; with UNITS_PEER_EPOCH set in
 * the environment, after the Unix epoch instead, for comparing with a
 * client's own clock. */

#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "stamped_receive.h"

enum { kMaxUnits = 1024, kMaxConnections = 2048, kMaxNoted = 1 << 20 };

struct connection {
  int unit;
  unsigned char bytes[4];
  size_t got;
};

struct noted {
  int unit;
  int level;
  long long arrival_ns; /* CLOCK_REALTIME, as the kernel stamps */
  long long seen_ns;
};

static volatile sig_atomic_t stop_requested = 0;
static void request_stop(int signal_number) {
  (void)signal_number;
  stop_requested = 1;
}

static long long realtime_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return (long long)t.tv_sec * 1000000000 + t.tv_nsec;
}

static struct pollfd fds[kMaxUnits + kMaxConnections];
static struct connection connections[kMaxConnections];
static struct noted* notes;
static size_t noted_count;
static size_t connection_count;
static int unit_count;

static void note(int unit, const unsigned char* bytes, long long arrival_ns) {
  if (noted_count == kMaxNoted)
    return;
  const int level_command = bytes[0] == 0x7E && bytes[1] == 0x5A && (bytes[2] == 0x04 || bytes[2] == 0x05);
  struct noted* n = &notes[noted_count++];
  n->unit = unit;
  n->level = level_command ? bytes[3] : -1;
  n->arrival_ns = arrival_ns;
  n->seen_ns = realtime_ns();
}

/* Reads what has come. Returns 1 while the connection needs more, 0 once it
 * is done with (echoed, or closed by the client, or failed). */
static int serve(int fd, struct connection* c) {
  while (c->got < sizeof c->bytes) {
    long long arrival_ns = -1;
    const ssize_t n = receive_stamped(fd, c->bytes + c->got, sizeof c->bytes - c->got, MSG_DONTWAIT,
                                      &arrival_ns);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
      return 1;
    if (n <= 0)
      return 0;
    c->got += (size_t)n;
    if (c->got < sizeof c->bytes)
      continue;
    note(c->unit, c->bytes, arrival_ns);
    send(fd, c->bytes, sizeof c->bytes, MSG_NOSIGNAL);
  }
  return 0;
}

static void accept_all(int unit) {
  for (;;) {
    const int fd = accept4(fds[unit].fd, NULL, NULL, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
      return;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    struct connection c = {unit, {0}, 0};
    /* The command is often there already: no turn of the loop for it. */
    if (!serve(fd, &c) || connection_count == kMaxConnections) {
      close(fd);
      continue;
    }
    const size_t slot = (size_t)unit_count + connection_count;
    fds[slot].fd = fd;
    fds[slot].events = POLLIN;
    fds[slot].revents = 0;
    connections[connection_count++] = c;
  }
}

int main(int argc, char** argv) {
  unit_count = argc > 1 ? atoi(argv[1]) : 0;
  const int idle_limit_s = argc > 2 ? atoi(argv[2]) : 60;
  if (unit_count <= 0 || unit_count > kMaxUnits || idle_limit_s <= 0) {
    fprintf(stderr, "usage: units_peer N [IDLE_SECONDS]   (N from 1 to %d)\n", kMaxUnits);
    return 2;
  }
  notes = calloc(kMaxNoted, sizeof *notes);
  if (notes == NULL) {
    perror("units_peer");
    return 1;
  }
  struct sigaction on_stop;
  memset(&on_stop, 0, sizeof on_stop);
  on_stop.sa_handler = request_stop;
  sigaction(SIGTERM, &on_stop, NULL);
  sigaction(SIGINT, &on_stop, NULL);

  for (int unit = 0; unit < unit_count; ++unit) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    /* Set on the listener too, so that the kernel stamps from the first
     * segment on. */
    if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        bind(listener, (struct sockaddr*)&address, length) != 0 || listen(listener, 64) != 0 ||
        getsockname(listener, (struct sockaddr*)&address, &length) != 0) {
      perror("units_peer");
      return 1;
    }
    fds[unit].fd = listener;
    fds[unit].events = POLLIN;
    printf("%u\n", (unsigned)ntohs(address.sin_port));
  }
  fflush(stdout);

  int idle_s = 0;
  while (!stop_requested && idle_s < idle_limit_s) {
    const int ready = poll(fds, (nfds_t)unit_count + connection_count, 1000);
    if (ready < 0 && errno != EINTR) {
      perror("units_peer");
      return 1;
    }
    if (ready <= 0) {
      idle_s += ready == 0;
      continue;
    }
    idle_s = 0;
    /* Connections first: accepting appends to them. */
    for (size_t i = 0; i < connection_count;) {
      struct pollfd* p = &fds[(size_t)unit_count + i];
      if (p->revents == 0 || serve(p->fd, &connections[i])) {
        ++i;
        continue;
      }
      close(p->fd);
      --connection_count;
      *p = fds[(size_t)unit_count + connection_count];
      connections[i] = connections[connection_count];
    }
    for (int unit = 0; unit < unit_count; ++unit) {
      if (fds[unit].revents != 0)
        accept_all(unit);
    }
  }

  long long earliest = 0;
  size_t unstamped = 0;
  const int from_epoch = getenv("UNITS_PEER_EPOCH") != NULL;
  for (size_t i = 0; i < noted_count; ++i) {
    if (notes[i].arrival_ns < 0) {
      notes[i].arrival_ns = notes[i].seen_ns; /* no stamp: the loop's own time */
      ++unstamped;
    }
    if (!from_epoch && (i == 0 || notes[i].arrival_ns < earliest))
      earliest = notes[i].arrival_ns;
  }
  for (size_t i = 0; i < noted_count; ++i)
    printf("%d %d %.3f %.3f\n", notes[i].unit, notes[i].level,
           (double)(notes[i].arrival_ns - earliest) / 1000, (double)(notes[i].seen_ns - earliest) / 1000);
  if (unstamped > 0)
    fprintf(stderr, "units_peer: %zu of %zu commands came without the kernel's stamp\n", unstamped,
            noted_count);
  return 0;
}
