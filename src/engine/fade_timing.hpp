#ifndef VANTREL_ENGINE_FADE_TIMING_HPP
#define VANTREL_ENGINE_FADE_TIMING_HPP

#include <cstdint>

/// What shapes a fade, with the defaults every tool and the service use.
struct FadeTiming {
  std::int64_t overUs = 1000000;
  int steps = 0;  ///< 1..255, or 0 for the default (FadeSchedule)
  /// For one command: connect, send and reply.
  std::int64_t timeoutUs = 1000000;
  /// How often the first and the last command of a fade are tried; the
  /// ones between are tried once, as a later one soon follows them.
  int tries = 3;
};

#endif
