// The picture's line contributions of a row of samples in AVX2 lanes,
// shared by the scan's line loops and the figures' loops that sum a line
// too: a contribution is |v|, but -v where the top byte is 0 and v is not
// negative (0 <= v < 2^(bits - 8)); and the sum of their lanes.
#ifndef AMPDOTS_SCAN_LINE_ROWS_AVX2_H_
#define AMPDOTS_SCAN_LINE_ROWS_AVX2_H_

#if defined(__x86_64__)
#include <immintrin.h>

#include <cstdint>
#include <iterator>
#include <numeric>

namespace ampdots {

/// What Contributions16 takes off each contribution.
inline constexpr std::int64_t kContribution16Bias = 16384;

/// Sixteen 16-bit values' contributions, each less kContribution16Bias: v
/// with the sign of t = (v - 256, saturating) | 1, which is never zero and
/// negative just where v < 256. Only v = -32768 has one (32768) that 16
/// bits cannot hold: its sign op wraps to -32768, and less the bias it
/// wraps back to 16384, which is right; so every result fits 16 bits, and
/// pairs of them add up in a multiply-add.
__attribute__((target("avx2"), always_inline)) inline __m256i Contributions16(__m256i v) {
  const __m256i t =
      _mm256_or_si256(_mm256_subs_epi16(v, _mm256_set1_epi16(256)), _mm256_set1_epi16(1));
  return _mm256_sub_epi16(_mm256_sign_epi16(v, t),
                          _mm256_set1_epi16(static_cast<short>(kContribution16Bias)));
}

/// Eight 24-bit values' (sign-extended in 32-bit lanes) contributions: v
/// with the sign of (v | 1) - 2^16, which is negative for 0 <= v < 2^16
/// and every negative v, and never zero.
__attribute__((target("avx2"), always_inline)) inline __m256i Contributions24(__m256i v) {
  const __m256i sign =
      _mm256_sub_epi32(_mm256_or_si256(v, _mm256_set1_epi32(1)), _mm256_set1_epi32(1 << 16));
  return _mm256_sign_epi32(v, sign);
}

/// The sum of eight 32-bit lanes, as a line's lanes are added up once a
/// block of rows.
__attribute__((target("avx2"), always_inline)) inline std::int64_t SumInt32Lanes(__m256i v) {
  std::int32_t lanes[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), v);
  return std::accumulate(std::begin(lanes), std::end(lanes), std::int64_t{0});
}

}  // namespace ampdots

#endif
#endif  // AMPDOTS_SCAN_LINE_ROWS_AVX2_H_
