#include "fade/progress.hpp"

#include <cstdio>

#include "common/level_bar.hpp"

std::string progressText(int level, int commands, int failed) {
  char numbers[80];
  std::snprintf(numbers, sizeof numbers, " %3d  %d %s, %d failed", level, commands,
                commands == 1 ? "command" : "commands", failed);
  return levelBar(level) + numbers;
}
