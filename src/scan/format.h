// Number formatting for the per-line output: the same bytes as printf's
// "%.2f", "%.3f" and "%lld", without its cost, since a fine resolution prints
// millions of lines.
#ifndef AMPDOTS_SCAN_FORMAT_H_
#define AMPDOTS_SCAN_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace ampdots {

/// Room FormatFixed and FormatInteger may need.
inline constexpr std::size_t kMaxNumberText = 48;

/// `x` with `decimals` (0 to 9; exact integer arithmetic up to 3) fractional digits, as
/// printf("%.*f") prints the float widened to double: the exact binary value rounded to nearest,
/// ties to even. Returns the length written to `out`.
std::size_t FormatFixed(float x, int decimals, char* out);

/// `v` in decimal, as printf("%lld"). Returns the length written to `out`.
std::size_t FormatInteger(std::int64_t v, char* out);

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_FORMAT_H_
