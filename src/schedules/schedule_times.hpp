#ifndef VANTREL_SCHEDULES_SCHEDULE_TIMES_HPP
#define VANTREL_SCHEDULES_SCHEDULE_TIMES_HPP

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "schedules/local_clock.hpp"
#include "units/units_file.hpp"

/// When schedules fire: pure functions of the file, the times passed in (UTC milliseconds) and
/// the local zone, with no clock of their own.

/// When `schedule` fires on the local date `date`: none on a day not in its days, or without
/// the sunrise or sunset it follows. A time of the sun is offset, then held within
/// not_before and not_after of that date.
std::optional<std::int64_t> firingOn(const Schedule& schedule, const Location& place, const LocalDate& date);

/// The first firing strictly after `afterMs` (looked for up to 400 days on, past a polar
/// night); none if there is none.
std::optional<std::int64_t> nextFiring(const Schedule& schedule, const Location& place, std::int64_t afterMs);

/// The latest firing within [fromMs, toMs]; none if there is none.
std::optional<std::int64_t> latestFiring(const Schedule& schedule, const Location& place,
                                         std::int64_t fromMs, std::int64_t toMs);

/// The first firing a schedule last fired at `lastFiredMs` (or never) is due at, the clock now at
/// `nowMs`: the next after both, so that a clock set back fires nothing twice.
std::optional<std::int64_t> nextDue(const Schedule& schedule, const Location& place,
                                    std::optional<std::int64_t> lastFiredMs, std::int64_t nowMs);

/// A missed firing to carry out late.
struct CatchUp {
  int schedule = 0;           ///< index into UnitsFile::schedules
  std::int64_t firedAtMs = 0; ///< when it should have fired
  std::vector<int> units;     ///< the units it still sets (indices into UnitsFile::units), in unit order
  std::int64_t intoOverUs = 0; ///< how far into its `over` it is now, at most `over`
};

/// The units a saved scene of that name sets, among the file's (its other units are not told
/// apart); empty when unknown.
using SavedSceneUnits = std::function<std::vector<int>(const std::string& name)>;

/// The firings missed within `windowMs` before `nowMs`: for each unit, the latest of all the
/// schedules that set it, when that is a missed one, and not one already fired (a firing at or
/// before a schedule's `lastFiredMs` is never missed). A schedule that sets no unit the file
/// knows of (a saved scene unknown) is caught up by itself. A schedule that `switchedOn` says
/// is off (when given) counts for nothing. In order of `firedAtMs`.
std::vector<CatchUp> catchUp(const UnitsFile& file,
                             const std::vector<std::optional<std::int64_t>>& lastFiredMs,
                             std::int64_t nowMs, std::int64_t windowMs,
                             const SavedSceneUnits& savedSceneUnits = {},
                             const std::vector<bool>& switchedOn = {});

#endif
