#include "common/level_bar.hpp"

std::string levelBar(int level) {
  const int width = 20;
  const int filled = level >= 0 && level <= 255 ? (level * width + 127) / 255 : 0;
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}
