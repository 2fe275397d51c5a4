#include "common/output_curve.hpp"

#include <cmath>

#include <gtest/gtest.h>

namespace {

using Shape = OutputCurve::Shape;

TEST(OutputCurve, DefaultsSendTheLevelItself) {
  const OutputCurve curve;
  EXPECT_TRUE(curve.identity());
  for (int level = 0; level <= 255; ++level)
    EXPECT_EQ(curve.byte(level), level);
  EXPECT_FALSE(OutputCurve(Shape::Linear, 1.0, 1, 254).identity());
}

TEST(OutputCurve, EveryCurveAndTrimIsMonotonicAndItsLowestLevelsMapBack) {
  for (const OutputCurve& curve :
       {OutputCurve(Shape::Linear, 1.0, 20, 230), OutputCurve(Shape::Gamma, 1.0, 1, 255),
        OutputCurve(Shape::Gamma, 2.8, 20, 230), OutputCurve(Shape::Gamma, 4.0, 254, 255),
        OutputCurve(Shape::Dali, 1.0, 1, 255), OutputCurve(Shape::Dali, 1.0, 20, 230)}) {
    EXPECT_EQ(curve.byte(0), 0);
    EXPECT_EQ(curve.byte(1), curve.min());
    EXPECT_EQ(curve.byte(255), curve.max());
    for (int level = 1; level <= 255; ++level) {
      ASSERT_GE(curve.byte(level), curve.byte(level - 1)) << level;
      const int lowest = curve.lowestLevel(curve.byte(level));
      ASSERT_TRUE(lowest <= level && curve.byte(lowest) == curve.byte(level) &&
                  curve.byte(lowest - 1) < curve.byte(level)) << level;
    }
  }
}

TEST(OutputCurve, GivesTheBytesWorkedOutByHand) {
  struct Case { OutputCurve curve; int level; int byte; };
  // t = (L - 1) / 254; byte = min + round(f × (max - min)):
  //   gamma 2.2, L 128: t = 0.5, 0.5^2.2 = 0.2176 × 254 = 55.27 -> 1 + 55 = 56
  //   gamma 2.0, L 128: 0.25 × 254 = 63.5, a half, away from zero -> 1 + 64 = 65
  //   linear 20..230, L 128: 0.5 × 210 = 105 -> 125; L 2: 210 / 254 = 0.83 -> 21
  //   linear 1..128, L 2: 127 / 254 = 0.5 exactly -> 1 + 1 = 2
  //   dali, L 128: 10^-1.5 = 0.03162 × 254 = 8.03 -> 9; 20..230: × 210 = 6.64 -> 27
  //   dali, L 2: 10^(3 × (1/254 - 1)) = 0.001028 × 254 = 0.26 -> 1
  for (const Case& c : {Case{OutputCurve(Shape::Gamma, 2.2, 1, 255), 128, 56},
                        Case{OutputCurve(Shape::Gamma, 2.0, 1, 255), 128, 65},
                        Case{OutputCurve(Shape::Linear, 1.0, 20, 230), 128, 125},
                        Case{OutputCurve(Shape::Linear, 1.0, 20, 230), 2, 21},
                        Case{OutputCurve(Shape::Linear, 1.0, 1, 128), 2, 2},
                        Case{OutputCurve(Shape::Dali, 1.0, 1, 255), 128, 9},
                        Case{OutputCurve(Shape::Dali, 1.0, 20, 230), 128, 27},
                        Case{OutputCurve(Shape::Dali, 1.0, 1, 255), 2, 1}})
    EXPECT_EQ(c.curve.byte(c.level), c.byte) << c.level;
}

// Its powers are its own (no libm): every byte of every tenth of a gamma,
// and of "dali", is the one the C++ library's pow() gives.
TEST(OutputCurve, ItsPowersGiveTheBytesOfTheLibrarysPow) {
  for (int tenths = 10; tenths <= 41; ++tenths) {
    const bool dali = tenths == 41;
    const double gamma = tenths / 10.0;
    const OutputCurve curve(dali ? Shape::Dali : Shape::Gamma, gamma, 3, 250);
    for (int level = 1; level <= 255; ++level) {
      const double t = (level - 1) / 254.0;
      const double f = dali ? std::pow(10.0, 3.0 * (t - 1.0)) : std::pow(t, gamma);
      ASSERT_EQ(curve.byte(level), 3 + static_cast<int>(std::floor(f * 247 + 0.5 + 1e-9)))
          << tenths << " " << level;
    }
  }
}

TEST(OutputCurve, LowestLevelIsMinusOneForAByteNoLevelSends) {
  const OutputCurve trimmed(Shape::Linear, 1.0, 20, 230);
  EXPECT_EQ(trimmed.lowestLevel(10), -1);
  EXPECT_EQ(trimmed.lowestLevel(0), 0);
}

}  // namespace
