#include "units/scene_saving.hpp"

#include <algorithm>
#include <set>

namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names)
    text += (text.empty() ? "" : ", ") + name;
  return text;
}

// Where a saved scene would take the name of one the units file writes, in the compiler's form.
std::string writtenSceneAt(const UnitsFile& file, const std::string& name) {
  const int scene = file.findScene(name);
  if (scene < 0)
    return "";
  return file.path + ":" + std::to_string(file.scenes[static_cast<std::size_t>(scene)].line) +
         ": scene '" + name + "' is written in the units file";
}

}  // namespace

bool refuseSceneName(const UnitsFile& file, SceneSaving& saving) {
  const std::string& name = saving.scene.name;
  saving.problem = sceneNameProblem(name);
  if (!saving.problem.empty()) {
    saving.refusal = SceneSaving::Refusal::BadName;
    return true;
  }
  const std::string written = writtenSceneAt(file, name);
  if (!written.empty()) {
    saving.refusal = SceneSaving::Refusal::Written;
    saving.problem = written + ": a saved scene takes another name";
    return true;
  }
  return false;
}

SceneSaving chooseSceneUnits(const UnitsFile& file, const std::string& name,
                             const std::vector<std::string>& targets) {
  SceneSaving saving;
  saving.scene.name = name;
  if (refuseSceneName(file, saving))
    return saving;
  std::vector<int> units;
  for (const std::string& target : targets) {
    if (!file.addTarget(target, units)) {
      saving.refusal = SceneSaving::Refusal::UnknownTarget;
      saving.problem = "unknown unit or group '" + target + "'";
      return saving;
    }
  }
  if (targets.empty()) {
    for (std::size_t unit = 0; unit < file.units.size(); ++unit)
      units.push_back(static_cast<int>(unit));
  }
  for (const int index : units) {
    const Unit& unit = file.units[static_cast<std::size_t>(index)];
    saving.chosen.push_back({unit.key(), unit.name, -1});
  }
  return saving;
}

void keepKnown(SceneSaving& saving, const std::vector<int>& levels) {
  saving.scene.units.clear();
  saving.leftOut.clear();
  std::set<UnitKey> seen;
  for (std::size_t i = 0; i < saving.chosen.size(); ++i) {
    const int level = i < levels.size() ? levels[i] : -1;
    // A unit named twice (by a client of the socket) counts once.
    if (!seen.insert(saving.chosen[i].key).second)
      continue;
    if (level < 0 || level > 255)
      saving.leftOut.push_back(saving.chosen[i].name);
    else
      saving.scene.units.push_back({saving.chosen[i].key, saving.chosen[i].name, level});
  }
  if (saving.scene.units.empty()) {
    saving.refusal = SceneSaving::Refusal::NothingKnown;
    saving.problem = notSavedLine(saving.scene.name,
                                  "no unit's level is known: " + joined(saving.leftOut));
  }
}

std::string leftOutLine(const SceneSaving& saving) {
  if (saving.leftOut.empty())
    return "";
  return "scene '" + saving.scene.name + "': left out, level not known: " + joined(saving.leftOut);
}

std::string savedLine(const std::string& name, std::size_t units) {
  return "Saved scene '" + name + "': " + std::to_string(units) + " unit" + (units == 1 ? "" : "s") +
         ".";
}

std::string notSavedLine(const std::string& name, const std::string& reason) {
  return "scene '" + name + "' not saved: " + reason;
}

std::string removalProblem(const UnitsFile& file, const SavedScenes& saved, const std::string& name,
                           bool& written) {
  const std::string at = writtenSceneAt(file, name);
  written = !at.empty();
  if (written)
    return at + ": remove it there";
  if (saved.find(name) == nullptr)
    return "no saved scene '" + name + "'";
  return "";
}

std::string notRemovedLine(const std::string& name, const std::string& reason) {
  return "scene '" + name + "' not removed: " + reason;
}

std::vector<std::pair<int, int>> savedSceneLevels(const UnitsFile& file, const SavedScene& scene,
                                                  std::string& skipped) {
  std::vector<std::pair<int, int>> levels;
  std::vector<std::string> gone;
  for (const SavedUnit& saved : scene.units) {
    const auto unit = std::find_if(file.units.begin(), file.units.end(),
                                   [&](const Unit& u) { return u.key() == saved.key; });
    if (unit == file.units.end())
      gone.push_back(saved.name);
    else
      levels.push_back({static_cast<int>(unit - file.units.begin()), saved.level});
  }
  std::sort(levels.begin(), levels.end());
  skipped = gone.empty() ? ""
                         : "scene '" + scene.name + "': skipped, no longer in the units file: " +
                               joined(gone);
  return levels;
}
