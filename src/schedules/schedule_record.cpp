#include "schedules/schedule_record.hpp"

#include <vector>

#include "common/files.hpp"
#include "common/text_lines.hpp"
#include "units/units_file.hpp"
#include "units/utc_time.hpp"

std::string scheduleRecordPath(const std::string& levelsPath) {
  return levelsPath.empty() ? "" : levelsPath + ".schedules";
}

ScheduleRecord readScheduleRecord(const std::string& path, std::string& warning) {
  ScheduleRecord record;
  std::string text;
  if (readKeptFile(path, text, warning) != ReadOutcome::Read)
    return record;
  forEachLine(text, [&](std::size_t number, const std::string& line) {
    if (line.empty() || line[0] == '#')
      return true;
    const std::vector<TextField> fields = fieldsOf(line);
    ScheduleMemory memory;
    std::int64_t ms = 0;
    const bool good = fields.size() == 3 && isValidName(fields[0].text) &&
                      (fields[1].text == "on" || fields[1].text == "off") &&
                      (fields[2].text == "-" || parseUtcTime(fields[2].text, ms));
    if (!good) {
      warning = path + ":" + std::to_string(number) +
                ": damaged, expected NAME on|off TIME; that schedule counts as on and never fired";
      return true;
    }
    memory.on = fields[1].text == "on";
    if (fields[2].text != "-")
      memory.lastFiredMs = ms;
    record[fields[0].text] = memory;
    return true;
  });
  return record;
}

bool writeScheduleRecord(const std::string& path, const ScheduleRecord& record, std::string& reason) {
  if (path.empty()) {
    reason = "no file to keep the schedules' last firings in: set VANTREL_STATE";
    return false;
  }
  std::string text = "# vantreld's schedules: NAME on|off LAST-FIRED\n";
  for (const auto& [name, memory] : record)
    text += name + (memory.on ? " on " : " off ") +
            (memory.lastFiredMs ? utcTimeText(*memory.lastFiredMs) : std::string("-")) + "\n";
  FileError error;
  if (!createParentDirectories(path, error) || !replaceFile(path, path + ".tmp", text, error)) {
    reason = describeStep(error);
    return false;
  }
  return true;
}
