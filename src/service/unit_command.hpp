#ifndef VANTREL_SERVICE_UNIT_COMMAND_HPP
#define VANTREL_SERVICE_UNIT_COMMAND_HPP

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/output_curve.hpp"
#include "engine/fade_engine.hpp"
#include "service/light_command.hpp"
#include "units/unit_key.hpp"

class FadeFollower;

/// A unit that a command names by its key, as the tools do: a unit of the
/// file, or one outside it.
struct KeyedUnit {
  UnitKey key;
  std::string name;  ///< for the service's own messages; "" for ADDRESS:PORT
  /// For a unit outside the file: its curve and what ON gives, as the
  /// tool's file says. A unit of the file keeps the file's.
  OutputCurve curve{};
  int onLevel = 255;
};

/// What every front end asks of the service, in one shape: its targets,
/// their levels, at once or as a fade, and who asked.
struct UnitCommand {
  /// A level of `levels` that is ON: the unit's last level above 0, or its
  /// on_level.
  static constexpr int kOn = -1;

  // The targets: exactly one of these is given.
  std::vector<int> units;        ///< units of the file, by index into UnitsFile::units
  int group = -1;                ///< a group of the file, by index
  int scene = -1;                ///< a scene of the file, by index: each unit to its level there
  std::vector<KeyedUnit> keyed;  ///< units by key, of the file or not
  /// A saved scene, by name: each of its units still in the file to its saved level, as the
  /// saved scenes are when the command is carried out.
  std::string savedScene;

  /// Each unit's level, in the order of `units` or `keyed` (0..255 or kOn);
  /// when empty, `light` gives every unit's.
  std::vector<int> levels;
  LightCommand light;
  /// At once (`fade` false) or a fade; `to` is each unit's level, and a
  /// `zeroUs` of 0 is when the service carries it out.
  FadePlan plan = atOnce();

  /// Who gave it, as "replaced by a newer command from ..." ends its words:
  /// "MQTT", "the control page".
  std::string from;
  /// More than 0: the command is one of a stream (a console's channel
  /// values, its own fade), so that each unit's end is told only once no
  /// newer level came for this long; each confirmed level before is a change.
  std::int64_t settleUs = 0;
  /// Hears this command alone, to each unit's end; null for none.
  std::shared_ptr<FadeFollower> follower;

  /// `transitionUs` 0: one command to each level; more: a fade over it from
  /// the confirmed level (straight to the level when it is not known).
  void over(std::int64_t transitionUs) {
    plan.fade = transitionUs > 0;
    plan.overUs = transitionUs;
  }

 private:
  static FadePlan atOnce() {
    FadePlan plan;
    plan.fade = false;
    return plan;
  }
};

#endif
