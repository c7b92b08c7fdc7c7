// Number formatting for the per-line output: the same bytes as printf's
// "%.2f", "%.3f" and "%lld", without its cost, since a fine resolution prints
// millions of lines.
#ifndef AMPDOTS_SCAN_FORMAT_H_
#define AMPDOTS_SCAN_FORMAT_H_

#include <bit>
#include <cstddef>
#include <cstdint>

namespace ampdots {

/// Room FormatFixed and FormatInteger may need.
inline constexpr std::size_t kMaxNumberText = 48;

/// `x` with `decimals` (0 to 9; exact integer arithmetic up to 3) fractional digits, as
/// printf("%.*f") prints the float widened to double: the exact binary value rounded to nearest,
/// ties to even. Returns the length written to `out`.
std::size_t FormatFixed(float x, int decimals, char* out);

inline constexpr std::uint64_t kFixedPow10[] = {1,      10,      100,      1000,      10000,
                                                100000, 1000000, 10000000, 100000000, 1000000000};

/// The first half of FormatFixed: `x` x 10^decimals rounded as printf
/// rounds, where that is exact in 64-bit integers (x from 0 to 2^40, up to 3
/// decimals). False where it is not.
inline bool ScaleFixed(float x, int decimals, std::uint64_t& scaled) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
  const std::uint32_t biased = (bits >> 23) & 0xFF;
  // Beyond 2^40 or 3 decimals (and for signs, infinities and not-a-numbers,
  // which a time stamp never has) the exact integer arithmetic below would
  // not fit.
  if ((bits >> 31) != 0 || biased >= 127 + 40 || decimals < 0 || decimals > 3) return false;
  // x = mantissa x 2^exponent exactly; scaled = x x 10^decimals.
  const std::uint64_t mantissa = biased == 0 ? (bits & 0x7FFFFF) : (bits & 0x7FFFFF) | 0x800000;
  const int exponent = biased == 0 ? -149 : static_cast<int>(biased) - 150;
  const std::uint64_t product = mantissa * kFixedPow10[decimals];  // < 2^34
  if (exponent >= 0) {
    scaled = product << exponent;  // exponent < 17: below 2^50
  } else if (exponent <= -63) {
    scaled = 0;  // product < 2^34 makes the value far below one half
  } else {
    const int shift = -exponent;
    scaled = product >> shift;
    const std::uint64_t rest = product & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (scaled & 1) != 0)) ++scaled;
  }
  return true;
}

/// The second half: the digits of a value ScaleFixed gave (or any count of
/// units of 10^-decimals, decimals 0 to 9).
std::size_t FormatScaled(std::uint64_t scaled, int decimals, char* out);

/// `v`, below 10^digits, in exactly `digits` (0 to 3) digits, zeros in
/// front: the decimals of a time stamp whose whole units are already
/// written.
void FormatDecimalsOf(std::uint64_t v, int digits, char* out);

/// `x` with `decimals` (0 to 9) fractional digits, as printf("%.*f") prints
/// it, where that can be decided fast: |x| x 10^decimals below 2^40 and not
/// within 10^-3 of a tie, where the product's rounding error (at most
/// 2^-13) cannot change the digit. Returns the length written to `out`, or
/// 0 where printf must decide.
std::size_t FormatDecimal(double x, int decimals, char* out);

/// `v` in decimal, as printf("%lld"). Returns the length written to `out`.
std::size_t FormatInteger(std::int64_t v, char* out);

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_FORMAT_H_
