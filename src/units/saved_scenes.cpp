#include "units/saved_scenes.hpp"

#include <algorithm>

#include "common/files.hpp"
#include "common/text_lines.hpp"
#include "common/whole_number.hpp"
#include "units/units_file.hpp"

namespace {

const char kVersionLine[] = "# vantrel saved scenes 1";
const char kVersionPrefix[] = "# vantrel saved scenes ";
const char kColumns[] = "# SCENE ADDRESS PORT TYPE LEVEL UNIT";

// The first field that is wrong, with what was expected there; empty when the line reads.
std::string readLine(const std::string& line, std::string& scene, SavedUnit& unit,
                     std::size_t& column) {
  const std::vector<TextField> field = fieldsOf(line);
  static const char* const expected[] = {
      "a scene name (a-z, 0-9, - and _)", "a unit's address", "a port from 1 to 65535",
      "type 1 or 2", "a level from 0 to 255", "the unit's name"};
  int port = 0;
  for (std::size_t i = 0; i < 6; ++i) {
    if (i >= field.size()) {
      column = line.size() + 1;
      return std::string("missing ") + expected[i];
    }
    const std::string& text = field[i].text;
    column = field[i].column;
    const bool good = i == 0   ? isValidName(text)
                      : i == 1 ? isValidAddress(text)
                      : i == 2 ? parseWholeNumber(text.c_str(), 1, 65535, port)
                      : i == 3 ? parseWholeNumber(text.c_str(), 1, 2, unit.key.type)
                      : i == 4 ? parseWholeNumber(text.c_str(), 0, 255, unit.level)
                               : isValidName(text);
    if (!good)
      return std::string("expected ") + expected[i] + ", not '" + text + "'";
  }
  if (field.size() > 6) {
    column = field[6].column;
    return "unexpected '" + field[6].text + "' after the unit's name";
  }
  scene = field[0].text;
  unit.key.address = field[1].text;
  unit.key.port = static_cast<std::uint16_t>(port);
  unit.name = field[5].text;
  return "";
}

bool failed(const FileError& error, std::string& reason) {
  reason = describeStep(error);
  return false;
}

// Reads, changes and writes the file as one step against every other writer, so that two tools
// saving at once each keep the other's scene.
template <typename Change>
bool changeFile(const std::string& path, std::string& reason, Change change) {
  if (path.empty()) {
    reason = "no file to keep them in: set VANTREL_STATE";
    return false;
  }
  FileError error;
  if (!createParentDirectories(path, error))
    return failed(error, reason);
  const FileLock lock(path + ".lock");
  if (!lock.held())
    return failed(lock.error(), reason);
  std::vector<std::string> damage;  // the reader has been told; the lines left out are dropped
  SavedScenes scenes = SavedScenes::read(path, damage);
  if (!scenes.writable()) {
    reason = (damage.empty() ? path : damage.front()) + "; it is left as it is";
    return false;
  }
  if (!change(scenes))
    return false;
  if (!replaceFile(path, path + ".tmp", scenes.text(), error))
    return failed(error, reason);
  return true;
}

}  // namespace

SavedScenes SavedScenes::read(const std::string& path, std::vector<std::string>& warnings) {
  SavedScenes scenes;
  std::string text;
  std::string warning;
  const ReadOutcome outcome = readKeptFile(path, text, warning);
  if (outcome != ReadOutcome::Read) {
    if (outcome == ReadOutcome::Failed) {
      warnings.push_back(warning);
      scenes.writable_ = false;  // what it holds is not known: never written over
    }
    return scenes;
  }
  forEachLine(text, [&](std::size_t number, const std::string& line) {
    const std::string where = path + ":" + std::to_string(number) + ":";
    if (number == 1 && line != kVersionLine) {
      const bool versioned = line.rfind(kVersionPrefix, 0) == 0;
      warnings.push_back(where + "1: " +
                         (versioned ? "saved scenes of another version ('" + line.substr(sizeof kVersionPrefix - 1) + "'), not 1"
                                    : std::string("not a saved scenes file: expected '") + kVersionLine + "'") +
                         "; no scene of it is read");
      scenes.scenes_.clear();
      scenes.writable_ = false;
      return false;
    }
    if (line.empty() || line[0] == '#')
      return true;
    std::string name;
    SavedUnit unit;
    std::size_t column = 1;
    std::string problem = readLine(line, name, unit, column);
    SavedScene* scene = nullptr;
    if (problem.empty()) {
      const auto found = std::find_if(scenes.scenes_.begin(), scenes.scenes_.end(),
                                      [&](const SavedScene& s) { return s.name == name; });
      if (found != scenes.scenes_.end())
        scene = &*found;
      else if (scenes.scenes_.size() >= kMaxSavedScenes)
        problem = "more than " + std::to_string(kMaxSavedScenes) + " saved scenes";
      else
        scene = &scenes.scenes_.emplace_back(SavedScene{name, {}});
    }
    if (scene != nullptr) {
      const auto same = std::find_if(scene->units.begin(), scene->units.end(),
                                     [&](const SavedUnit& u) { return u.key == unit.key; });
      if (same != scene->units.end())
        problem = "scene '" + name + "' holds this unit already";
      else if (scene->units.size() >= kMaxSavedSceneUnits)
        problem = "scene '" + name + "' holds more than " + std::to_string(kMaxSavedSceneUnits) +
                  " units";
      else
        scene->units.push_back(unit);
    }
    if (!problem.empty())
      warnings.push_back(where + std::to_string(column) + ": " + problem + "; the line is left out");
    return true;
  });
  return scenes;
}

const SavedScene* SavedScenes::find(const std::string& name) const {
  for (const SavedScene& scene : scenes_)
    if (scene.name == name)
      return &scene;
  return nullptr;
}

void SavedScenes::put(const SavedScene& scene) {
  for (SavedScene& known : scenes_) {
    if (known.name == scene.name) {
      known = scene;
      return;
    }
  }
  scenes_.push_back(scene);
}

bool SavedScenes::remove(const std::string& name) {
  const auto found = std::find_if(scenes_.begin(), scenes_.end(),
                                  [&](const SavedScene& s) { return s.name == name; });
  if (found == scenes_.end())
    return false;
  scenes_.erase(found);
  return true;
}

std::string SavedScenes::text() const {
  std::string text = std::string(kVersionLine) + "\n" + kColumns + "\n";
  for (const SavedScene& scene : scenes_)
    for (const SavedUnit& unit : scene.units)
      text += scene.name + " " + unit.key.address + " " + std::to_string(unit.key.port) + " " +
              std::to_string(unit.key.type) + " " + std::to_string(unit.level) + " " + unit.name +
              "\n";
  return text;
}

std::string savedScenesPath(const std::string& levelsPath) {
  return levelsPath.empty() ? "" : levelsPath + ".scenes";
}

std::string sceneNameProblem(const std::string& name) {
  if (isValidName(name))
    return "";
  return "invalid scene name '" + name + "': 1 to 32 of a-z, 0-9, - and _";
}

bool saveScene(const std::string& path, const SavedScene& scene, std::string& reason) {
  reason = sceneNameProblem(scene.name);
  if (!reason.empty())
    return false;
  if (scene.units.empty()) {
    reason = "scene '" + scene.name + "' has no unit to save";
    return false;
  }
  if (scene.units.size() > kMaxSavedSceneUnits) {
    reason = "scene '" + scene.name + "' has " + std::to_string(scene.units.size()) +
             " units; a saved scene holds at most " + std::to_string(kMaxSavedSceneUnits);
    return false;
  }
  return changeFile(path, reason, [&](SavedScenes& scenes) {
    if (scenes.find(scene.name) == nullptr && scenes.scenes().size() >= kMaxSavedScenes) {
      reason = "already " + std::to_string(kMaxSavedScenes) +
               " saved scenes, the most there can be: remove one first";
      return false;
    }
    scenes.put(scene);
    return true;
  });
}

bool removeScene(const std::string& path, const std::string& name, std::string& reason) {
  return changeFile(path, reason, [&](SavedScenes& scenes) {
    if (scenes.remove(name))
      return true;
    reason = "no saved scene '" + name + "'";
    return false;
  });
}
