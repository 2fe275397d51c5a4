#include "service/light_command.hpp"

#include "units/level.hpp"

int LightCommand::level(int lastOn, int unitOnLevel) const {
  if (state == Switch::Off)
    return 0;
  if (brightness >= 0)
    return brightness;
  return onLevel(lastOn, unitOnLevel);
}
