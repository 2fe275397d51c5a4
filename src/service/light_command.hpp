#ifndef VANTREL_SERVICE_LIGHT_COMMAND_HPP
#define VANTREL_SERVICE_LIGHT_COMMAND_HPP

#include <cstdint>

/// What a front end asks of a unit or a group: ON or OFF, a brightness, a
/// transition, as the JSON light command of MQTT and the page says them.
struct LightCommand {
  enum class Switch { None, On, Off };
  Switch state = Switch::None;
  int brightness = -1;            ///< 0..255, or -1 when not given
  std::int64_t transitionUs = -1; ///< 0..24 h, or -1 when not given
  /// More than 0: blink between 0 and the level for this long, every
  /// 500 ms, then go to the level the command gives (state or brightness),
  /// or back to the level before when it gives neither.
  std::int64_t flashUs = 0;

  /// The level a unit goes to: 0 for OFF, else the brightness when given,
  /// else onLevel() of the unit's `lastOn` and `on_level`.
  int level(int lastOn, int unitOnLevel) const;
};

#endif
