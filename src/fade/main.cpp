// vantrel-fade [OPTION]... ADDRESS PORT TYPE FROM TO: takes a Vantrel power
// unit from one level to another over time, one level command per
// connection, and confirms that the unit reached the last level.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/platform.hpp"
#include "common/progress_line.hpp"
#include "fade/options.hpp"
#include "fade/progress.hpp"
#include "fade/schedule.hpp"
#include "fade/verdicts.hpp"
#include "link/command_frame.hpp"
#include "link/level_command.hpp"
#include "link/tcp_session.hpp"

namespace {

/// Sends the commands of one fade and keeps the tally the user sees.
class Fade {
 public:
  Fade(const FadeOptions& options, const char* address, const std::atomic<bool>& stop,
       ProgressLine& progress)
      : options_(options), address_(address), stop_(stop), progress_(progress),
        timeoutMs_(static_cast<int>((options.timeoutUs + 999) / 1000)),
        startUs_(monotonicUs()) {}

  /// Tries the command for `level` up to `tries` times, 100 ms apart, and
  /// returns the last try's result; `beganUs` is when that try started.
  CommandResult send(int level, int tries, std::int64_t& beganUs) {
    const CommandFrame frame =
        buildCommandFrame(options_.unitType, static_cast<unsigned char>(level));
    for (int attempt = 1;; ++attempt) {
      beganUs = monotonicUs();
      const CommandResult result =
          sendLevelCommand(address_, options_.port, frame, timeoutMs_, stop_);
      lastExchangeUs_ = monotonicUs() - beganUs;
      if (result.failure == LinkFailure::Stopped)
        return result;
      ++sent_;
      if (result.confirmed())
        confirmedLevel_ = level;
      else
        ++failed_;
      if (options_.verbose) {
        progress_.clear();
        std::printf("%10.3f ms  level %3d  %s\n", (beganUs - startUs_) / 1000.0, level,
                    describeResult(result).c_str());
        std::fflush(stdout);
      }
      progress_.show(progressText(confirmedLevel_ < 0 ? options_.from : confirmedLevel_, sent_, failed_));
      if (result.confirmed() || attempt == tries ||
          !sleepUntil(monotonicUs() + kPauseAfterFailedTryUs, stop_))
        return result;
    }
  }

  /// The level the unit last confirmed, or -1 before it confirmed any.
  int confirmedLevel() const { return confirmedLevel_; }
  /// How long the last try took, from connect to close.
  std::int64_t lastExchangeUs() const { return lastExchangeUs_; }
  std::string tally() const { return commandTally(sent_, failed_); }
  double elapsedSeconds() const { return (monotonicUs() - startUs_) / 1e6; }

 private:
  const FadeOptions& options_;
  const char* address_;
  const std::atomic<bool>& stop_;
  ProgressLine& progress_;
  int timeoutMs_;
  std::int64_t startUs_;
  int sent_ = 0;
  int failed_ = 0;
  int confirmedLevel_ = -1;
  std::int64_t lastExchangeUs_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  FadeOptions options;
  std::string problem;
  switch (parseFadeArguments(argc, argv, options, problem)) {
    case FadeRequest::Help:
      std::fputs(fadeHelp().c_str(), stdout);
      return 0;
    case FadeRequest::Version:
      std::puts("vantrel-fade " VANTREL_VERSION);
      return 0;
    case FadeRequest::UsageError:
      std::fprintf(stderr, "vantrel-fade: %s\n%s", problem.c_str(), kFadeUsage);
      return 2;
    case FadeRequest::Fade:
      break;
  }

  // Several fades may run side by side: each line on standard error names
  // the unit it is about.
  const std::string unit = std::string(options.address) + ":" + std::to_string(options.port);
  auto report = [&unit](const std::string& text) {
    std::fprintf(stderr, "vantrel-fade: %s: %s\n", unit.c_str(), text.c_str());
  };

  const std::atomic<bool>& stop = catchInterrupts();
  char address[16];
  char why[128];
  if (!lookUpIPv4(options.address, address, why)) {
    report(lookUpFailed(options.to, why));
    return 1;
  }

  const FadeSchedule schedule(options.from, options.to, options.overUs, options.steps);
  ProgressLine progress(!options.quiet && isTerminal(stderr) ? stderr : nullptr);
  Fade fade(options, address, stop, progress);

  // Time 0 is when the confirmed try of the first command began, so that
  // retries of it do not eat into the fade.
  std::int64_t zeroUs = 0;
  CommandResult result = fade.send(schedule.level(0), options.tries, zeroUs);
  int command = 0;
  const bool started = result.confirmed();
  while (started && command < schedule.steps()) {
    const int next = schedule.next(command, monotonicUs() - zeroUs, fade.lastExchangeUs());
    if (!sleepUntil(zeroUs + schedule.dueUs(next), stop))
      break;
    // A failed command between the first and the last is passed over: the
    // next level supersedes it.
    const int tries = next == schedule.steps() ? options.tries : 1;
    std::int64_t beganUs;
    result = fade.send(schedule.level(next), tries, beganUs);
    command = next;
    if (stop.load())
      break;
  }
  progress.clear();

  if (command == schedule.steps() && result.confirmed()) {
    if (!options.quiet)
      std::printf("Level %d confirmed in %.3f s: %s\n", options.to, fade.elapsedSeconds(),
                  fade.tally().c_str());
    return 0;
  }
  if (stop.load()) {
    report(interrupted(fade.confirmedLevel()));
    return 130;
  }
  if (command == schedule.steps())
    report(lastNotConfirmed(options.to, options.tries, result));
  else
    report(notStarted(options.to, options.from, options.tries, result));
  return 1;
}
