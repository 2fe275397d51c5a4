#ifndef VANTREL_VANTREL_LISTING_HPP
#define VANTREL_VANTREL_LISTING_HPP

#include <string>

#include "units/remembered_levels.hpp"
#include "units/units_file.hpp"

/// `vantrel list`: the units, one a line, with where they are, their type and
/// their last confirmed level with its time, or "level -"; then the groups
/// with their members, and the scenes with their levels as written.
std::string listing(const UnitsFile& file, const RememberedLevels& levels);

#endif
