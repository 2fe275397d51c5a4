/* The machine's own floor under every fade figure: a bare loop of the
 * steps of a 2 s fade of 80 steps (a wake-up each 25 ms, on an absolute
 * schedule, as the engine waits), with no socket and no program of ours.
 * Whatever it is late by, a fade meets too; a round of the fade benches is
 * 81 such wake-ups, so one late wake-up in 81 makes one late step of all
 * its units.
 *
 * usage: sleep_floor SECONDS
 * Prints the wake-ups' lateness and how many blocks of 81 had one more
 * than 0.5 ms late. */

#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

enum { kStepNs = 25000000, kRound = 81 };

static int by_value(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(int argc, char** argv) {
  const int seconds = argc == 2 ? atoi(argv[1]) : 0;
  if (seconds <= 0) {
    fprintf(stderr, "usage: sleep_floor SECONDS\n");
    return 2;
  }
  const int count = seconds * (1000000000 / kStepNs);
  double* late = malloc((size_t)count * sizeof *late);
  if (late == NULL)
    return 1;
  struct timespec due;
  clock_gettime(CLOCK_MONOTONIC, &due);
  int over = 0, rounds_late = 0, round_has_late = 0;
  for (int i = 0; i < count; ++i) {
    due.tv_nsec += kStepNs;
    if (due.tv_nsec >= 1000000000) {
      due.tv_nsec -= 1000000000;
      ++due.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, NULL);
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    late[i] = (double)(now.tv_sec - due.tv_sec) * 1e3 + (double)(now.tv_nsec - due.tv_nsec) / 1e6;
    over += late[i] > 0.5;
    round_has_late |= late[i] > 0.5;
    if ((i + 1) % kRound == 0) {
      rounds_late += round_has_late;
      round_has_late = 0;
    }
  }
  qsort(late, (size_t)count, sizeof *late, by_value);
  printf("%d wake-ups each 25 ms: late p50 %.3f ms, p99 %.3f ms, p99.9 %.3f ms, max %.3f ms\n", count,
         late[count / 2], late[count * 99 / 100], late[count * 999 / 1000], late[count - 1]);
  printf("more than 0.5 ms late: %d (%.2f %%); blocks of %d with one: %d of %d\n", over,
         100.0 * over / count, kRound, rounds_late, count / kRound);
  free(late);
  return 0;
}
