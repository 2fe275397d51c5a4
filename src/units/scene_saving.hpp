#ifndef VANTREL_UNITS_SCENE_SAVING_HPP
#define VANTREL_UNITS_SCENE_SAVING_HPP

#include <string>
#include <utility>
#include <vector>

#include "units/saved_scenes.hpp"
#include "units/units_file.hpp"

/// What saving, removing and recalling a saved scene decide, and their words, once for the tools
/// run direct and the service: each gives the levels it knows, and writes the file itself.

/// A save decided in two steps: the units chosen by the name and targets, then the levels known
/// of them, wherever those are known (the levels file, or the service's confirmed levels).
struct SceneSaving {
  enum class Refusal {
    None,
    BadName,        ///< the name breaks the one name rule: a usage error
    Written,        ///< the units file writes a scene of that name: FILE:LINE
    UnknownTarget,  ///< a unit or group named is not in the file: a usage error
    NothingKnown,   ///< no unit chosen has a known level: nothing is saved
  };
  Refusal refusal = Refusal::None;
  std::string problem;              ///< one line, when refused
  std::vector<SavedUnit> chosen;    ///< the units to save, in the file's order (levels not yet)
  SavedScene scene;                 ///< after keepKnown(): the units of known level
  std::vector<std::string> leftOut; ///< after keepKnown(): those of unknown level, by name
};

/// Refuses the save of `saving.scene.name` when the name breaks the one name rule or `file` writes
/// a scene of it ("FILE:LINE: scene 'NAME' is written in the units file: ..."); true when refused.
bool refuseSceneName(const UnitsFile& file, SceneSaving& saving);
/// Chooses the units of a save of scene `name`: `targets` names units and groups of `file`, none
/// for every unit. Refused for a bad name, a scene the file writes, or a target it lacks.
SceneSaving chooseSceneUnits(const UnitsFile& file, const std::string& name,
                             const std::vector<std::string>& targets);
/// Keeps the chosen units whose level is known, `levels` holding one for each of `chosen` (-1 when
/// not known); refused when none is.
void keepKnown(SceneSaving& saving, const std::vector<int>& levels);

/// "scene 'NAME': left out, level not known: a, b": what a save that left units out says
/// beside its result; empty when none was.
std::string leftOutLine(const SceneSaving& saving);
/// "Saved scene 'NAME': N units."
std::string savedLine(const std::string& name, std::size_t units);
/// "scene 'NAME' not saved: REASON", as saveScene()'s reason is said.
std::string notSavedLine(const std::string& name, const std::string& reason);

/// Why scene `name` cannot be removed from `saved`: "FILE:LINE: scene 'NAME' is written in the
/// units file: remove it there" (`written` true) or "no saved scene 'NAME'"; empty when it can.
std::string removalProblem(const UnitsFile& file, const SavedScenes& saved, const std::string& name,
                           bool& written);
/// "scene 'NAME' not removed: REASON", as removeScene()'s reason is said.
std::string notRemovedLine(const std::string& name, const std::string& reason);

/// The units of the saved `scene` that `file` still has, as (unit index, level) in the file's
/// order; `skipped` is the one line that names those it no longer has, or empty.
std::vector<std::pair<int, int>> savedSceneLevels(const UnitsFile& file, const SavedScene& scene,
                                                  std::string& skipped);

#endif
