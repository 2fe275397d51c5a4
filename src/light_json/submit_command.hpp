#ifndef VANTREL_LIGHT_JSON_SUBMIT_COMMAND_HPP
#define VANTREL_LIGHT_JSON_SUBMIT_COMMAND_HPP

#include <cstdint>
#include <string>
#include <string_view>

#include "light_json/command_readers.hpp"
#include "service/units_service.hpp"

/// Reads `payload` as the command `target` takes (readLightCommand(), or
/// readSceneCommand() for a scene) and submits it to `index`, with
/// `defaultTransitionUs` when it gives none. False, with the reader's
/// `problem`, when the payload is wrong: nothing is submitted. `from` is
/// the front end's words for who gave it (UnitCommand::from).
bool submitJsonCommand(UnitsService& service, std::string from, UnitsService::Target target, int index,
                       std::string_view payload, std::int64_t defaultTransitionUs, std::string& problem);

/// As submitJsonCommand() for a scene, to the saved scene `name` (UnitCommand::savedScene).
bool submitJsonSavedScene(UnitsService& service, std::string from, const std::string& name,
                          std::string_view payload, std::int64_t defaultTransitionUs,
                          std::string& problem);

/// What a saved scenes request (readSavedSceneRequest()) came to.
struct SavedSceneAnswer {
  SavedSceneRequest request;
  SceneSaving saving;  ///< of a save: what was saved and left out, or why not
  UnitsService::Removal removal = UnitsService::Removal::Removed;  ///< of a removal
  std::string problem;  ///< one line, when refused or not written
  /// The file could not be written: the request was right, the disk failed.
  bool notWritten() const;
};

/// Reads `payload` as a saved scenes request and carries it out: UnitsService::saveScene() with
/// the names of its file, or removeSavedScene(). False with answer.problem, one line, when the
/// payload is wrong (nothing changes) or the service refuses.
bool carryOutSavedSceneRequest(UnitsService& service, std::string_view payload,
                               SavedSceneAnswer& answer);

#endif
