#include "mqtt/state_publisher.hpp"

#include <nlohmann/json.hpp>

#include "common/platform.hpp"

namespace {

constexpr std::int64_t kStateEveryUs = 1000000;  // during a fade, at most one state a second

}  // namespace

std::string lightState(int level) {
  // Keys in the order people read them.
  const nlohmann::ordered_json state = {
      {"state", level > 0 ? "ON" : "OFF"}, {"brightness", level}, {"color_mode", "brightness"}};
  return state.dump();
}

StatePublisher::StatePublisher(const UnitsFile& file, const MqttTopics& topics)
    : file_(file), topics_(topics), units_(file.units.size()), groups_(file.groups.size()) {}

void StatePublisher::publishAll(mosquitto* client, const ServiceSnapshot& snapshot) {
  for (std::size_t unit = 0; unit < snapshot.units.size(); ++unit)
    if (snapshot.units[unit].state.level >= 0)
      publish(client, Kind::Unit, unit, snapshot.units[unit].state.level, Why::Connect);
  for (std::size_t group = 0; group < snapshot.groups.size(); ++group)
    if (snapshot.groups[group].level >= 0)
      publish(client, Kind::Group, group, snapshot.groups[group].level, Why::Connect);
}

void StatePublisher::publish(mosquitto* client, Kind kind, std::size_t index, int level, Why why) {
  Published& last = kind == Kind::Unit ? units_[index] : groups_[index];
  const std::int64_t nowUs = monotonicUs();
  // Most steps of a fade stop here, before any text is made: the service's
  // thread is their caller.
  if (why == Why::Change && last.atUs != 0 && nowUs - last.atUs < kStateEveryUs)
    return;
  const std::string payload = lightState(level);
  const bool repeated = last.payload == payload;
  switch (why) {
    case Why::Change:
      last.duringCommand = true;
      break;
    case Why::End: {
      const bool sent = last.duringCommand && repeated;
      last.duringCommand = false;
      if (sent)
        return;
      break;
    }
    case Why::GroupEnd:
      // It hears of each member's end: its state goes out once it changed.
      last.duringCommand = false;
      if (repeated)
        return;
      break;
    case Why::Connect:
      break;
  }
  publishRetained(client,
                  kind == Kind::Unit ? topics_.unit(file_.units[index].name, "state")
                                     : topics_.group(file_.groups[index].name, "state"),
                  payload);
  last.payload = payload;
  last.atUs = nowUs;
}
