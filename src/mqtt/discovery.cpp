#include "mqtt/discovery.hpp"

#include <nlohmann/json.hpp>

namespace {

// Keys in the order people read them.
using Json = nlohmann::ordered_json;

// Home Assistant takes ids of a-z A-Z 0-9 _ - alone; unit, group and scene
// names are already such, an address may hold dots.
std::string idOf(const std::string& text) {
  std::string id = text;
  for (char& c : id) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
    if (!kept)
      c = '_';
  }
  return id;
}

std::string configTopic(const MqttTopics& topics, const char* component, const std::string& objectId) {
  return topics.discovery + "/" + component + "/" + topics.nodeId + "/" + objectId + "/config";
}

Json light(const MqttTopics& topics, const std::string& commandTopic, const std::string& stateTopic,
           const std::string& uniqueId) {
  return {{"unique_id", uniqueId},
          {"schema", "json"},
          {"command_topic", commandTopic},
          {"state_topic", stateTopic},
          {"availability_topic", topics.status},
          {"supported_color_modes", {"brightness"}},
          {"brightness_scale", 255}};
}

}  // namespace

MqttTopics::MqttTopics(const MqttSettings& settings)
    : status(settings.topic + "/status"),
      discovery(settings.discoveryPrefix),
      nodeId(idOf(settings.topic)),
      prefix(settings.topic) {}

std::string MqttTopics::unit(const std::string& name, const char* leaf) const {
  return prefix + "/unit/" + name + "/" + leaf;
}

std::string MqttTopics::group(const std::string& name, const char* leaf) const {
  return prefix + "/group/" + name + "/" + leaf;
}

std::string MqttTopics::scene(const std::string& name) const { return prefix + "/scene/" + name + "/set"; }

std::vector<MqttMessage> discoveryMessages(const UnitsFile& file, const MqttTopics& topics) {
  std::vector<MqttMessage> messages;
  if (topics.discovery.empty())
    return messages;
  for (const Unit& unit : file.units) {
    // Made from where the unit is, so that renaming it keeps its history.
    const std::string id = "unit_" + idOf(unit.address) + "_" + std::to_string(unit.port) + "_" +
                           std::to_string(unit.type);
    const std::string uniqueId = "vantrel_" + id;
    Json config = light(topics, topics.unit(unit.name, "set"), topics.unit(unit.name, "state"), uniqueId);
    // The unit's one entity takes the device's name.
    config["name"] = nullptr;
    config["device"] = {{"identifiers", {uniqueId}},
                        {"name", unit.name},
                        {"model", "Vantrel power unit, type " + std::to_string(unit.type)}};
    messages.push_back({configTopic(topics, "light", id), config.dump()});
  }
  for (const Group& group : file.groups) {
    const std::string id = "group_" + group.name;
    Json config = light(topics, topics.group(group.name, "set"), topics.group(group.name, "state"),
                        topics.nodeId + "_" + id);
    config["name"] = group.name;
    messages.push_back({configTopic(topics, "light", id), config.dump()});
  }
  for (const Scene& scene : file.scenes) {
    const std::string id = "scene_" + scene.name;
    const Json config = {{"name", scene.name},
                         {"unique_id", topics.nodeId + "_" + id},
                         {"command_topic", topics.scene(scene.name)},
                         {"payload_on", "ON"},
                         {"availability_topic", topics.status}};
    messages.push_back({configTopic(topics, "scene", id), config.dump()});
  }
  return messages;
}

std::vector<std::string> discoveryFilters(const MqttTopics& topics) {
  return {configTopic(topics, "light", "+"), configTopic(topics, "scene", "+")};
}

std::string lightState(int level) {
  const Json state = {
      {"state", level > 0 ? "ON" : "OFF"}, {"brightness", level}, {"color_mode", "brightness"}};
  return state.dump();
}
