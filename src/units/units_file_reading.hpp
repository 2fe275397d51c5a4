#ifndef VANTREL_UNITS_UNITS_FILE_READING_HPP
#define VANTREL_UNITS_UNITS_FILE_READING_HPP

#include "units/units_file.hpp"

/// Finds the units file as findUnitsFile() does and loads it, for a program
/// that stops when it cannot: on failure writes why to standard error, one
/// problem a line ("PROGRAM: no units file: ..." when none was found), and
/// returns false. `readFrontEndTables` as loadUnitsFile() takes it.
bool readUnitsFile(const char* program, const char* given, UnitsFile& file,
                   const FrontEndTablesReader& readFrontEndTables = {});

#endif
