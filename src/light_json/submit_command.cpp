#include "light_json/submit_command.hpp"

#include <utility>

namespace {

// The target of `command` given, the rest from `payload`.
bool submitWith(UnitsService& service, UnitCommand command, bool scene, std::string from,
                std::string_view payload, std::int64_t defaultTransitionUs, std::string& problem) {
  std::int64_t transitionUs = -1;
  if (scene) {
    SceneCommand read;
    if (!readSceneCommand(payload, read, problem))
      return false;
    transitionUs = read.transitionUs;
  } else {
    if (!readLightCommand(payload, command.light, problem))
      return false;
    transitionUs = command.light.transitionUs;
  }
  command.over(transitionUs >= 0 ? transitionUs : defaultTransitionUs);
  command.from = std::move(from);
  service.submit(std::move(command));
  return true;
}

}  // namespace

bool submitJsonCommand(UnitsService& service, std::string from, UnitsService::Target target, int index,
                       std::string_view payload, std::int64_t defaultTransitionUs, std::string& problem) {
  UnitCommand command;
  if (target == UnitsService::Target::Scene)
    command.scene = index;
  else if (target == UnitsService::Target::Unit)
    command.units = {index};
  else
    command.group = index;
  return submitWith(service, std::move(command), target == UnitsService::Target::Scene,
                    std::move(from), payload, defaultTransitionUs, problem);
}

bool submitJsonSavedScene(UnitsService& service, std::string from, const std::string& name,
                          std::string_view payload, std::int64_t defaultTransitionUs,
                          std::string& problem) {
  UnitCommand command;
  command.savedScene = name;
  return submitWith(service, std::move(command), true, std::move(from), payload,
                    defaultTransitionUs, problem);
}

bool carryOutSavedSceneRequest(UnitsService& service, std::string_view payload,
                               SavedSceneAnswer& answer) {
  if (!readSavedSceneRequest(payload, answer.request, answer.problem))
    return false;
  if (answer.request.remove) {
    answer.removal = service.removeSavedScene(answer.request.name, answer.problem);
    return answer.removal == UnitsService::Removal::Removed;
  }
  if (service.saveScene(answer.request.name, answer.request.units, answer.saving))
    return true;
  answer.problem = answer.saving.problem;
  return false;
}

bool SavedSceneAnswer::notWritten() const {
  if (request.remove)
    return removal == UnitsService::Removal::NotWritten;
  // Refused before the disk, the save has a refusal; one the disk refused has its units.
  return !problem.empty() && saving.refusal == SceneSaving::Refusal::None &&
         !saving.scene.units.empty();
}
