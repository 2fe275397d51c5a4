#include "web/api_json.hpp"

#include <nlohmann/json.hpp>

#include "schedules/local_clock.hpp"
#include "units/utc_time.hpp"

namespace {

using json = nlohmann::ordered_json;

json levelOrNull(int level) {
  return level < 0 ? json(nullptr) : json(level);
}

// A unit's byte is never hidden behind its level: with a curve or trims
// the two differ.
json unitObject(const Unit& unit, const UnitState& state) {
  json object = {{"name", unit.name},
                 {"type", unit.type},
                 {"level", levelOrNull(state.level)},
                 {"sent", levelOrNull(state.level < 0 ? -1 : state.sent)},
                 {"last_on", levelOrNull(state.lastOn)},
                 {"problem", state.problem.empty() ? json(nullptr) : json(state.problem)}};
  // A hint only, never a level: the unit may have been switched since.
  if (state.level < 0 && state.rememberedLevel >= 0)
    object["remembered"] = {{"level", state.rememberedLevel}, {"at", utcTimeText(state.rememberedMs)}};
  return object;
}

json groupObject(const std::string& name, const std::vector<std::string>& members, int level) {
  return {{"name", name}, {"members", members}, {"level", levelOrNull(level)}};
}

// Who drives each console input, and what it did with its datagrams.
json inputsObject(const std::vector<InputState>& inputs) {
  json all = json::object();
  for (const InputState& input : inputs) {
    json sources = json::array();
    for (const InputSourceState& source : input.sources) {
      json entry = {{"universe", source.universe}, {"address", source.address}};
      if (!source.cid.empty()) {
        entry["cid"] = source.cid;
        entry["name"] = source.name;
        entry["priority"] = source.priority;
      }
      sources.push_back(std::move(entry));
    }
    all[input.input] = {{"sources", std::move(sources)},
                        {"packets", {{"taken", input.taken}, {"malformed", input.malformed},
                                     {"ignored", input.ignored}, {"late", input.late},
                                     {"refused", input.refused}}}};
  }
  return all;
}

json scheduleObject(const ServiceSnapshot::Schedule& schedule) {
  const bool next = schedule.nextMs.has_value();
  return {{"name", schedule.file->name},
          {"on", schedule.on},
          {"next", next ? json(localIsoText(*schedule.nextMs)) : json(nullptr)},
          {"next_text", next ? json(weekdayTimeText(*schedule.nextMs)) : json(nullptr)}};
}

json levelsFileObject(const LevelsFileState& state) {
  if (state.remembered)
    return {{"remembered", true}};
  return {{"remembered", false}, {"problem", state.problem}};
}

// Names come from the units file; a byte that is not UTF-8 is replaced
// rather than refused.
std::string text(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::string stateJson(const ServiceSnapshot& snapshot, const std::vector<InputState>& inputs,
                      const std::string& title) {
  json state = json::object();
  if (!title.empty())
    state["title"] = title;
  json& units = state["units"] = json::array();
  for (const ServiceSnapshot::Unit& unit : snapshot.units)
    units.push_back(unitObject(*unit.file, unit.state));
  json& groups = state["groups"] = json::array();
  for (const ServiceSnapshot::Group& group : snapshot.groups)
    groups.push_back(groupObject(group.name, group.members, group.level));
  json& scenes = state["scenes"] = snapshot.scenes;
  for (const std::string& saved : snapshot.savedScenes)
    scenes.push_back(saved);
  state["saved_scenes"] = snapshot.savedScenes;
  state["levels_file"] = levelsFileObject(snapshot.levelsFile);
  if (!inputs.empty())
    state["inputs"] = inputsObject(inputs);
  if (!snapshot.schedules.empty()) {
    json& schedules = state["schedules"] = json::array();
    for (const ServiceSnapshot::Schedule& schedule : snapshot.schedules)
      schedules.push_back(scheduleObject(schedule));
  }
  return text(state);
}

std::string unitJson(const Unit& unit, const UnitState& state) {
  return text(unitObject(unit, state));
}

std::string groupJson(const UnitsFile& file, int group, int level) {
  const Group& found = file.groups[static_cast<std::size_t>(group)];
  std::vector<std::string> members;
  for (int unit : found.members)
    members.push_back(file.units[static_cast<std::size_t>(unit)].name);
  return text(groupObject(found.name, members, level));
}

std::string scheduleJson(const ServiceSnapshot::Schedule& schedule) {
  return text(scheduleObject(schedule));
}

bool readScheduleSwitch(const std::string& body, bool& on, std::string& problem) {
  const json request = json::parse(body, nullptr, false);
  const auto found = request.is_object() ? request.find("on") : request.end();
  if (!request.is_object() || request.size() != 1 || found == request.end() || !found->is_boolean()) {
    problem = "a schedule is switched by {\"on\": true} or {\"on\": false}";
    return false;
  }
  on = found->get<bool>();
  return true;
}

std::string levelsFileJson(const LevelsFileState& state) {
  return text(levelsFileObject(state));
}

std::string savedJson(const SceneSaving& saving) {
  return text(json{{"saved", saving.scene.name},
                   {"units", saving.scene.units.size()},
                   {"left_out", saving.leftOut}});
}

std::string removedJson(const std::string& name) { return text(json{{"removed", name}}); }

std::string errorJson(const std::string& problem) {
  return text(json{{"error", problem}});
}
