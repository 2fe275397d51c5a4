#ifndef VANTREL_FADE_PROGRESS_HPP
#define VANTREL_FADE_PROGRESS_HPP

#include <string>

/// The text of a fade's progress line: a bar of `level` (0..255), the level,
/// the commands sent so far and how many of them failed.
std::string progressText(int level, int commands, int failed);

#endif
