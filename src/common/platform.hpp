#ifndef VANTREL_COMMON_PLATFORM_HPP
#define VANTREL_COMMON_PLATFORM_HPP

#include <atomic>
#include <cstdint>
#include <cstdio>

/// What our own tools need of the platform beyond sockets: a clock, precise
/// waits, Ctrl+C, and whether a stream is a terminal. One file per platform.

/// Microseconds on a clock that only goes forward, from an arbitrary start.
std::int64_t monotonicUs();

/// Waits until monotonicUs() reaches `deadlineUs`, to well under a
/// millisecond (on Windows with a high-resolution timer, as the default
/// timer tick is 15.6 ms). Returns false early, within 50 ms, once `stop` is
/// true.
bool sleepUntil(std::int64_t deadlineUs, const std::atomic<bool>& stop);

/// Asks the platform to end this thread's waits as close to their time as
/// it can, rather than batching wake-ups to save power: for schedules kept
/// to a fraction of a millisecond.
void wakeOnTime();

/// How late a plain wait on sockets (poll, select) may end past its time-out
/// here: Windows ends it on its timer tick, so the last stretch before a due
/// time is left to sleepUntil(); Linux needs no such care.
std::int64_t plainWaitSlackUs();

/// From now on Ctrl+C (SIGINT; on Windows the console's Ctrl+C and
/// Ctrl+Break) sets the returned flag instead of ending the process. Waits
/// that are handed the flag look at it at least every 50 ms.
const std::atomic<bool>& catchInterrupts();

/// As catchInterrupts(), and a request to end the process sets the same flag
/// too: SIGTERM, and on Windows the closing of the console window. Windows
/// ends the process as soon as the handler of the close returns, or a few
/// seconds after the close at the latest, so that handler never returns: it
/// waits for main to finish, which must then be prompt.
const std::atomic<bool>& catchStopRequests();

/// What a thread can block on beside its sockets to learn that the flag of
/// catchStopRequests() turned true, rather than look at the flag on a
/// timer: on POSIX the read end of a pipe that turns readable then, and
/// stays so; on Windows a manual-reset event that is set then. Made at the
/// first call; ~0 when the platform would not make one.
std::uintptr_t stopHandle();

/// Sets the flag that catchStopRequests() returns, as a stop request from
/// outside would: for a program that has done its work, so that all its
/// threads wind down alike.
void requestStop();

/// Whether `stream` is a terminal (on Windows, a console).
bool isTerminal(std::FILE* stream);

/// Makes the terminal `stream` act on the ANSI sequences that move the
/// cursor, for lines redrawn in place. A Windows console does so only once
/// its virtual-terminal processing is on (Windows 10 and later). Returns
/// false when the terminal will not.
bool enableCursorMovement(std::FILE* stream);

#endif
