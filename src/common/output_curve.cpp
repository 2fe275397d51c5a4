#include "common/output_curve.hpp"

#include <cmath>

namespace {

// The fraction of the way from min to max for level 1..255.
double fraction(OutputCurve::Shape shape, double gamma, int level) {
  const double t = (level - 1) / 254.0;
  switch (shape) {
    case OutputCurve::Shape::Linear:
      return t;
    case OutputCurve::Shape::Gamma:
      return std::pow(t, gamma);
    case OutputCurve::Shape::Dali:
      return std::pow(10.0, 3.0 * (t - 1.0));
  }
  return t;
}

}  // namespace

OutputCurve::OutputCurve() : OutputCurve(Shape::Linear, 1.0, 1, 255) {}

OutputCurve::OutputCurve(Shape shape, double gamma, int min, int max)
    : shape_(shape), gamma_(gamma), min_(min), max_(max), identity_(true), bytes_() {
  for (int level = 1; level <= 255; ++level) {
    const int span = max - min;
    // Linear is kept in whole numbers, where a half is exactly a half.
    // Elsewhere a product that is a half on paper may come out a hair
    // below it: the allowance rounds it away from zero as written, and is
    // far below the gap between two levels' products.
    const double scaled = shape == Shape::Linear ? 0.0 : fraction(shape, gamma, level) * span;
    const int step = shape == Shape::Linear ? (2 * (level - 1) * span + 254) / 508
                                            : static_cast<int>(std::floor(scaled + 0.5 + 1e-9));
    bytes_[static_cast<std::size_t>(level)] = static_cast<unsigned char>(min + step);
    identity_ = identity_ && min + step == level;
  }
}

int OutputCurve::lowestLevel(int byte) const {
  for (int level = 0; level <= 255; ++level)
    if (bytes_[static_cast<std::size_t>(level)] == byte)
      return level;
  return -1;
}
