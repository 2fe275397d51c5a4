#include "mqtt/discovery.hpp"

#include <cstdio>

#include <mosquitto.h>
#include <nlohmann/json.hpp>

namespace {

// Keys in the order people read them.
using Json = nlohmann::ordered_json;

bool startsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string configTopic(const MqttTopics& topics, const char* component, const std::string& objectId) {
  return topics.discovery + "/" + component + "/" + topics.nodeId + "/" + objectId + "/config";
}

// The entity id Home Assistant gives an entity it has not seen yet: the
// names are already a-z, 0-9, - and _, and an entity id takes no -. Only a
// default: one the user renamed stays renamed.
std::string defaultEntityId(const char* domain, const std::string& name) {
  std::string id = std::string(domain) + ".vantrel_" + name;
  for (char& c : id)
    if (c == '-')
      c = '_';
  return id;
}

Json light(const MqttTopics& topics, const std::string& commandTopic, const std::string& stateTopic,
           const std::string& uniqueId, const std::string& name) {
  return {{"unique_id", uniqueId},
          {"default_entity_id", defaultEntityId("light", name)},
          {"schema", "json"},
          {"command_topic", commandTopic},
          {"state_topic", stateTopic},
          {"availability_topic", topics.status},
          {"supported_color_modes", {"brightness"}},
          {"brightness_scale", 255},
          // Home Assistant's own defaults, said so that the seconds of its
          // "flash" are in the configuration the service published.
          {"flash_time_short", 2},
          {"flash_time_long", 10}};
}

// What published the configuration, which Home Assistant logs and shows.
Json origin() {
  return {{"name", "vantreld"}, {"sw_version", VANTREL_VERSION}, {"support_url", VANTREL_SUPPORT_URL}};
}

// The service itself, one for each topic prefix: the units' devices are
// reached through it, and the groups and scenes, which are its own, show
// under it.
std::string serviceId(const MqttTopics& topics) { return "vantreld_" + topics.nodeId; }

Json serviceDevice(const MqttTopics& topics) {
  return {{"identifiers", {serviceId(topics)}},
          {"name", "vantreld"},
          {"model", "Vantrel units service"},
          {"sw_version", VANTREL_VERSION}};
}

// A scene's entity: a written scene's id is "scene_NAME", a saved one's "saved_scene_NAME", so
// that neither takes the other's history; both are recalled on T/scene/NAME/set.
MqttMessage sceneMessage(const MqttTopics& topics, const char* kind, const std::string& name) {
  const std::string id = kind + name;
  const Json config = {{"name", name},
                       {"unique_id", topics.nodeId + "_" + id},
                       {"default_entity_id", defaultEntityId("scene", name)},
                       {"command_topic", topics.scene(name)},
                       {"payload_on", "ON"},
                       {"availability_topic", topics.status},
                       {"device", serviceDevice(topics)},
                       {"origin", origin()}};
  return {configTopic(topics, "scene", id), config.dump()};
}

}  // namespace

std::vector<MqttMessage> discoveryMessages(const UnitsFile& file, const MqttTopics& topics) {
  std::vector<MqttMessage> messages;
  if (topics.discovery.empty())
    return messages;
  for (const Unit& unit : file.units) {
    // Made from where the unit is, so that renaming it keeps its history;
    // unit, group and scene names are already ids, an address may hold dots.
    const std::string id = "unit_" + discoveryId(unit.address) + "_" + std::to_string(unit.port) + "_" +
                           std::to_string(unit.type);
    const std::string uniqueId = "vantrel_" + id;
    Json config = light(topics, topics.unit(unit.name, "set"), topics.unit(unit.name, "state"), uniqueId,
                        unit.name);
    // The unit's one entity takes the device's name.
    config["name"] = nullptr;
    config["device"] = {{"identifiers", {uniqueId}},
                        {"name", unit.name},
                        {"model", "Vantrel power unit, type " + std::to_string(unit.type)},
                        {"via_device", serviceId(topics)}};
    config["origin"] = origin();
    messages.push_back({configTopic(topics, "light", id), config.dump()});
  }
  for (const Group& group : file.groups) {
    const std::string id = "group_" + group.name;
    Json config = light(topics, topics.group(group.name, "set"), topics.group(group.name, "state"),
                        topics.nodeId + "_" + id, group.name);
    config["name"] = group.name;
    config["device"] = serviceDevice(topics);
    config["origin"] = origin();
    messages.push_back({configTopic(topics, "light", id), config.dump()});
  }
  for (const Scene& scene : file.scenes)
    messages.push_back(sceneMessage(topics, "scene_", scene.name));
  for (const Schedule& schedule : file.schedules) {
    const std::string id = "schedule_" + schedule.name;
    const Json config = {{"name", "Schedule " + schedule.name},
                         {"unique_id", topics.nodeId + "_" + id},
                         {"default_entity_id", defaultEntityId("switch", "schedule_" + schedule.name)},
                         {"command_topic", topics.schedule(schedule.name, "set")},
                         {"state_topic", topics.schedule(schedule.name, "state")},
                         {"payload_on", "ON"},
                         {"payload_off", "OFF"},
                         {"availability_topic", topics.status},
                         {"device", serviceDevice(topics)},
                         {"origin", origin()}};
    messages.push_back({configTopic(topics, "switch", id), config.dump()});
  }
  return messages;
}

MqttMessage savedSceneMessage(const MqttTopics& topics, const std::string& name) {
  return sceneMessage(topics, "saved_scene_", name);
}

std::vector<std::string> discoveryFilters(const MqttTopics& topics) {
  return {configTopic(topics, "light", "+"), configTopic(topics, "scene", "+"),
          configTopic(topics, "switch", "+")};
}

Discovery::Discovery(const UnitsFile& file, const MqttTopics& topics, bool verbose)
    : topics_(topics),
      verbose_(verbose),
      messages_(discoveryMessages(file, topics)),
      syncTopic_(topics.prefix + "/bridge/sync") {}

void Discovery::subscribe(mosquitto* client) {
  if (topics_.discovery.empty())
    return;
  const std::string announce = topics_.discovery + "/status";
  mosquitto_subscribe(client, nullptr, announce.c_str(), 0);
  for (const std::string& filter : discoveryFilters(topics_))
    mosquitto_subscribe(client, nullptr, filter.c_str(), 0);
  mosquitto_subscribe(client, nullptr, syncTopic_.c_str(), 0);
  stale_.clear();
  syncing_ = true;
}

void Discovery::publish(mosquitto* client) {
  for (const MqttMessage& message : messages_)
    publishRetained(client, message.topic, message.payload);
  if (topics_.discovery.empty())
    return;
  for (const std::string& name : saved_) {
    const MqttMessage message = savedSceneMessage(topics_, name);
    publishRetained(client, message.topic, message.payload);
  }
}

void Discovery::setSaved(const std::vector<std::string>& saved) {
  saved_ = std::set<std::string>(saved.begin(), saved.end());
}

void Discovery::publishSaved(mosquitto* client, const std::vector<std::string>& saved) {
  const std::set<std::string> now(saved.begin(), saved.end());
  if (!topics_.discovery.empty()) {
    for (const std::string& name : saved_)
      if (now.count(name) == 0)
        publishRetained(client, savedSceneMessage(topics_, name).topic, "");
    // Each again, a replaced one too: its entity is the same, and published at once.
    for (const std::string& name : now) {
      const MqttMessage message = savedSceneMessage(topics_, name);
      publishRetained(client, message.topic, message.payload);
    }
  }
  saved_ = now;
}

void Discovery::startSweep(mosquitto* client) {
  if (syncing_)
    mosquitto_publish(client, nullptr, syncTopic_.c_str(), 0, nullptr, 0, false);
}

bool Discovery::heard(mosquitto* client, const std::string& topic, const std::string& payload) {
  const std::string& discovery = topics_.discovery;
  if (topic == syncTopic_) {
    sweep(client);
    return true;
  }
  if (discovery.empty() || !startsWith(topic, discovery + "/"))
    return false;
  if (topic == discovery + "/status") {
    // Home Assistant came back: it forgets what it was told before.
    if (payload == "online")
      publish(client);
    return true;
  }
  if (!endsWith(topic, "/config"))
    return false;
  if (!syncing_ || payload.empty())
    return true;
  for (const MqttMessage& message : messages_)
    if (message.topic == topic)
      return true;
  for (const std::string& name : saved_)
    if (savedSceneMessage(topics_, name).topic == topic)
      return true;
  stale_.insert(topic);
  return true;
}

void Discovery::sweep(mosquitto* client) {
  if (!syncing_)
    return;
  syncing_ = false;
  for (const std::string& topic : stale_) {
    // A scene saved since the configuration was read back is no longer stale.
    bool saved = false;
    for (const std::string& name : saved_)
      saved = saved || savedSceneMessage(topics_, name).topic == topic;
    if (saved)
      continue;
    mosquitto_publish(client, nullptr, topic.c_str(), 0, nullptr, 0, true);
    if (verbose_) {
      std::printf("vantreld: cleared %s: no longer in the units file\n", topic.c_str());
      std::fflush(stdout);
    }
  }
  stale_.clear();
  for (const std::string& filter : discoveryFilters(topics_))
    mosquitto_unsubscribe(client, nullptr, filter.c_str());
  mosquitto_unsubscribe(client, nullptr, syncTopic_.c_str());
}
