#include "vantrel/run_report.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/platform.hpp"
#include "engine/verdicts.hpp"

RunReport::RunReport(std::vector<std::string> names, const Style& style,
                     std::vector<OutputCurve> curves)
    : names_(std::move(names)), style_(style), curves_(std::move(curves)),
      progress_(style.progress ? stderr : nullptr), confirmed_(names_.size(), -1),
      ended_(names_.size(), false) {
  for (const std::string& name : names_)
    nameWidth_ = std::max(nameWidth_, static_cast<int>(name.size()));
}

void RunReport::report(int unit, const std::string& text) {
  progress_.clear();
  std::fprintf(stderr, "vantrel: %s: %s\n", names_[static_cast<std::size_t>(unit)].c_str(),
               text.c_str());
}

void RunReport::failedToBegin(int unit, const std::string& why) {
  ended_[static_cast<std::size_t>(unit)] = true;
  ++done_;
  ++failedUnits_;
  report(unit, why);
}

void RunReport::serviceWentAway() {
  for (std::size_t unit = 0; unit < names_.size(); ++unit) {
    if (ended_[unit])
      continue;
    ended_[unit] = true;
    ++done_;
    ++failedUnits_;
    report(static_cast<int>(unit), ::serviceWentAway(confirmed_[unit]));
  }
}

void RunReport::showProgress() {
  char time[64];
  const double elapsed = (monotonicUs() - zeroUs_) / 1e6;
  if (style_.overUs < 0)
    std::snprintf(time, sizeof time, "%.1f s", elapsed);
  else
    std::snprintf(time, sizeof time, "%.1f s of %g s", elapsed, style_.overUs / 1e6);
  progress_.show(std::to_string(done_) + " of " + counted(static_cast<int>(names_.size()), "unit", "units") +
                 " done, " + time + ", " + commandTally(sent_, failed_));
}

void RunReport::commandEnded(int unit, int level, const CommandResult& result,
                             std::int64_t beganUs) {
  ++sent_;
  if (result.confirmed())
    confirmed_[static_cast<std::size_t>(unit)] = level;
  else
    ++failed_;
  if (style_.verbose) {
    progress_.clear();
    const auto index = static_cast<std::size_t>(unit);
    char sent[16] = "";
    if (index < curves_.size() && !curves_[index].identity())
      std::snprintf(sent, sizeof sent, " (sent %3d)", curves_[index].byte(level));
    std::printf("%10.3f ms  %-*s  level %3d%s  %s\n", (beganUs - zeroUs_) / 1000.0, nameWidth_,
                names_[index].c_str(), level, sent, describeResult(result).c_str());
    std::fflush(stdout);
  }
  showProgress();
}

void RunReport::fadeEnded(int unit, const FadeEnd& end) {
  ended_[static_cast<std::size_t>(unit)] = true;
  ++done_;
  switch (end.how) {
    case FadeEnd::How::Confirmed:
      break;
    case FadeEnd::How::NotStarted:
    case FadeEnd::How::NotConfirmed:
      ++failedUnits_;
      report(unit, failureVerdict(end));
      break;
    case FadeEnd::How::Replaced:
      // Another front end of the service took the unit over.
      if (!end.replacedBy.empty()) {
        ++failedUnits_;
        report(unit, failureVerdict(end));
        break;
      }
      [[fallthrough]];
    case FadeEnd::How::Stopped:
      ++failedUnits_;
      report(unit, interrupted(end.confirmed.level));
      break;
  }
  showProgress();
}

int RunReport::finish(bool stopped) {
  progress_.clear();
  const bool all = failedUnits_ == 0 && !stopped;
  if (!style_.quiet)
    std::printf("%s%s confirmed in %.3f s: %s\n",
                all ? "All " : (std::to_string(done_ - failedUnits_) + " of ").c_str(),
                counted(static_cast<int>(names_.size()), "unit", "units").c_str(),
                (monotonicUs() - zeroUs_) / 1e6, commandTally(sent_, failed_).c_str());
  if (stopped)
    return 130;
  return all ? 0 : 1;
}
