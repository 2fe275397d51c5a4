#ifndef VANTREL_VANTRELD_STOP_SIGNALS_HPP
#define VANTREL_VANTRELD_STOP_SIGNALS_HPP

/// Holds SIGTERM, SIGINT and SIGHUP back from every thread started after this call,
/// so that waitForStopSignal() alone receives them. Call it before any thread.
void holdStopSignals();

/// Waits, without waking otherwise, until SIGTERM, SIGINT or SIGHUP arrives.
void waitForStopSignal();

#endif
