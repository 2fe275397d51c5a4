#include "light_json/command_readers.hpp"

#include <cmath>
#include <utility>

#include <nlohmann/json.hpp>

#include "common/json_object.hpp"

namespace {

using Json = nlohmann::json;

// Accepts a number of seconds 0..86400, whole or not.
bool readTransition(const Json& object, std::int64_t& transitionUs, std::string& problem) {
  const auto found = object.find("transition");
  if (found == object.end())
    return true;
  const Json& value = *found;
  double seconds = -1;
  if (value.is_number_unsigned())
    seconds = static_cast<double>(value.get<std::uint64_t>());
  else if (value.is_number_integer())
    seconds = static_cast<double>(value.get<std::int64_t>());
  else if (value.is_number_float())
    seconds = value.get<double>();
  else {
    problem = "transition must be a number of seconds";
    return false;
  }
  if (!(seconds >= 0 && seconds <= 86400)) {  // also refuses NaN
    problem = "transition must be 0 to 86400 seconds";
    return false;
  }
  transitionUs = static_cast<std::int64_t>(std::llround(seconds * 1e6));
  return true;
}

// Home Assistant's "flash": whole seconds, its flash_time_short or
// flash_time_long; a minute at most, so that a mistake does not blink a
// room for hours.
bool readFlash(const Json& object, std::int64_t& flashUs, std::string& problem) {
  const auto found = object.find("flash");
  if (found == object.end())
    return true;
  // 0 - 1 wraps past 60.
  const bool inRange = found->is_number_unsigned() ? found->get<std::uint64_t>() - 1 < 60
                       : found->is_number_integer()
                           ? found->get<std::int64_t>() >= 1 && found->get<std::int64_t>() <= 60
                           : false;
  if (!inRange) {
    problem = "flash must be a whole number of seconds from 1 to 60";
    return false;
  }
  flashUs = found->get<std::int64_t>() * 1000000;
  return true;
}

}  // namespace

bool readLightCommand(std::string_view payload, LightCommand& command, std::string& problem) {
  Json object;
  if (!parseJsonObject(payload, object, problem))
    return false;
  LightCommand read;
  const auto state = object.find("state");
  if (state != object.end()) {
    const std::string* text = state->get_ptr<const std::string*>();
    if (text != nullptr && *text == "ON") {
      read.state = LightCommand::Switch::On;
    } else if (text != nullptr && *text == "OFF") {
      read.state = LightCommand::Switch::Off;
    } else {
      problem = "state must be \"ON\" or \"OFF\"";
      return false;
    }
  }
  const auto brightness = object.find("brightness");
  if (brightness != object.end()) {
    const bool whole = brightness->is_number_integer();
    const bool inRange = whole && (brightness->is_number_unsigned()
                                       ? brightness->get<std::uint64_t>() <= 255
                                       : brightness->get<std::int64_t>() >= 0 &&
                                             brightness->get<std::int64_t>() <= 255);
    if (!inRange) {
      problem = "brightness must be a whole number from 0 to 255";
      return false;
    }
    read.brightness = static_cast<int>(brightness->get<std::int64_t>());
  }
  if (!readFlash(object, read.flashUs, problem))
    return false;
  // A flash alone goes back to the level before.
  if (read.state == LightCommand::Switch::None && read.brightness < 0 && read.flashUs == 0) {
    problem = "neither state nor brightness given";
    return false;
  }
  if (!readTransition(object, read.transitionUs, problem))
    return false;
  command = read;
  return true;
}

bool readSceneCommand(std::string_view payload, SceneCommand& command, std::string& problem) {
  if (payload.empty() || payload == "ON") {
    command = SceneCommand{};
    return true;
  }
  // OFF and other words are the likely mistakes: "not valid JSON" would
  // not say what a scene takes.
  Json object;
  if (!parseJsonObject(payload, object, problem)) {
    problem = "a scene takes ON, nothing, or a JSON object with an optional transition";
    return false;
  }
  SceneCommand read;
  if (!readTransition(object, read.transitionUs, problem))
    return false;
  command = read;
  return true;
}

bool readSavedSceneRequest(std::string_view payload, SavedSceneRequest& request, std::string& problem) {
  Json object;
  if (!parseJsonObject(payload, object, problem))
    return false;
  SavedSceneRequest read;
  const bool save = object.contains("save");
  read.remove = object.contains("remove");
  if (save == read.remove) {
    problem = "a saved scenes request takes save or remove";
    return false;
  }
  for (const auto& [key, value] : object.items()) {
    if (key != "save" && key != "remove" && !(save && key == "units")) {
      problem = "unknown key '" + key + "'";
      return false;
    }
  }
  const Json& name = object[save ? "save" : "remove"];
  if (!name.is_string()) {
    problem = std::string(save ? "save" : "remove") + " must be a scene's name";
    return false;
  }
  read.name = name.get<std::string>();
  if (object.contains("units")) {
    const Json& units = object["units"];
    if (!units.is_array()) {
      problem = "units must be a list of unit and group names";
      return false;
    }
    for (const Json& unit : units) {
      if (!unit.is_string()) {
        problem = "units must be a list of unit and group names";
        return false;
      }
      read.units.push_back(unit.get<std::string>());
    }
  }
  request = std::move(read);
  return true;
}
