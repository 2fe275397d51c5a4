#include "units/level.hpp"

#include <cstring>
#include <string>

#include "common/whole_number.hpp"

bool parseLevel(const char* text, int& level) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || text[length - 1] != '%')
    return parseWholeNumber(text, 0, 255, level);
  int percent = 0;
  if (!parseWholeNumber(std::string(text, length - 1).c_str(), 0, 100, percent))
    return false;
  level = percentLevel(percent);
  return true;
}

int onLevel(int lastOn, int unitOnLevel) { return lastOn > 0 ? lastOn : unitOnLevel; }

int percentLevel(int percent) {
  return (percent * 255 + 50) / 100;
}
