#include "common/output_curve.hpp"

namespace {

// The tools load the C library alone (tests/check_linux_needs.cmake), and
// pow() lives in libm, which cannot be linked in: the two powers a curve
// needs are series that converge within a few terms once the argument is
// brought near 1 by halvings and doublings, which are exact. Each table is
// made once per unit, so their cost does not count; their error, a few
// parts in 1e16, is far below what rounding to a byte sees.
const double kLn2 = 0.693147180559945309417232121458;
const double kLn10 = 2.302585092994045684017960329576;

// ln x for 0 < x <= 1: x = m × 2^-e with m in [0.5, 1], and ln m =
// 2 atanh(s) for s = (m - 1) / (m + 1), |s| <= 1/3.
double naturalLog(double x) {
  int e = 0;
  for (; x < 0.5; ++e)
    x *= 2.0;
  const double s = (x - 1.0) / (x + 1.0);
  double term = s;
  double sum = 0.0;
  for (int k = 1; k < 40; k += 2) {
    sum += term / k;
    term *= s * s;
  }
  return 2.0 * sum - e * kLn2;
}

// e^y for y <= 0: y = -k ln 2 + r with r in (-ln 2, 0], and e^r by its
// series.
double naturalExp(double y) {
  const int k = static_cast<int>(-y / kLn2);
  const double r = y + k * kLn2;
  double term = 1.0;
  double sum = 1.0;
  for (int n = 1; n < 25; ++n) {
    term *= r / n;
    sum += term;
  }
  for (int i = 0; i < k; ++i)
    sum *= 0.5;
  return sum;
}

// The fraction of the way from min to max for level 1..255.
double fraction(OutputCurve::Shape shape, double gamma, int level) {
  const double t = (level - 1) / 254.0;
  switch (shape) {
    case OutputCurve::Shape::Linear:
      return t;
    case OutputCurve::Shape::Gamma:
      return t == 0.0 ? 0.0 : naturalExp(gamma * naturalLog(t));
    case OutputCurve::Shape::Dali:
      return naturalExp(3.0 * (t - 1.0) * kLn10);
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
    // far below the gap between two levels' products. Products are never
    // negative, so the cast rounds down.
    const int step = shape == Shape::Linear
                         ? (2 * (level - 1) * span + 254) / 508
                         : static_cast<int>(fraction(shape, gamma, level) * span + 0.5 + 1e-9);
    bytes_[static_cast<std::size_t>(level)] = static_cast<unsigned char>(min + step);
    identity_ = identity_ && min + step == level;
  }
}

int OutputCurve::levelAtLeast(int byte) const {
  for (int level = 0; level < 255; ++level)
    if (bytes_[static_cast<std::size_t>(level)] >= byte)
      return level;
  return 255;
}

int OutputCurve::lowestLevel(int byte) const {
  for (int level = 0; level <= 255; ++level)
    if (bytes_[static_cast<std::size_t>(level)] == byte)
      return level;
  return -1;
}
