// vantrel-fade [OPTION]... ADDRESS PORT TYPE FROM TO: takes a Vantrel power
// unit from one level to another over time, one level command per
// connection, and confirms that the unit reached the last level.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/platform.hpp"
#include "common/progress_line.hpp"
#include "engine/fade_engine.hpp"
#include "fade/options.hpp"
#include "fade/progress.hpp"
#include "engine/verdicts.hpp"
#include "service_link/service_client.hpp"
#include "units/remembered_levels.hpp"

namespace {

/// What the user sees of the fade while the engine runs it, and the tally
/// and the end it ends with; the engine keeps what the unit confirmed.
class FadeReport : public EngineListener {
 public:
  FadeReport(const FadeOptions& options, ProgressLine& progress)
      : options_(options), progress_(progress), startUs_(monotonicUs()), shownLevel_(options.from) {}

  void commandEnded(int, int level, const CommandResult& result, std::int64_t beganUs) override {
    ++sent_;
    if (result.confirmed())
      shownLevel_ = confirmedLevel_ = level;
    else
      ++failed_;
    if (options_.verbose) {
      progress_.clear();
      std::printf("%10.3f ms  level %3d  %s\n", (beganUs - startUs_) / 1000.0, level,
                  describeResult(result).c_str());
      std::fflush(stdout);
    }
    if (progress_.drawn())
      progress_.show(progressText(shownLevel_, sent_, failed_));
  }

  void fadeEnded(int, const FadeEnd& end) override { end_ = end; }

  /// How the fade ended.
  const FadeEnd& end() const { return end_; }
  std::string tally() const { return commandTally(sent_, failed_); }
  /// The level the unit confirmed last in this fade, -1 before any.
  int confirmedLevel() const { return confirmedLevel_; }
  double elapsedSeconds() const { return (monotonicUs() - startUs_) / 1e6; }

 private:
  const FadeOptions& options_;
  ProgressLine& progress_;
  std::int64_t startUs_;
  int sent_ = 0;
  int failed_ = 0;
  int shownLevel_;  ///< the level confirmed last, FROM before any
  int confirmedLevel_ = -1;
  FadeEnd end_;
};

FadePlan planFor(const FadeOptions& options) {
  FadePlan plan;
  plan.to = options.to;
  plan.from = options.from;
  plan.overUs = options.overUs;
  plan.steps = options.steps;
  plan.zeroUs = monotonicUs();
  plan.zero = FadePlan::Zero::FirstConfirmed;
  return plan;
}

LocalFade requestFor(const FadeOptions& options, const FadePlan& plan) {
  LocalFade fade;
  fade.units.push_back({{options.address, options.port, options.unitType}, "", plan.to});
  fade.fade = plan.fade;
  fade.from = plan.from;
  fade.overUs = plan.overUs;
  fade.steps = plan.steps;
  fade.zeroUs = plan.zeroUs;
  fade.zeroAtFirstConfirmed = plan.zero == FadePlan::Zero::FirstConfirmed;
  fade.timeoutUs = options.timeoutUs;
  fade.tries = options.tries;
  fade.wait = !options.noWait;
  // Its levels are bytes: a unit that the service's file gives a curve
  // gets them as they are.
  fade.bytes = true;
  return fade;
}

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

  // While vantreld runs it owns the unit: the fade goes through it.
  ServiceClient service("vantrel-fade");
  const ServiceClient::Reach reach =
      options.direct ? ServiceClient::Reach::Direct : service.reach(problem);
  if (reach == ServiceClient::Reach::Refused) {
    std::fprintf(stderr, "vantrel-fade: %s\n", problem.c_str());
    return 1;
  }
  const bool through = reach == ServiceClient::Reach::Service;
  if (options.noWait && !through) {
    std::fprintf(stderr, "vantrel-fade: %s\n%s", kNoWaitWithoutService, kFadeUsage);
    return 2;
  }
  if (through && options.verbose)
    std::fprintf(stderr, "vantrel-fade: through vantreld at %s\n", service.path().c_str());

  const std::atomic<bool>& stop = catchInterrupts();
  ProgressLine progress(!options.quiet && isTerminal(stderr) ? stderr : nullptr);
  FadeReport fade(options, progress);
  FadeEngine engine(options.timeoutUs, options.tries, fade);
  const int unitIndex = engine.addUnit({options.address, options.port, options.unitType});
  if (through) {
    std::vector<int> known;
    const bool taken = service.submit(requestFor(options, planFor(options)), known, problem);
    if (taken && options.noWait)
      return 0;
    if (!taken) {
      std::fprintf(stderr, "vantrel-fade: %s: %s\n", service.path().c_str(), problem.c_str());
      return 1;
    }
    if (!service.follow(1, fade, stop, problem)) {
      progress.clear();
      std::fprintf(stderr, "vantrel-fade: %s: %s\n", service.path().c_str(), problem.c_str());
      report(serviceWentAway(fade.confirmedLevel()));
      return 1;
    }
  } else {
    engine.startFade(unitIndex, planFor(options));
    engine.run(stop);
  }
  progress.clear();

  int status = 1;
  const FadeEnd& end = fade.end();
  if (end.how == FadeEnd::How::Confirmed) {
    status = 0;
    if (!options.quiet)
      std::printf("Level %d confirmed in %.3f s: %s\n", options.to, fade.elapsedSeconds(),
                  fade.tally().c_str());
  } else if (stop.load()) {
    status = 130;
    report(interrupted(fade.confirmedLevel()));
  } else {
    report(failureVerdict(end));
  }
  // Where the unit was left, for vantrel list and vantrel --over; the
  // service remembers what it drove itself.
  const ConfirmedLevel& confirmed = engine.confirmed(unitIndex);
  if (!through)
    rememberOrWarn("vantrel-fade", levelsFilePath(),
                 {{{options.address, options.port, options.unitType},
                   {confirmed.level, confirmed.atMs, confirmed.lastOn}}});
  return status;
}
