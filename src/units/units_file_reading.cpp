#include "units/units_file_reading.hpp"

#include <cstdio>
#include <string>
#include <vector>

bool readUnitsFile(const char* program, const char* given, UnitsFile& file) {
  std::string path;
  std::string problem;
  if (!findUnitsFile(given, path, problem)) {
    std::fprintf(stderr, "%s: %s\n", program, problem.c_str());
    return false;
  }
  std::vector<std::string> problems;
  if (loadUnitsFile(path, file, problems))
    return true;
  for (const std::string& line : problems)
    std::fprintf(stderr, "%s\n", line.c_str());
  return false;
}
