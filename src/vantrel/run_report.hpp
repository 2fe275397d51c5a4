#ifndef VANTREL_VANTREL_RUN_REPORT_HPP
#define VANTREL_VANTREL_RUN_REPORT_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "common/output_curve.hpp"
#include "common/progress_line.hpp"
#include "engine/fade_engine.hpp"

/// What a run of vantrel tells its user while the units fade and at the
/// end; the engine keeps the levels the units confirmed. Units are known
/// by their index in the run, which is the engine's.
class RunReport : public EngineListener {
 public:
  struct Style {
    bool verbose = false;
    bool quiet = false;
    bool progress = false;  ///< redraw a progress line on standard error
    std::int64_t overUs = -1;  ///< the fade's length, for the progress line; -1: no fade
  };

  /// `curves`, one per unit when given: --verbose names the byte of each
  /// command to a unit whose curve is not the identity.
  RunReport(std::vector<std::string> names, const Style& style,
            std::vector<OutputCurve> curves = {});

  /// Time 0 of the run on monotonicUs(): the moment its first commands go.
  void start(std::int64_t zeroUs) { zeroUs_ = zeroUs; }

  /// A warning about a unit, on standard error whatever the style.
  void warn(int unit, const std::string& text) { report(unit, text); }
  /// A unit that could not even begin, and why.
  void failedToBegin(int unit, const std::string& why);
  /// The service that ran the units went away: each unit whose end has not
  /// come is named, with the last level it confirmed in this run.
  void serviceWentAway();

  void commandEnded(int unit, int level, const CommandResult& result,
                    std::int64_t beganUs) override;
  void fadeEnded(int unit, const FadeEnd& end) override;

  /// Says how the run ended and returns the exit status: 0 when every unit
  /// confirmed its level, 130 when stopped, else 1.
  int finish(bool stopped);

 private:
  void report(int unit, const std::string& text);
  void showProgress();

  std::vector<std::string> names_;
  Style style_;
  std::vector<OutputCurve> curves_;
  std::int64_t zeroUs_ = 0;
  int nameWidth_ = 0;
  ProgressLine progress_;
  std::vector<int> confirmed_;  ///< per unit, in this run; -1: none
  std::vector<bool> ended_;
  int done_ = 0;
  int failedUnits_ = 0;
  int sent_ = 0;
  int failed_ = 0;
};

#endif
