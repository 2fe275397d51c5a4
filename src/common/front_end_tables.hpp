#ifndef VANTREL_COMMON_FRONT_END_TABLES_HPP
#define VANTREL_COMMON_FRONT_END_TABLES_HPP

#include <array>
#include <string_view>

/// The names in the units file that vantreld's front ends own: top-level
/// tables, and keys of a unit's table. This is the one list of them. Every
/// program that reads the file knows them, so that a misspelt one is an
/// error in each (vantrel included); their contents are read only by the
/// front end that owns them (doc/design.md, "How to add a front end").
inline constexpr std::array<std::string_view, 2> kFrontEndTables = {"mqtt", "web"};
inline constexpr std::array<std::string_view, 0> kFrontEndUnitKeys = {};

#endif
