#include "scan/format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace ampdots {
namespace {

constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Writes `v` with at least `minDigits` digits (zero-padded), two at a time
// from the right.
std::size_t FormatUnsigned(std::uint64_t v, std::size_t minDigits, char* out) {
  std::size_t digits = 1;
  for (std::uint64_t bound = 10; digits < 20 && v >= bound; bound *= 10) ++digits;
  digits = std::max(digits, minDigits);
  std::size_t at = digits;
  while (at >= 2) {
    at -= 2;
    std::memcpy(out + at, kDigitPairs.data() + 2 * (v % 100), 2);
    v /= 100;
  }
  if (at == 1) out[0] = static_cast<char>('0' + v % 10);
  return digits;
}

// The whole units, then the decimals. With `decimals` known to the
// compiler, the division by its power of ten is a multiply: this runs once
// a line, where a divide instruction costs as much as the rest.
template <typename Decimals>
std::size_t FormatScaledAs(std::uint64_t scaled, Decimals decimals, char* out) {
  const std::uint64_t unit = kFixedPow10[decimals];
  std::size_t n = FormatUnsigned(scaled / unit, 1, out);
  if (decimals > 0) {
    out[n++] = '.';
    n += FormatUnsigned(scaled % unit, static_cast<std::size_t>(decimals), out + n);
  }
  return n;
}

}  // namespace

std::size_t FormatScaled(std::uint64_t scaled, int decimals, char* out) {
  switch (decimals) {  // a time stamp's decimals
    case 0:
      return FormatScaledAs(scaled, std::integral_constant<int, 0>{}, out);
    case 1:
      return FormatScaledAs(scaled, std::integral_constant<int, 1>{}, out);
    case 2:
      return FormatScaledAs(scaled, std::integral_constant<int, 2>{}, out);
    case 3:
      return FormatScaledAs(scaled, std::integral_constant<int, 3>{}, out);
    default:
      return FormatScaledAs(scaled, decimals, out);
  }
}

void FormatDecimalsOf(std::uint64_t v, int digits, char* out) {
  switch (digits) {
    case 1:
      out[0] = static_cast<char>('0' + v);
      return;
    case 2:
      std::memcpy(out, kDigitPairs.data() + 2 * v, 2);
      return;
    case 3:
      out[0] = static_cast<char>('0' + v / 100);
      std::memcpy(out + 1, kDigitPairs.data() + 2 * (v % 100), 2);
      return;
    default:
      return;
  }
}

std::size_t FormatFixed(float x, int decimals, char* out) {
  std::uint64_t scaled;
  if (ScaleFixed(x, decimals, scaled)) return FormatScaled(scaled, decimals, out);
  // printf itself serves where the exact integer arithmetic does not fit.
  const int n = std::snprintf(out, kMaxNumberText, "%.*f", decimals, static_cast<double>(x));
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::size_t FormatDecimal(double x, int decimals, char* out) {
  if (decimals < 0 || decimals > 9 || !std::isfinite(x)) return 0;
  const double scaled = std::fabs(x) * static_cast<double>(kFixedPow10[decimals]);
  if (!(scaled < 0x1p40)) return 0;
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;
  if (std::fabs(fraction - 0.5) <= 1e-3) return 0;
  const auto units = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
  std::size_t n = 0;
  if (std::signbit(x)) out[n++] = '-';  // as printf: -0.001 to 2 decimals is -0.00
  return n + FormatScaled(units, decimals, out + n);
}

std::size_t FormatInteger(std::int64_t v, char* out) {
  if (v >= 0) return FormatUnsigned(static_cast<std::uint64_t>(v), 1, out);
  out[0] = '-';
  // Negate in unsigned arithmetic so that the smallest value is safe.
  return 1 + FormatUnsigned(0 - static_cast<std::uint64_t>(v), 1, out + 1);
}

}  // namespace ampdots
