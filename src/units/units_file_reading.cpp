#include "units/units_file_reading.hpp"

#include <cstdio>
#include <string>
#include <vector>

bool readUnitsFile(const char* program, const char* given, UnitsFile& file,
                   const FrontEndTablesReader& readFrontEndTables) {
  std::string path;
  std::string problem;
  if (!findUnitsFile(given, path, problem)) {
    std::fprintf(stderr, "%s: %s\n", program, problem.c_str());
    return false;
  }
  std::vector<std::string> problems;
  bool unreadable = false;
  if (loadUnitsFile(path, file, problems, &unreadable, readFrontEndTables))
    return true;
  // Errors inside the file are in the compiler's form, which editors jump to.
  for (const std::string& line : problems) {
    if (unreadable)
      std::fprintf(stderr, "%s: ", program);
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  return false;
}
