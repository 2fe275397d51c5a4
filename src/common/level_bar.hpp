#ifndef VANTREL_COMMON_LEVEL_BAR_HPP
#define VANTREL_COMMON_LEVEL_BAR_HPP

#include <string>

/// A level 0..255 as a bar of plain ASCII, "[#####...............]", which
/// every console code page shows; any other level draws an empty bar.
std::string levelBar(int level);

#endif
