#include "light_json/submit_command.hpp"

#include "light_json/command_readers.hpp"

bool submitJsonCommand(UnitsService& service, CommandSource source, UnitsService::Target target, int index,
                       std::string_view payload, std::int64_t defaultTransitionUs, std::string& problem) {
  if (target == UnitsService::Target::Scene) {
    SceneCommand scene;
    if (!readSceneCommand(payload, scene, problem))
      return false;
    service.submitScene(index, scene.transitionUs >= 0 ? scene.transitionUs : defaultTransitionUs, source);
    return true;
  }
  LightCommand light;
  if (!readLightCommand(payload, light, problem))
    return false;
  const std::int64_t transitionUs = light.transitionUs >= 0 ? light.transitionUs : defaultTransitionUs;
  if (target == UnitsService::Target::Unit)
    service.submitUnit(index, light, transitionUs, source);
  else
    service.submitGroup(index, light, transitionUs, source);
  return true;
}
