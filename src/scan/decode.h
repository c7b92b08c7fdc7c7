// Sample decoders. Every sample becomes a level on a scale on which full
// scale is 128, and a contribution (+level or -level) to its line's sum.
#ifndef AMPDOTS_SCAN_DECODE_H_
#define AMPDOTS_SCAN_DECODE_H_

#include <bit>
#include <cstdint>

#include "io/bytes.h"

namespace ampdots {

/// Format codes that decide how samples of one or four bytes read.
inline constexpr std::uint32_t kFormatPcm = 1;
inline constexpr std::uint32_t kFormatFloat = 3;
inline constexpr std::uint32_t kFormatALaw = 6;
inline constexpr std::uint32_t kFormatMuLaw = 7;

struct Level {
  double level;
  double contribution;  ///< what the sample adds to its line's sum
};

// PCM contributions are signed by the top byte, not by the level: a sample
// whose top byte is 0 (a level in [0, 1)) is subtracted, and a negative
// level is added with its sign flipped. Files rely on this picture.
constexpr double PcmContribution(std::int8_t hi, double level) { return hi > 0 ? level : -level; }

/// An unsigned 8-bit sample: its offset from 128 is the level itself.
constexpr Level DecodePcm8(const std::uint8_t* b) {
  const auto hi = static_cast<std::int8_t>(b[0] - 128);
  const double level = hi;
  return {level, PcmContribution(hi, level)};
}

/// A 16-bit little-endian sample: the signed value / 256.
constexpr Level DecodePcm16(const std::uint8_t* b) {
  const auto hi = static_cast<std::int8_t>(b[1]);
  const double level = hi + b[0] / 256.0;
  return {level, PcmContribution(hi, level)};
}

/// G.711 companded bytes expand to 16-bit values (-32256 to 32256), which
/// then read as 16-bit samples do.
constexpr std::int32_t MuLawValue(std::uint8_t byte) {
  const std::int32_t c = ~byte & 0xFF;
  const std::int32_t e = (c >> 4) & 7;
  const std::int32_t m = c & 15;
  const std::int32_t magnitude = (((m << 3) + 0x84) << e) - 0x84;
  return (c & 0x80) != 0 ? -magnitude : magnitude;
}

constexpr std::int32_t ALawValue(std::uint8_t byte) {
  const std::int32_t c = byte ^ 0x55;
  const std::int32_t e = (c >> 4) & 7;
  const std::int32_t m = c & 15;
  const std::int32_t magnitude = e == 0 ? (m << 4) + 8 : ((m << 4) + 0x108) << (e - 1);
  return (c & 0x80) != 0 ? magnitude : -magnitude;
}

/// A 16-bit value as a level, signed into the line sum by its top byte.
constexpr Level Level16(std::int32_t v) {
  const auto hi = static_cast<std::int8_t>(v >> 8);
  const double level = v / 256.0;
  return {level, PcmContribution(hi, level)};
}

constexpr Level DecodeMuLaw(const std::uint8_t* b) { return Level16(MuLawValue(b[0])); }
constexpr Level DecodeALaw(const std::uint8_t* b) { return Level16(ALawValue(b[0])); }

/// A 24-bit little-endian sample: the signed value / 65536.
constexpr Level DecodePcm24(const std::uint8_t* b) {
  const auto hi = static_cast<std::int8_t>(b[2]);
  const double level = hi + b[1] / 256.0 + b[0] / 65536.0;
  return {level, PcmContribution(hi, level)};
}

/// A 32-bit little-endian integer sample: the signed value / 2^24.
constexpr Level DecodePcm32(const std::uint8_t* b) {
  const auto hi = static_cast<std::int8_t>(b[3]);
  const double level = hi + b[2] / 256.0 + b[1] / 65536.0 + b[0] / 16777216.0;
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

/// A 64-bit IEEE-754 float, its bytes little-endian whatever the host's
/// order: the level is 128 x its value, exactly (zero is 0, infinities and
/// not-a-numbers stay what they are).
inline Level DecodeFloat64(const std::uint8_t* b) {
  const double level = 128.0 * std::bit_cast<double>(Assem8(b));
  return {level, FloatContribution(level)};
}

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_DECODE_H_
