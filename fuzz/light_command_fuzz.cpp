// Any payload as a light command and as a scene command: no crash, no hang,
// and what passes holds only levels and transitions a unit may be sent.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "light_json/command_readers.hpp"

namespace {

void require(bool condition) {
  if (!condition)
    std::abort();
}

constexpr std::int64_t kDayUs = std::int64_t{86400} * 1000000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view payload(reinterpret_cast<const char*>(data), size);
  LightCommand light;
  std::string problem;
  if (readLightCommand(payload, light, problem)) {
    // A flash alone blinks and goes back to the level before.
    require(light.state != LightCommand::Switch::None || light.brightness >= 0 ||
            light.flashUs > 0);
    require(light.flashUs >= 0 && light.flashUs <= 60 * 1000000);
    require(light.brightness >= -1 && light.brightness <= 255);
    require(light.transitionUs >= -1 && light.transitionUs <= kDayUs);
    for (const int lastOn : {-1, 1, 255}) {
      const int level = light.level(lastOn, 255);
      require(level >= 0 && level <= 255);
      require(light.state != LightCommand::Switch::Off || level == 0);
    }
  } else {
    require(!problem.empty() && problem.find('\n') == std::string::npos);
  }
  SceneCommand scene;
  problem.clear();
  if (readSceneCommand(payload, scene, problem))
    require(scene.transitionUs >= -1 && scene.transitionUs <= kDayUs);
  else
    require(!problem.empty());
  return 0;
}
