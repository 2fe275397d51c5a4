#include "fade/progress.hpp"

#include "common/level_bar.hpp"

std::string progressText(int level, int commands, int failed) {
  char numbers[80];
  std::snprintf(numbers, sizeof numbers, " %3d  %d %s, %d failed", level, commands,
                commands == 1 ? "command" : "commands", failed);
  return levelBar(level) + numbers;
}

void ProgressLine::show(int level, int commands, int failed) {
  if (terminal_ == nullptr)
    return;
  // One write per redraw: the terminal never shows half a line. Blanks
  // cover whatever a longer line before left.
  std::string line = "\r" + progressText(level, commands, failed);
  const std::size_t length = line.size() - 1;
  if (length < shown_)
    line += std::string(shown_ - length, ' ');
  shown_ = length;
  std::fputs(line.c_str(), terminal_);
  std::fflush(terminal_);
}

void ProgressLine::clear() {
  if (terminal_ == nullptr || shown_ == 0)
    return;
  std::fputs(("\r" + std::string(shown_, ' ') + "\r").c_str(), terminal_);
  std::fflush(terminal_);
  shown_ = 0;
}
