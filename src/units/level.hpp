#ifndef VANTREL_UNITS_LEVEL_HPP
#define VANTREL_UNITS_LEVEL_HPP

/// Reads a level as people write it, in a units file or on a command line: a whole number 0..255
/// ("128"), or a percentage "N%" with N a whole number 0..100, meaning N × 255 / 100 rounded to the
/// nearest integer, halves up ("50%" is 128, "80%" is 204, "1%" is 3). Returns false, leaving
/// `level` alone, for anything else (signs, blanks, fractions, "256", "101%", "%", "").
bool parseLevel(const char* text, int& level);

/// N% (0..100) as a level.
int percentLevel(int percent);

/// The level that "on" gives a unit: `lastOn`, its last level above 0,
/// when it has one (-1: none), else its `on_level`.
int onLevel(int lastOn, int unitOnLevel);

#endif
