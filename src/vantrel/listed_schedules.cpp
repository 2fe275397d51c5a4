#include "vantrel/listed_schedules.hpp"

// vantreld, and with it the schedules and libnova, is Linux alone: the Windows build of
// vantrel lists none.
#ifndef _WIN32
#include "common/files.hpp"
#include "schedules/local_clock.hpp"
#include "schedules/schedule_record.hpp"
#include "schedules/schedule_times.hpp"
#endif

std::vector<ListedSchedule> listedSchedules(const UnitsFile& file, const std::string& levelsPath,
                                            std::int64_t nowMs, std::string& warning) {
  std::vector<ListedSchedule> listed;
#ifndef _WIN32
  const std::string recordPath = scheduleRecordPath(levelsPath);
  const ScheduleRecord record = recordPath.empty() || file.schedules.empty()
                                    ? ScheduleRecord()
                                    : readScheduleRecord(recordPath, warning);
  for (const Schedule& schedule : file.schedules) {
    const auto found = record.find(schedule.name);
    const ScheduleMemory memory = found != record.end() ? found->second : ScheduleMemory();
    ListedSchedule shown{schedule.name, memory.on ? "on" : "off", "next -", "never fired"};
    if (memory.on) {
      if (const std::optional<std::int64_t> next = nextDue(schedule, file.location, memory.lastFiredMs, nowMs))
        shown.next = "next " + weekdayTimeText(*next) + " (" + localTimeText(*next).substr(0, 10) + ")";
    }
    if (memory.lastFiredMs)
      shown.last = "last fired " + localTimeText(*memory.lastFiredMs);
    listed.push_back(shown);
  }
#else
  (void)file;
  (void)levelsPath;
  (void)nowMs;
  (void)warning;
#endif
  return listed;
}
