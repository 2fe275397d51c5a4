#ifndef VANTREL_VANTREL_LISTING_HPP
#define VANTREL_VANTREL_LISTING_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "service_link/local_protocol.hpp"
#include "units/remembered_levels.hpp"
#include "units/saved_scenes.hpp"
#include "units/units_file.hpp"
#include "vantrel/listed_schedules.hpp"

/// `vantrel list`: the units, one a line, with where they are, their type and
/// their last confirmed level with its time, or "level -"; then the groups
/// with their members, and the scenes with their levels as written.
/// Through the service, `notKnown` holds what it said of each unit of
/// `file`: one whose level it does not know is "level ?", with the level
/// confirmed before and how long before `nowMs` (wall clock) as a hint,
/// "level ? (last 128, 2 days ago)". The `saved` scenes follow the written ones, each marked
/// "(saved)", with their units by the units file's names (the name saved, "(not in the file)",
/// for a unit it no longer has). Last, when there are any, the `schedules`, one a line: name,
/// on or off, next time, last firing.
std::string listing(const UnitsFile& file, const RememberedLevels& levels,
                    const std::vector<LocalNotKnown>& notKnown = {}, std::int64_t nowMs = 0,
                    const std::vector<SavedScene>& saved = {},
                    const std::vector<ListedSchedule>& schedules = {});

/// How long before `nowMs` `thenMs` was, in the largest whole unit:
/// "just now" (under a minute, or later than `nowMs`), "1 minute ago",
/// "5 minutes ago", "3 hours ago", "2 days ago".
std::string agoText(std::int64_t thenMs, std::int64_t nowMs);

#endif
