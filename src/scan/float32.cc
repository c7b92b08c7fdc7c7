#include <array>
#include <cmath>

#include "io/bytes.h"
#include "scan/decode.h"

namespace ampdots {
namespace {

// Mantissa weights 2^-k: the top mantissa bit weighs 1, the lowest 2^-22.
constexpr std::array<double, 23> MantissaWeights() {
  std::array<double, 23> weights{};
  double w = 1.0;
  for (double& x : weights) {
    x = w;
    w /= 2;
  }
  return weights;
}

constexpr std::array<double, 23> dpowers = MantissaWeights();

}  // namespace

double Float32Convert(int b0, int b1, int b2, int b3) {
  const std::uint8_t bytes[] = {static_cast<std::uint8_t>(b0), static_cast<std::uint8_t>(b1),
                                static_cast<std::uint8_t>(b2), static_cast<std::uint8_t>(b3)};
  const std::uint32_t word = Assem4(bytes);
  // Twice the mantissa fraction, in [0, 2).
  double decimal = 0.0;
  for (int k = 0; k <= 22; ++k) {
    decimal += ((word >> (22 - k)) & 1u) * dpowers[static_cast<unsigned>(k)];
  }
  const int exponent = static_cast<int>((word >> 23) & 0xFFu);
  const double sign = (word >> 31) != 0 ? -1.0 : 1.0;
  // (2 + 2f) x 2^(e - 121) = (1 + f) x 2^(e - 127) x 128 for every normal
  // number; the power of two is exact, so the level is too.
  return (decimal + 2) * sign * std::ldexp(1.0, exponent - 121);
}

}  // namespace ampdots
