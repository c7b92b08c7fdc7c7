#include "scan/format.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace ampdots {
namespace {

constexpr std::uint64_t kPow10[] = {1, 10, 100, 1000};

// Writes `v` with at least `minDigits` digits (zero-padded).
std::size_t FormatUnsigned(std::uint64_t v, std::size_t minDigits, char* out) {
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n < minDigits) digits[n++] = '0';
  for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

}  // namespace

std::size_t FormatFixed(float x, int decimals, char* out) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
  const std::uint32_t biased = (bits >> 23) & 0xFF;
  // Beyond 2^40 or 3 decimals (and for signs, infinities and not-a-numbers,
  // which a time stamp never has) the exact integer arithmetic below would
  // not fit; printf itself serves there.
  if ((bits >> 31) != 0 || biased >= 127 + 40 || decimals < 0 || decimals > 3) {
    const int n = std::snprintf(out, kMaxNumberText, "%.*f", decimals, static_cast<double>(x));
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  // x = mantissa x 2^exponent exactly; scaled = x x 10^decimals.
  const std::uint64_t mantissa = biased == 0 ? (bits & 0x7FFFFF) : (bits & 0x7FFFFF) | 0x800000;
  const int exponent = biased == 0 ? -149 : static_cast<int>(biased) - 150;
  const std::uint64_t product = mantissa * kPow10[decimals];  // < 2^34
  std::uint64_t scaled;
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
  std::size_t n = FormatUnsigned(scaled / kPow10[decimals], 1, out);
  if (decimals > 0) {
    out[n++] = '.';
    n += FormatUnsigned(scaled % kPow10[decimals], static_cast<std::size_t>(decimals), out + n);
  }
  return n;
}

std::size_t FormatInteger(std::int64_t v, char* out) {
  if (v >= 0) return FormatUnsigned(static_cast<std::uint64_t>(v), 1, out);
  out[0] = '-';
  // Negate in unsigned arithmetic so that the smallest value is safe.
  return 1 + FormatUnsigned(0 - static_cast<std::uint64_t>(v), 1, out + 1);
}

}  // namespace ampdots
