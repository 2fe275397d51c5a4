#include "light_json/submit_command.hpp"

#include <utility>

#include "light_json/command_readers.hpp"

bool submitJsonCommand(UnitsService& service, std::string from, UnitsService::Target target, int index,
                       std::string_view payload, std::int64_t defaultTransitionUs, std::string& problem) {
  UnitCommand command;
  std::int64_t transitionUs = -1;
  if (target == UnitsService::Target::Scene) {
    SceneCommand scene;
    if (!readSceneCommand(payload, scene, problem))
      return false;
    command.scene = index;
    transitionUs = scene.transitionUs;
  } else {
    if (!readLightCommand(payload, command.light, problem))
      return false;
    if (target == UnitsService::Target::Unit)
      command.units = {index};
    else
      command.group = index;
    transitionUs = command.light.transitionUs;
  }
  command.over(transitionUs >= 0 ? transitionUs : defaultTransitionUs);
  command.from = std::move(from);
  service.submit(std::move(command));
  return true;
}
