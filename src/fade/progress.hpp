#ifndef VANTREL_FADE_PROGRESS_HPP
#define VANTREL_FADE_PROGRESS_HPP

#include <cstdio>
#include <string>

/// The one line a fade redraws in place on a terminal while it runs.
class ProgressLine {
 public:
  /// Draws on `terminal`, or nowhere when it is null.
  explicit ProgressLine(std::FILE* terminal) : terminal_(terminal) {}

  void show(int level, int commands, int failed);
  /// Leaves the line empty, for what is written next.
  void clear();

 private:
  std::FILE* terminal_;
  std::size_t shown_ = 0;
};

/// The text of the line: a bar of `level` (0..255), the level, the commands
/// sent so far and how many of them failed.
std::string progressText(int level, int commands, int failed);

#endif
