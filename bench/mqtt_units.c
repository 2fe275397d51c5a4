/* Units and a Home Assistant stand-in for timing vantreld: it serves N
 * units on ports of 127.0.0.1 (echoing each level command, and noting the
 * kernel's receive stamp of its last byte), and, as an MQTT client of the
 * same broker, publishes the commands and watches the states come back,
 * all on one clock (CLOCK_REALTIME, as the kernel stamps).
 *
 * usage: mqtt_units BROKER_PORT N SCENARIO
 * Prints the N ports, one a line, then waits for vantreld's "online" on
 * vantrel/status (units u0..u{N-1}, group "every") and runs SCENARIO:
 *   latency  200 commands to u0, one at a time: publish -> frame at the
 *            unit, in microseconds, one a line: "latency US"
 *   burst    one publish to each unit at once: "burst US" from the first
 *            publish until every unit confirmed and every state came back
 *   fade     all off, then "every" to 200 over 2 s: each unit's commands,
 *            "fade UNIT K ARRIVAL_US" after the earliest first arrival
 *   pairs    ROUNDS times, the same fade run by VANTREL_FADE (a shell
 *            command, run to its end) and then by vantreld as in fade,
 *            against these same units: "pair ROUND vantrel|vantreld UNIT K
 *            ARRIVAL_US", each round after its own earliest first arrival
 *   first16  all units to 100 (so that the service knows every level and
 *            refreshes those it is told to), 1.5 s of their refreshes,
 *            then group "first" (u0..u15) off and to 200 over 2 s as in
 *            fade: "first16 UNIT K ARRIVAL_US" of those 16, then
 *            "others N": the commands the other units got meanwhile
 *   idle     serves for 12 s, then "idle"
 * Ends with "done", or "broken: WHY" when something did not come in time. */

#define _GNU_SOURCE
#include <errno.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "stamped_receive.h"

enum { kMaxUnits = 256, kMaxConnections = 1024, kMaxNoted = 1 << 16 };

struct noted { int unit; int level; long long arrival_ns; };

static struct pollfd fds[1 + kMaxUnits + kMaxConnections];
static int connection_unit[kMaxConnections];
static int unit_count;
/* Connections sit after the units in fds; a few per unit are plenty, and
 * poll looks at no more than that. */
static int first_connection, connection_slots;
static struct noted notes[kMaxNoted];
static int noted_count;
static int wake[2]; /* the MQTT thread tells the loop of a message */

static pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
static int online;
static int state_level[kMaxUnits]; /* the last brightness published, -1 none */

static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return (long long)t.tv_sec * 1000000000 + t.tv_nsec;
}

static void on_message(struct mosquitto* m, void* u, const struct mosquitto_message* msg) {
  (void)m; (void)u;
  char text[256] = "";
  if (msg->payloadlen > 0 && msg->payloadlen < (int)sizeof text)
    memcpy(text, msg->payload, (size_t)msg->payloadlen);
  int unit = -1;
  pthread_mutex_lock(&mutex);
  if (strcmp(msg->topic, "vantrel/status") == 0)
    online = strcmp(text, "online") == 0;
  else if (sscanf(msg->topic, "vantrel/unit/u%d/state", &unit) == 1 && unit >= 0 && unit < kMaxUnits) {
    const char* b = strstr(text, "\"brightness\":");
    state_level[unit] = b != NULL ? atoi(b + 13) : -1;
  }
  pthread_mutex_unlock(&mutex);
  if (write(wake[1], "", 1) < 0) {
  }
}

static void on_connect(struct mosquitto* m, void* u, int rc) {
  (void)u; (void)rc;
  mosquitto_subscribe(m, NULL, "vantrel/status", 0);
  mosquitto_subscribe(m, NULL, "vantrel/unit/+/state", 0);
}

static void serve(int slot) {
  unsigned char bytes[4];
  long long arrival = now_ns();
  if (receive_stamped(fds[slot].fd, bytes, sizeof bytes, MSG_WAITALL, &arrival) == 4) {
    if (noted_count < kMaxNoted)
      notes[noted_count++] = (struct noted){connection_unit[slot - first_connection], bytes[3], arrival};
    send(fds[slot].fd, bytes, 4, MSG_NOSIGNAL);
  }
  close(fds[slot].fd);
  fds[slot].fd = -1;
}

/* Serves for up to `ms`, or until `done()` holds; 0 when it did not. */
static int serve_until(int (*done)(void), int ms) {
  const long long end = now_ns() + (long long)ms * 1000000;
  while (!done()) {
    const long long left = end - now_ns();
    if (left <= 0)
      return 0;
    if (poll(fds, (nfds_t)(first_connection + connection_slots), (int)(left / 1000000) + 1) <= 0)
      continue;
    if (fds[0].revents) {
      char drain[64];
      if (read(wake[0], drain, sizeof drain) < 0) {
      }
    }
    for (int unit = 0; unit < unit_count; ++unit) {
      if (!fds[1 + unit].revents)
        continue;
      const int fd = accept4(fds[1 + unit].fd, NULL, NULL, SOCK_CLOEXEC);
      if (fd < 0)
        continue;
      const int on = 1;
      setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
      for (int c = 0; c < connection_slots; ++c) {
        if (fds[first_connection + c].fd < 0) {
          fds[first_connection + c] = (struct pollfd){fd, POLLIN, 0};
          connection_unit[c] = unit;
          break;
        }
      }
    }
    for (int c = 0; c < connection_slots; ++c)
      if (fds[first_connection + c].fd >= 0 && fds[first_connection + c].revents)
        serve(first_connection + c);
  }
  return 1;
}

static int want_level; /* for the predicates below */
static int want_from;  /* notes before this index do not count */

static int is_online(void) {
  pthread_mutex_lock(&mutex);
  const int r = online;
  pthread_mutex_unlock(&mutex);
  return r;
}
static int u0_framed(void) {
  for (int i = want_from; i < noted_count; ++i)
    if (notes[i].unit == 0 && notes[i].level == want_level)
      return 1;
  return 0;
}
static int all_stated(void) {
  pthread_mutex_lock(&mutex);
  int all = 1;
  for (int u = 0; u < unit_count; ++u)
    all = all && state_level[u] == want_level;
  pthread_mutex_unlock(&mutex);
  return all;
}
static int first_stated(void) {
  pthread_mutex_lock(&mutex);
  int all = 1;
  for (int u = 0; u < 16 && u < unit_count; ++u)
    all = all && state_level[u] == want_level;
  pthread_mutex_unlock(&mutex);
  return all;
}
static int u0_framed_and_stated(void) {
  if (!u0_framed())
    return 0;
  pthread_mutex_lock(&mutex);
  const int r = state_level[0] == want_level;
  pthread_mutex_unlock(&mutex);
  return r;
}
static int never(void) { return 0; }

static pid_t child; /* the fade of vantrel that runs, 0 when none */
static void on_child(int signal) {
  (void)signal;
  if (write(wake[1], "", 1) < 0) {
  }
}
static int child_ended(void) {
  int status = 0;
  if (waitpid(child, &status, WNOHANG) != child)
    return 0;
  child = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
  return 1;
}

/* The commands noted from `from` on, "pair ROUND WHO UNIT K ARRIVAL_US"
 * after their earliest first arrival. */
static void print_round(int round, const char* who, int from) {
  long long zero = 0;
  for (int i = from; i < noted_count; ++i)
    if (zero == 0 || notes[i].arrival_ns < zero)
      zero = notes[i].arrival_ns;
  int k[kMaxUnits] = {0};
  for (int i = from; i < noted_count; ++i)
    printf("pair %d %s %d %d %.1f\n", round, who, notes[i].unit, k[notes[i].unit]++,
           (notes[i].arrival_ns - zero) / 1000.0);
}

static void publish(struct mosquitto* m, const char* topic, const char* payload) {
  mosquitto_publish(m, NULL, topic, (int)strlen(payload), payload, 0, 0);
}

int main(int argc, char** argv) {
  if (argc != 4 && !(argc == 5 && strcmp(argv[3], "pairs") == 0)) {
    fprintf(stderr, "usage: mqtt_units BROKER_PORT N latency|burst|fade|first16|idle|pairs ROUNDS\n");
    return 2;
  }
  unit_count = atoi(argv[2]);
  const char* scenario = argv[3];
  if (unit_count < 1 || unit_count > kMaxUnits)
    return 2;
  first_connection = 1 + unit_count;
  connection_slots = 4 * unit_count;
  for (size_t i = 0; i < sizeof fds / sizeof fds[0]; ++i)
    fds[i] = (struct pollfd){-1, POLLIN, 0};
  if (pipe(wake) != 0)
    return 1;
  fds[0].fd = wake[0];
  for (int unit = 0; unit < unit_count; ++unit) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
    socklen_t len = sizeof a;
    /* On the listener, not only on each accepted connection: a command
     * comes with its connection, before the accept, and the kernel stamps
     * a segment only while some socket asks for stamps. Without it most
     * arrivals were this loop's own read, a wake-up of this process late. */
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        bind(fd, (struct sockaddr*)&a, len) != 0 || listen(fd, 64) != 0)
      return 1;
    getsockname(fd, (struct sockaddr*)&a, &len);
    fds[1 + unit].fd = fd;
    printf("%d\n", ntohs(a.sin_port));
    state_level[unit] = -1;
  }
  fflush(stdout);

  /* What this process stands for (the units, Home Assistant) is on other
   * machines, not on the box's cores: at idle priority it never preempts
   * the program measured or the broker, and costs the figures nothing, as
   * the arrivals are the kernel's stamps. Set before the MQTT thread starts,
   * which inherits it; the fade of vantrel that "pairs" runs goes back to
   * the normal policy. */
  const struct sched_param idle = {.sched_priority = 0};
  if (sched_setscheduler(0, SCHED_IDLE, &idle) != 0) {
    perror("mqtt_units: sched_setscheduler");
    return 1;
  }
  mosquitto_lib_init();
  struct mosquitto* m = mosquitto_new(NULL, 1, NULL);
  mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_callback_set(m, on_connect);
  mosquitto_message_callback_set(m, on_message);
  if (mosquitto_connect(m, "127.0.0.1", atoi(argv[1]), 60) != MOSQ_ERR_SUCCESS)
    return 1;
  mosquitto_loop_start(m);
  if (!serve_until(is_online, 20000)) {
    puts("broken: vantreld never came online");
    return 1;
  }

  char topic[64];
  char payload[64];
  int ok = 1;
  if (strcmp(scenario, "latency") == 0) {
    for (int i = 0; i < 200 && ok; ++i) {
      want_level = i % 2 ? 200 : 100;
      want_from = noted_count;
      snprintf(payload, sizeof payload, "{\"brightness\":%d}", want_level);
      const long long sent = now_ns();
      publish(m, "vantrel/unit/u0/set", payload);
      ok = serve_until(u0_framed_and_stated, 5000);
      for (int k = want_from; ok && k < noted_count; ++k)
        if (notes[k].unit == 0 && notes[k].level == want_level) {
          printf("latency %.1f\n", (notes[k].arrival_ns - sent) / 1000.0);
          break;
        }
    }
  } else if (strcmp(scenario, "burst") == 0) {
    want_level = 123;
    const long long sent = now_ns();
    for (int u = 0; u < unit_count; ++u) {
      snprintf(topic, sizeof topic, "vantrel/unit/u%d/set", u);
      publish(m, topic, "{\"brightness\":123}");
    }
    ok = serve_until(all_stated, 5000);
    if (ok)
      printf("burst %.1f\n", (now_ns() - sent) / 1000.0);
  } else if (strcmp(scenario, "fade") == 0) {
    want_level = 0;
    publish(m, "vantrel/group/every/set", "{\"state\":\"OFF\"}");
    ok = serve_until(all_stated, 5000);
    want_level = 200;
    want_from = noted_count;
    publish(m, "vantrel/group/every/set", "{\"brightness\":200,\"transition\":2}");
    ok = ok && serve_until(all_stated, 6000);
    long long zero = 0;
    for (int i = want_from; i < noted_count; ++i)
      if (zero == 0 || notes[i].arrival_ns < zero)
        zero = notes[i].arrival_ns;
    int k[kMaxUnits] = {0};
    for (int i = want_from; ok && i < noted_count; ++i)
      printf("fade %d %d %.1f\n", notes[i].unit, k[notes[i].unit]++, (notes[i].arrival_ns - zero) / 1000.0);
  } else if (strcmp(scenario, "pairs") == 0) {
    const char* fade = getenv("VANTREL_FADE");
    signal(SIGCHLD, on_child);
    for (int round = 0; ok && round < atoi(argv[4]); ++round) {
      int from = noted_count;
      child = fork();
      if (child == 0) {
        const struct sched_param normal = {.sched_priority = 0};
        if (sched_setscheduler(0, SCHED_OTHER, &normal) != 0)
          _exit(126);
        execl("/bin/sh", "sh", "-c", fade == NULL ? "false" : fade, (char*)NULL);
        _exit(127);
      }
      ok = child > 0 && serve_until(child_ended, 10000) && child == 0;
      print_round(round, "vantrel", from);
      serve_until(never, 500);
      want_level = 0;
      publish(m, "vantrel/group/every/set", "{\"state\":\"OFF\"}");
      ok = ok && serve_until(all_stated, 5000);
      serve_until(never, 500);
      want_level = 200;
      from = noted_count;
      publish(m, "vantrel/group/every/set", "{\"brightness\":200,\"transition\":2}");
      ok = ok && serve_until(all_stated, 6000);
      print_round(round, "vantreld", from);
      serve_until(never, 500);
    }
  } else if (strcmp(scenario, "first16") == 0) {
    want_level = 100;
    publish(m, "vantrel/group/every/set", "{\"brightness\":100}");
    ok = serve_until(all_stated, 10000);
    serve_until(never, 1500);
    want_level = 0;
    publish(m, "vantrel/group/first/set", "{\"state\":\"OFF\"}");
    ok = ok && serve_until(first_stated, 5000);
    serve_until(never, 500);
    want_level = 200;
    const int from = noted_count;
    publish(m, "vantrel/group/first/set", "{\"brightness\":200,\"transition\":2}");
    ok = ok && serve_until(first_stated, 6000);
    long long zero = 0;
    int others = 0;
    for (int i = from; i < noted_count; ++i) {
      others += notes[i].unit >= 16;
      if (notes[i].unit < 16 && (zero == 0 || notes[i].arrival_ns < zero))
        zero = notes[i].arrival_ns;
    }
    int k[kMaxUnits] = {0};
    for (int i = from; ok && i < noted_count; ++i)
      if (notes[i].unit < 16)
        printf("first16 %d %d %.1f\n", notes[i].unit, k[notes[i].unit]++, (notes[i].arrival_ns - zero) / 1000.0);
    printf("others %d\n", others);
  } else {
    serve_until(never, 12000);
    puts("idle");
  }
  puts(ok ? "done" : "broken: a command or a state did not come in time");
  fflush(stdout);
  mosquitto_disconnect(m);
  mosquitto_loop_stop(m, 0);
  return ok ? 0 : 1;
}
