#ifndef VANTREL_COMMON_PROGRESS_LINE_HPP
#define VANTREL_COMMON_PROGRESS_LINE_HPP

#include <cstdio>
#include <string>

/// The one line a tool redraws in place on a terminal while it runs.
class ProgressLine {
 public:
  /// Draws on `terminal`, or nowhere when it is null.
  explicit ProgressLine(std::FILE* terminal) : terminal_(terminal) {}

  void show(const std::string& text);
  /// Whether it draws at all, so that a caller can spare making the text.
  bool drawn() const { return terminal_ != nullptr; }
  /// Leaves the line empty, for what is written next.
  void clear();

 private:
  std::FILE* terminal_;
  std::size_t shown_ = 0;
};

#endif
