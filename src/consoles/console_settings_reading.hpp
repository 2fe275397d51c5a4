#ifndef VANTREL_CONSOLES_CONSOLE_SETTINGS_READING_HPP
#define VANTREL_CONSOLES_CONSOLE_SETTINGS_READING_HPP

#include "consoles/console_settings.hpp"
#include "units/settings_table.hpp"
#include "units/units_file.hpp"

/// Reads the [sacn] and [artnet] tables of `file` and its units' sacn and
/// artnet keys into `settings`, adding each problem where it is. Returns
/// whether the file turns an input on.
bool readConsoleSettings(const UnitsFile& file, ConsoleSettings& settings, FileProblems& problems);

#endif
