#include "vantreld/stop_signals.hpp"

#include <pthread.h>
#include <signal.h>

namespace {

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  // A closed terminal ends the service as a stop does, its levels written.
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void holdStopSignals() {
  const sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void waitForStopSignal() {
  const sigset_t set = stopSignals();
  int signal = 0;
  while (sigwait(&set, &signal) != 0) {
  }
}
