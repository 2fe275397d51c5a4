#include "mqtt/topics.hpp"

#include <mosquitto.h>

std::string discoveryId(const std::string& text) {
  std::string id = text;
  for (char& c : id) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
    if (!kept)
      c = '_';
  }
  return id;
}

MqttTopics::MqttTopics(const MqttSettings& settings)
    : status(settings.topic + "/status"),
      discovery(settings.discoveryPrefix),
      nodeId(discoveryId(settings.topic)),
      scenes(settings.topic + "/scenes/set"),
      prefix(settings.topic) {}

std::string MqttTopics::unit(const std::string& name, const char* leaf) const {
  return prefix + "/unit/" + name + "/" + leaf;
}

std::string MqttTopics::group(const std::string& name, const char* leaf) const {
  return prefix + "/group/" + name + "/" + leaf;
}

std::string MqttTopics::scene(const std::string& name) const { return prefix + "/scene/" + name + "/set"; }

std::string MqttTopics::schedule(const std::string& name, const char* leaf) const {
  return prefix + "/schedules/" + name + "/" + leaf;
}

void publishRetained(mosquitto* client, const std::string& topic, const std::string& payload) {
  mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 0,
                    true);
}
