#ifndef VANTREL_VANTREL_LISTED_SCHEDULES_HPP
#define VANTREL_VANTREL_LISTED_SCHEDULES_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "units/units_file.hpp"

/// A schedule as `vantrel list` shows it, its times already words.
struct ListedSchedule {
  std::string name;
  std::string state;  ///< "on" or "off"
  std::string next;   ///< "next Fri 07:30 (2026-12-11)", or "next -" when off or never due
  std::string last;   ///< "last fired 2026-12-10 07:30:00", or "never fired"
};

/// The schedules of `file`, in file order, at `nowMs` (wall clock): each one's next time
/// computed as vantreld computes it (nextDue()) from what the record kept beside the levels
/// file `levelsPath` says of it; a record that cannot be read is told in `warning` and counts
/// as all on and never fired. None on Windows, which has no schedules.
std::vector<ListedSchedule> listedSchedules(const UnitsFile& file, const std::string& levelsPath,
                                            std::int64_t nowMs, std::string& warning);

#endif
