#include "vantrel/listing.hpp"

#include <algorithm>

#include "common/files.hpp"

namespace {

std::string padded(const std::string& text, std::size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

template <typename Entries>
std::size_t widest(const Entries& entries) {
  std::size_t width = 0;
  for (const auto& entry : entries)
    width = std::max(width, entry.name.size());
  return width;
}

}  // namespace

std::string agoText(std::int64_t thenMs, std::int64_t nowMs) {
  const std::int64_t minutes = (nowMs - thenMs) / 60000;
  if (minutes < 1)
    return "just now";
  const auto ago = [](std::int64_t count, const char* unit) {
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s") + " ago";
  };
  if (minutes < 60)
    return ago(minutes, "minute");
  if (minutes < 24 * 60)
    return ago(minutes / 60, "hour");
  return ago(minutes / (24 * 60), "day");
}

std::string listing(const UnitsFile& file, const RememberedLevels& levels,
                    const std::vector<LocalNotKnown>& notKnown, std::int64_t nowMs,
                    const std::vector<SavedScene>& saved,
                    const std::vector<ListedSchedule>& schedules) {
  std::string text = "units:\n";
  std::size_t placeWidth = 0;
  for (const Unit& unit : file.units)
    placeWidth = std::max(placeWidth, unit.address.size() + 1 + std::to_string(unit.port).size());
  const std::size_t unitWidth = widest(file.units);
  for (std::size_t index = 0; index < file.units.size(); ++index) {
    const Unit& unit = file.units[index];
    const RememberedLevel level = levels.find(unit.key());
    text += "  " + padded(unit.name, unitWidth) + "  " +
            padded(unit.address + ":" + std::to_string(unit.port), placeWidth) + "  type " +
            std::to_string(unit.type) + "  level ";
    // The service drives it and does not know its level: what it confirmed
    // before is a hint, never a level, and the time is how long ago.
    if (index < notKnown.size() && notKnown[index].notKnown) {
      const LocalNotKnown& hint = notKnown[index];
      text += "?";
      if (hint.level >= 0)
        text += " (last " + std::to_string(hint.level) + ", " + agoText(hint.atMs, nowMs) + ")";
      text += "\n";
      continue;
    }
    // As people write levels in scenes; the byte as it was sent, whatever
    // the file says now.
    const int percent = (level.level * 100 + 127) / 255;
    const int sent = level.byte();
    const bool shaped = !unit.curve.identity() || sent != level.level;
    text += level.level < 0 ? "-"
                            : std::to_string(level.level) +
                                  (shaped ? " (sent " + std::to_string(sent) + ")" : "") + " (" +
                                  std::to_string(percent) + "%) at " +
                                  localTimeText(level.confirmedMs);
    text += "\n";
  }
  if (!file.groups.empty()) {
    text += "groups:\n";
    const std::size_t width = widest(file.groups);
    for (const Group& group : file.groups) {
      text += "  " + padded(group.name, width) + " ";
      for (int member : group.members)
        text += " " + file.units[static_cast<std::size_t>(member)].name;
      text += "\n";
    }
  }
  if (!file.scenes.empty() || !saved.empty()) {
    text += "scenes:\n";
    const char kSaved[] = " (saved)";
    std::size_t width = widest(file.scenes);
    for (const SavedScene& scene : saved)
      width = std::max(width, scene.name.size() + sizeof kSaved - 1);
    for (const Scene& scene : file.scenes) {
      text += "  " + padded(scene.name, width) + " ";
      for (std::size_t i = 0; i < scene.settings.size(); ++i)
        text += (i == 0 ? " " : ", ") + scene.settings[i].target + " " + scene.settings[i].written;
      text += "\n";
    }
    for (const SavedScene& scene : saved) {
      text += "  " + padded(scene.name + kSaved, width) + " ";
      for (std::size_t i = 0; i < scene.units.size(); ++i) {
        const SavedUnit& unit = scene.units[i];
        const auto found = std::find_if(file.units.begin(), file.units.end(),
                                        [&](const Unit& u) { return u.key() == unit.key; });
        text += (i == 0 ? " " : ", ") +
                (found != file.units.end() ? found->name : unit.name + " (not in the file)") +
                " " + std::to_string(unit.level);
      }
      text += "\n";
    }
  }
  if (!schedules.empty()) {
    text += "schedules:\n";
    const std::size_t width = widest(schedules);
    std::size_t nextWidth = 0;
    for (const ListedSchedule& schedule : schedules)
      nextWidth = std::max(nextWidth, schedule.next.size());
    for (const ListedSchedule& schedule : schedules)
      text += "  " + padded(schedule.name, width) + "  " + padded(schedule.state, 3) + "  " +
              padded(schedule.next, nextWidth) + "  " + schedule.last + "\n";
  }
  return text;
}
