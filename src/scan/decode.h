// Sample decoders. Every sample becomes a level on a scale on which full
// scale is 128, and a contribution (+level or -level) to its line's sum.
#ifndef AMPDOTS_SCAN_DECODE_H_
#define AMPDOTS_SCAN_DECODE_H_

#include <cstdint>

namespace ampdots {

struct Level {
  double level;
  double contribution;  ///< what the sample adds to its line's sum
};

// PCM contributions are signed by the top byte, not by the level: a sample
// whose top byte is 0 (a level in [0, 1)) is subtracted, and a negative
// level is added with its sign flipped. Files rely on this picture.
constexpr double PcmContribution(std::int8_t hi, double level) { return hi > 0 ? level : -level; }

/// A 16-bit little-endian sample: the signed value / 256.
constexpr Level DecodePcm16(const std::uint8_t* b) {
  const auto hi = static_cast<std::int8_t>(b[1]);
  const double level = hi + b[0] / 256.0;
  return {level, PcmContribution(hi, level)};
}

/// A 24-bit little-endian sample: the signed value / 65536.
constexpr Level DecodePcm24(const std::uint8_t* b) {
  const auto hi = static_cast<std::int8_t>(b[2]);
  const double level = hi + b[1] / 256.0 + b[0] / 65536.0;
  return {level, PcmContribution(hi, level)};
}

/// An IEEE-754 single given as its four bytes in file order (b0 least
/// significant; only the low 8 bits of each argument count), rebuilt bit by
/// bit as 128 x its value. No exponent is special: zero and subnormals keep
/// the implicit leading 1 (+0.0 gives 2^-120) and infinities and
/// not-a-numbers give large finite levels, so a level is never 0 or NaN.
double Float32Convert(int b0, int b1, int b2, int b3);

/// Float contributions are signed by the level itself.
constexpr double FloatContribution(double level) { return level > 0 ? level : -level; }

inline Level DecodeFloat32(const std::uint8_t* b) {
  const double level = Float32Convert(b[0], b[1], b[2], b[3]);
  return {level, FloatContribution(level)};
}

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_DECODE_H_
