// curve_table CURVE MIN MAX: prints "LEVEL BYTE" for each level 0..255 as
// a unit with that curve and those trims is sent it, from the program's
// own mapping, for tools/draw_curves.sh and for anyone who wants the
// numbers.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/output_curve.hpp"
#include "common/whole_number.hpp"

int main(int argc, char* argv[]) {
  const char usage[] = "usage: curve_table linear|dali|GAMMA MIN MAX\n";
  int min = 0;
  int max = 0;
  if (argc != 4 || !parseWholeNumber(argv[2], 1, 254, min) ||
      !parseWholeNumber(argv[3], min + 1, 255, max)) {
    std::fputs(usage, stderr);
    return 2;
  }
  OutputCurve::Shape shape = OutputCurve::Shape::Gamma;
  double gamma = 1.0;
  char* end = nullptr;
  if (std::strcmp(argv[1], "linear") == 0) {
    shape = OutputCurve::Shape::Linear;
  } else if (std::strcmp(argv[1], "dali") == 0) {
    shape = OutputCurve::Shape::Dali;
  } else {
    gamma = std::strtod(argv[1], &end);
    if (end == argv[1] || *end != '\0' || !(gamma >= 1.0 && gamma <= 4.0)) {
      std::fputs(usage, stderr);
      return 2;
    }
  }
  const OutputCurve curve(shape, gamma, min, max);
  for (int level = 0; level <= 255; ++level)
    std::printf("%d %d\n", level, curve.byte(level));
  return 0;
}
