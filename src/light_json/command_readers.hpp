#ifndef VANTREL_LIGHT_JSON_COMMAND_READERS_HPP
#define VANTREL_LIGHT_JSON_COMMAND_READERS_HPP

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/light_command.hpp"

/// A scene's command: "ON", an empty payload, or {"transition": seconds}.
struct SceneCommand {
  std::int64_t transitionUs = -1; ///< 0..24 h, or -1 when not given
};

/// A request about saved scenes: {"save": "NAME"}, {"save": "NAME", "units": ["a", "group1"]} or
/// {"remove": "NAME"}.
struct SavedSceneRequest {
  bool remove = false;
  std::string name;
  std::vector<std::string> units;  ///< units and groups of the file; none: every unit
};

/// Reads `payload` as a saved scenes request; any other key, or both save and remove, is refused
/// with `problem`, as readLightCommand() words it.
bool readSavedSceneRequest(std::string_view payload, SavedSceneRequest& request, std::string& problem);

/// Reads `payload` as a light command: {"state": "ON"|"OFF", "brightness":
/// 0..255, "transition": seconds, "flash": whole seconds 1..60}; a flash
/// needs neither state nor brightness. Keys other than these are ignored. On
/// failure returns false with `problem`, a few words for the front end to
/// put after the topic or in {"error": ...}.
bool readLightCommand(std::string_view payload, LightCommand& command, std::string& problem);

/// Reads `payload` as a scene command, as readLightCommand does.
bool readSceneCommand(std::string_view payload, SceneCommand& command, std::string& problem);

#endif
