#include "schedules/schedule_times.hpp"

#include <algorithm>

#include "schedules/sun_times.hpp"

namespace {

constexpr int kLongestSearchDays = 400;

std::vector<int> unitsOf(const UnitsFile& file, const Schedule& schedule, const SavedSceneUnits& saved) {
  std::vector<int> units;
  const auto& levels = schedule.scene >= 0 ? file.scenes[schedule.scene].levels : schedule.levels;
  for (const auto& [unit, level] : levels)
    units.push_back(unit);
  if (schedule.scene < 0 && !schedule.savedScene.empty() && saved)
    units = saved(schedule.savedScene);
  std::sort(units.begin(), units.end());
  units.erase(std::unique(units.begin(), units.end()), units.end());
  return units;
}

}  // namespace

std::optional<std::int64_t> firingOn(const Schedule& schedule, const Location& place, const LocalDate& date) {
  if ((schedule.days & (1u << weekdayOf(date))) == 0)
    return std::nullopt;
  if (schedule.at.kind == ScheduleTime::Kind::Clock)
    return localInstant(date, schedule.at.minute);
  const std::optional<std::int64_t> sun = sunTime(
      schedule.at.kind == ScheduleTime::Kind::Sunrise ? SunEvent::Rise : SunEvent::Set, place, date);
  if (!sun)
    return std::nullopt;
  std::int64_t at = *sun + schedule.at.offsetMs;
  if (schedule.notBefore >= 0)
    at = std::max(at, localInstant(date, schedule.notBefore));
  if (schedule.notAfter >= 0)
    at = std::min(at, localInstant(date, schedule.notAfter));
  return at;
}

std::optional<std::int64_t> nextFiring(const Schedule& schedule, const Location& place,
                                       std::int64_t afterMs) {
  // A day before too: an offset may put its firing past midnight.
  const std::int64_t first = dayNumber(localDateOf(afterMs)) - 1;
  for (std::int64_t day = first; day <= first + kLongestSearchDays; ++day) {
    const std::optional<std::int64_t> at = firingOn(schedule, place, dateOfDay(day));
    if (at && *at > afterMs)
      return at;
  }
  return std::nullopt;
}

std::optional<std::int64_t> latestFiring(const Schedule& schedule, const Location& place,
                                         std::int64_t fromMs, std::int64_t toMs) {
  if (toMs < fromMs)
    return std::nullopt;
  std::optional<std::int64_t> latest;
  const std::int64_t last = dayNumber(localDateOf(toMs)) + 1;
  const std::int64_t first = std::max(dayNumber(localDateOf(fromMs)) - 1, last - kLongestSearchDays);
  for (std::int64_t day = first; day <= last; ++day) {
    const std::optional<std::int64_t> at = firingOn(schedule, place, dateOfDay(day));
    if (at && *at >= fromMs && *at <= toMs && (!latest || *at > *latest))
      latest = at;
  }
  return latest;
}

std::optional<std::int64_t> nextDue(const Schedule& schedule, const Location& place,
                                    std::optional<std::int64_t> lastFiredMs, std::int64_t nowMs) {
  return nextFiring(schedule, place, lastFiredMs ? std::max(*lastFiredMs, nowMs) : nowMs);
}

std::vector<CatchUp> catchUp(const UnitsFile& file,
                             const std::vector<std::optional<std::int64_t>>& lastFiredMs,
                             std::int64_t nowMs, std::int64_t windowMs,
                             const SavedSceneUnits& savedSceneUnits,
                             const std::vector<bool>& switchedOn) {
  std::vector<CatchUp> missed;
  if (windowMs <= 0)
    return missed;
  // For each unit, the newest firing of any schedule that sets it, missed or carried out.
  struct Newest {
    std::int64_t atMs = 0;
    int schedule = -1;  // -1: none
  };
  std::vector<Newest> newest(file.units.size());
  std::vector<std::optional<std::int64_t>> missedAt(file.schedules.size());
  std::vector<std::vector<int>> units(file.schedules.size());
  for (std::size_t s = 0; s < file.schedules.size(); ++s) {
    if (s < switchedOn.size() && !switchedOn[s])
      continue;
    const std::optional<std::int64_t> last = s < lastFiredMs.size() ? lastFiredMs[s] : std::nullopt;
    std::int64_t from = nowMs - windowMs;
    if (last)
      from = std::max(from, *last + 1);
    missedAt[s] = latestFiring(file.schedules[s], file.location, from, nowMs);
    units[s] = unitsOf(file, file.schedules[s], savedSceneUnits);
    const std::optional<std::int64_t> at = missedAt[s] ? missedAt[s] : last;
    if (!at)
      continue;
    // Of two at once, the later in the file wins, as when both fire.
    for (const int unit : units[s])
      if (newest[unit].schedule < 0 || *at >= newest[unit].atMs)
        newest[unit] = {*at, static_cast<int>(s)};
  }
  for (std::size_t s = 0; s < file.schedules.size(); ++s) {
    if (!missedAt[s])
      continue;
    CatchUp late{static_cast<int>(s), *missedAt[s], {}, 0};
    for (const int unit : units[s])
      if (newest[unit].schedule == static_cast<int>(s))
        late.units.push_back(unit);
    if (late.units.empty() && !units[s].empty())
      continue;
    late.intoOverUs = std::min((nowMs - late.firedAtMs) * 1000, file.schedules[s].overUs);
    missed.push_back(std::move(late));
  }
  std::stable_sort(missed.begin(), missed.end(),
                   [](const CatchUp& a, const CatchUp& b) { return a.firedAtMs < b.firedAtMs; });
  return missed;
}
