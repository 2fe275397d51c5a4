#ifndef VANTREL_COMMON_OUTPUT_CURVE_HPP
#define VANTREL_COMMON_OUTPUT_CURVE_HPP

#include <array>

/// How a unit turns the level a person gives (0..255) into the byte it is
/// sent: a curve, and the trims `min` and `max`. For L in 1..255 and
/// t = (L − 1) / 254, f is t (linear), t^gamma, or 10^(3·(t − 1)) (the
/// logarithmic "dali" curve), and the byte is min + round(f × (max − min)),
/// halves away from zero; level 0 is always byte 0. The defaults send the
/// level itself.
class OutputCurve {
 public:
  enum class Shape { Linear, Gamma, Dali };

  /// The identity: linear, min 1, max 255.
  OutputCurve();
  /// `gamma` (1.0..4.0) counts for Shape::Gamma only; 1 <= min < max <= 255.
  OutputCurve(Shape shape, double gamma, int min, int max);

  Shape shape() const { return shape_; }
  double gamma() const { return gamma_; }
  int min() const { return min_; }
  int max() const { return max_; }
  /// Whether every level is sent as itself.
  bool identity() const { return identity_; }

  /// The byte for `level` (0..255): a look-up, so that a fade's steps cost
  /// no arithmetic and no allocation.
  int byte(int level) const { return bytes_[static_cast<unsigned>(level) & 0xFF]; }
  /// The lowest level whose byte is `byte`, or -1 when no level maps to it.
  int lowestLevel(int byte) const;
  /// The lowest level whose byte is at least `byte`, 255 when none is: where
  /// a unit sent `byte` as it is stands in the user's scale.
  int levelAtLeast(int byte) const;

 private:
  Shape shape_;
  double gamma_;
  int min_;
  int max_;
  bool identity_;
  std::array<unsigned char, 256> bytes_;
};

#endif
