#ifndef VANTREL_UNITS_SAVED_SCENES_HPP
#define VANTREL_UNITS_SAVED_SCENES_HPP

#include <cstddef>
#include <string>
#include <vector>

#include "units/unit_key.hpp"

/// Scenes saved from the levels their units last confirmed, kept beside the levels file (its path
/// with ".scenes" added) and shared, as it is, by every tool and the service. A text file: a line
/// naming the version, a comment naming the columns, then one line per unit of each scene:
///
///     # vantrel saved scenes 1
///     # SCENE ADDRESS PORT TYPE LEVEL UNIT
///     evening 192.168.0.20 4001 1 204 shelf-left
///
/// A unit is its key, as in the levels file, so that a scene survives the units file being edited;
/// UNIT is the name it had when saved, for people reading the file. LEVEL is 0..255 as people give
/// it (what the unit's curve sends is the units file's business at recall).

/// At most this many saved scenes...
constexpr std::size_t kMaxSavedScenes = 250;
/// ...of at most this many units each.
constexpr std::size_t kMaxSavedSceneUnits = 1024;

struct SavedUnit {
  UnitKey key;
  std::string name;  ///< the unit's name when saved
  int level = 0;     ///< 0..255
};

struct SavedScene {
  std::string name;
  std::vector<SavedUnit> units;  ///< each key once, in the order saved
};

class SavedScenes {
 public:
  /// The scenes in the file at `path`; a missing file holds none. Each damaged line is left out
  /// and adds one warning, "PATH:LINE:COLUMN: ..."; an unreadable file, or one of another version,
  /// holds none and adds one warning ("PATH: ..." or "PATH:1:1: ...").
  static SavedScenes read(const std::string& path, std::vector<std::string>& warnings);
  /// The scene `name`, or null.
  const SavedScene* find(const std::string& name) const;
  const std::vector<SavedScene>& scenes() const { return scenes_; }
  /// False when the file was of a version this program does not know: writing it would lose it.
  bool writable() const { return writable_; }

  /// Adds `scene`, or replaces the one of its name.
  void put(const SavedScene& scene);
  /// Removes the scene `name`; false when there is none.
  bool remove(const std::string& name);
  /// The file's text, as read() reads it back.
  std::string text() const;

 private:
  std::vector<SavedScene> scenes_;
  bool writable_ = true;
};

/// Where the scenes are kept beside the levels file `levelsPath`: "LEVELSPATH.scenes"; empty when
/// `levelsPath` is.
std::string savedScenesPath(const std::string& levelsPath);

/// Why `name` cannot name a saved scene (isValidName()), one line; empty when it can.
std::string sceneNameProblem(const std::string& name);

/// Saves `scene` in the file at `path` under its lock (PATH.lock), replacing the one of its name,
/// then writes the file anew and renames it into place: the scenes before are kept whatever happens
/// meanwhile. Creates the file's directory when needed. False with `reason`, one line, when the
/// scene has no unit or too many, the store is full, or the file cannot be written ("cannot write
/// PATH.tmp: No space left on device").
bool saveScene(const std::string& path, const SavedScene& scene, std::string& reason);

/// Removes the scene `name` from the file at `path` as saveScene() writes it. False with `reason`
/// when there is no such scene or the file cannot be written.
bool removeScene(const std::string& path, const std::string& name, std::string& reason);

#endif
