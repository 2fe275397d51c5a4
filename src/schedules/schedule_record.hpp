#ifndef VANTREL_SCHEDULES_SCHEDULE_RECORD_HPP
#define VANTREL_SCHEDULES_SCHEDULE_RECORD_HPP

#include <cstdint>
#include <map>
#include <optional>
#include <string>

/// What the service remembers of a schedule across restarts.
struct ScheduleMemory {
  bool on = true;                          ///< switched on (the file's schedules start on)
  std::optional<std::int64_t> lastFiredMs; ///< the firing it last carried out, or none
};

/// By the schedule's name.
using ScheduleRecord = std::map<std::string, ScheduleMemory>;

/// Where it is kept beside the levels file `levelsPath`: "LEVELSPATH.schedules"; empty when
/// `levelsPath` is.
std::string scheduleRecordPath(const std::string& levelsPath);

/// The record at `path`, a line a schedule, "NAME on|off TIME" (TIME as utcTimeText() writes it,
/// or "-" for never); a missing file holds none. A damaged line is left out and sets `warning`,
/// "PATH:LINE: ...", as does a file that cannot be read ("PATH: cannot read: ...").
ScheduleRecord readScheduleRecord(const std::string& path, std::string& warning);

/// Writes `record` to `path` anew and renames it into place; false with `reason`, one line.
bool writeScheduleRecord(const std::string& path, const ScheduleRecord& record, std::string& reason);

#endif
