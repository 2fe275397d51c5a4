#include "common/progress_line.hpp"

void ProgressLine::show(const std::string& text) {
  if (terminal_ == nullptr)
    return;
  // One write per redraw: the terminal never shows half a line. Blanks
  // cover whatever a longer line before left.
  std::string line = "\r" + text;
  if (text.size() < shown_)
    line += std::string(shown_ - text.size(), ' ');
  shown_ = text.size();
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
