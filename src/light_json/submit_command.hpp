#ifndef VANTREL_LIGHT_JSON_SUBMIT_COMMAND_HPP
#define VANTREL_LIGHT_JSON_SUBMIT_COMMAND_HPP

#include <cstdint>
#include <string>
#include <string_view>

#include "service/units_service.hpp"

/// Reads `payload` as the command `target` takes (readLightCommand(), or
/// readSceneCommand() for a scene) and submits it to `index`, with
/// `defaultTransitionUs` when it gives none. False, with the reader's
/// `problem`, when the payload is wrong: nothing is submitted. `from` is
/// the front end's words for who gave it (UnitCommand::from).
bool submitJsonCommand(UnitsService& service, std::string from, UnitsService::Target target, int index,
                       std::string_view payload, std::int64_t defaultTransitionUs, std::string& problem);

#endif
