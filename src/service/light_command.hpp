#ifndef VANTREL_SERVICE_LIGHT_COMMAND_HPP
#define VANTREL_SERVICE_LIGHT_COMMAND_HPP

#include <cstdint>
#include <string>
#include <string_view>

/// What a front end asks of a unit or a group, as a JSON light command says
/// it: {"state": "ON"|"OFF", "brightness": 0..255, "transition": seconds}.
struct LightCommand {
  enum class Switch { None, On, Off };
  Switch state = Switch::None;
  int brightness = -1;            ///< 0..255, or -1 when not given
  std::int64_t transitionUs = -1; ///< 0..24 h, or -1 when not given

  /// The level a unit goes to: 0 for OFF, else the brightness when given,
  /// else onLevel() of the unit's `lastOn` and `on_level`.
  int level(int lastOn, int unitOnLevel) const;
};

/// A scene's command: "ON", an empty payload, or {"transition": seconds}.
struct SceneCommand {
  std::int64_t transitionUs = -1; ///< 0..24 h, or -1 when not given
};

/// Reads `payload` as a light command. Keys other than state, brightness and
/// transition are ignored. On failure returns false with `problem`, a few
/// words for the front end to put after the topic or in {"error": ...}.
bool readLightCommand(std::string_view payload, LightCommand& command, std::string& problem);

/// Reads `payload` as a scene command, as readLightCommand does.
bool readSceneCommand(std::string_view payload, SceneCommand& command, std::string& problem);

#endif
