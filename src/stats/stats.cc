#include "stats/stats.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <iterator>
#include <limits>
#include <numeric>
#include <type_traits>
#include <utility>

#include "io/bytes.h"
#include "scan/decode.h"
#include "scan/kernels.h"
#include "scan/sample_formats.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include "scan/line_rows_avx2.h"
#endif

namespace ampdots {
namespace {

// Lanes summed side by side; a row holds lcm(kStatsLanes, channels)
// samples, so lane j always holds channel j % channels.
constexpr std::size_t kStatsLanes = 8;

// Where a run's peak first stands is found only when asked for (a run
// whose peak may become the interval's) and only when the peak grows,
// which in most recordings is seldom: by looking again at that channel's
// samples for the first that reaches it.
enum class PeakFrames { kFind, kLeave };

// A loop's totals of channel `c` over `frames` frames at `bytes` (sums in
// the layout's lowest bits, the largest magnitude `m`) folded into its
// figures: where the peak grows, its frame is left unknown or (kFind)
// looked for, the first that reaches it.
template <typename Layout, std::uint32_t kChannels, PeakFrames kPeakFrames>
void FoldChannel(ChannelStats& channel, std::uint32_t c, double sum, double squares,
                 std::uint64_t clipped, std::uint32_t m, const std::uint8_t* bytes,
                 std::size_t frames, std::uint64_t firstFrame) {
  constexpr double kUnit = 1.0 / (128.0 * Layout::kTopByteOne);  // a power of two
  channel.sum += sum * kUnit;
  channel.squares += squares * (kUnit * kUnit);
  channel.clipped += clipped;
  const double peak = m * kUnit;
  if (frames == 0 || !(peak > channel.peak)) return;
  channel.peak = peak;
  channel.peakFrame = kUnknownFrame;
  if constexpr (kPeakFrames == PeakFrames::kFind) {
    for (std::size_t f = 0; f < frames; ++f) {
      if (PcmMagnitude(Layout::Value(bytes + (f * kChannels + c) * Layout::kWidth)) == m) {
        channel.peakFrame = firstFrame + f;
        break;
      }
    }
  }
}

// Integer samples: their sums and squares in integer lanes, exact for a
// chunk (at most 2^18 samples): squares of up to 24 bits in 64 bits, of 32
// bits in doubles; peaks and rail counts in 32 bits. `Layout::Value` reads
// the value; x is that over 128 x kTopByteOne (2^15 for 16-bit and the
// one-byte formats). Whole rows, then what is left as a row of its own,
// written out twice: the compiler vectorizes plain statements, not a
// lambda's.
template <typename Layout, std::uint32_t kChannels, PeakFrames kPeakFrames>
__attribute__((always_inline)) inline void PcmStats(const std::uint8_t* bytes, std::size_t frames,
                                                    std::uint64_t firstFrame, Rails rails,
                                                    Stats& stats) {
  constexpr std::size_t kRow = std::lcm(kStatsLanes, std::size_t{kChannels});
  constexpr std::size_t kWidth = Layout::kWidth;
  using Square = std::conditional_t<(Layout::kTopByteOne > 65536), double, std::int64_t>;
  const std::size_t samples = frames * kChannels;
  std::int64_t sum[kRow] = {};
  Square squares[kRow] = {};
  std::uint32_t max[kRow] = {};
  std::uint32_t clipped[kRow] = {};
  std::size_t i = 0;
  for (; samples - i >= kRow; i += kRow) {
    const std::uint8_t* row = bytes + i * kWidth;
    for (std::size_t j = 0; j < kRow; ++j) {
      const std::int64_t v = Layout::Value(row + j * kWidth);
      sum[j] += v;
      squares[j] += static_cast<Square>(v * v);
      max[j] = std::max(max[j], PcmMagnitude(static_cast<std::int32_t>(v)));
      clipped[j] += static_cast<std::uint32_t>((v >= rails.high) | (v <= rails.low));
    }
  }
  for (std::size_t j = 0; i < samples; ++i, ++j) {
    const std::int64_t v = Layout::Value(bytes + i * kWidth);
    sum[j] += v;
    squares[j] += static_cast<Square>(v * v);
    max[j] = std::max(max[j], PcmMagnitude(static_cast<std::int32_t>(v)));
    clipped[j] += static_cast<std::uint32_t>((v >= rails.high) | (v <= rails.low));
  }

  for (std::uint32_t c = 0; c < kChannels; ++c) {
    double s = 0.0;
    double q = 0.0;
    std::uint32_t m = 0;
    std::uint64_t k = 0;
    for (std::size_t j = c; j < kRow; j += kChannels) {
      s += static_cast<double>(sum[j]);
      q += static_cast<double>(squares[j]);
      m = std::max(m, max[j]);
      k += clipped[j];
    }
    FoldChannel<Layout, kChannels, kPeakFrames>(stats.channel[c], c, s, q, k, m, bytes, frames,
                                                firstFrame);
  }
  stats.frames += frames;
}

// Float samples as stored: not-a-numbers are counted and add nothing else;
// a lane's peak starts below any magnitude, so -1 after a run means that
// the channel had nothing but not-a-numbers.
template <typename Value, std::size_t kRow>
struct FloatLanes {
  double sum[kRow] = {};
  double squares[kRow] = {};
  Value max[kRow];
  std::uint32_t clipped[kRow] = {};
  std::uint32_t nan[kRow] = {};
  FloatLanes() { std::fill(std::begin(max), std::end(max), Value{-1}); }
};

template <typename Value, std::size_t kRow>
__attribute__((always_inline)) inline void AddFloatSample(FloatLanes<Value, kRow>& lanes,
                                                          std::size_t j, Value x) {
  const bool isNan = x != x;
  const double d = isNan ? 0.0 : static_cast<double>(x);
  lanes.sum[j] += d;
  lanes.squares[j] += d * d;
  const Value a = std::fabs(x);
  lanes.max[j] = a > lanes.max[j] ? a : lanes.max[j];  // never a not-a-number
  lanes.clipped[j] += static_cast<std::uint32_t>(a >= Value{1});
  lanes.nan[j] += static_cast<std::uint32_t>(isNan);
}

// The lanes of `frames` frames at `bytes` into each channel's figures.
// Inlined into the vector loops, so that it is built with theirs.
template <typename Sample, std::uint32_t kChannels, PeakFrames kPeakFrames, std::size_t kRow>
__attribute__((always_inline)) inline void FoldFloatLanes(
    const FloatLanes<typename Sample::Value, kRow>& lanes, const std::uint8_t* bytes,
    std::size_t frames, std::uint64_t firstFrame, Stats& stats) {
  using Value = typename Sample::Value;
  constexpr std::size_t kWidth = Sample::kWidth;
  for (std::uint32_t c = 0; c < kChannels; ++c) {
    double s = 0.0;
    double q = 0.0;
    Value m = -1;
    std::uint64_t k = 0;
    std::uint64_t n = 0;
    for (std::size_t j = c; j < kRow; j += kChannels) {
      s += lanes.sum[j];
      q += lanes.squares[j];
      m = std::max(m, lanes.max[j]);
      k += lanes.clipped[j];
      n += lanes.nan[j];
    }
    ChannelStats& channel = stats.channel[c];
    channel.sum += s;
    channel.squares += q;
    channel.clipped += k;
    channel.nan += n;
    const auto peak = static_cast<double>(m);
    if (!(peak > channel.peak)) continue;
    channel.peak = peak;
    channel.peakFrame = kUnknownFrame;
    if constexpr (kPeakFrames == PeakFrames::kFind) {
      for (std::size_t f = 0; f < frames; ++f) {
        if (std::fabs(Sample::Read(bytes + (f * kChannels + c) * kWidth)) == m) {
          channel.peakFrame = firstFrame + f;
          break;
        }
      }
    }
  }
  stats.frames += frames;
}

template <typename Sample, std::uint32_t kChannels, PeakFrames kPeakFrames>
__attribute__((always_inline)) inline void FloatStats(const std::uint8_t* bytes, std::size_t frames,
                                                      std::uint64_t firstFrame, Rails,
                                                      Stats& stats) {
  constexpr std::size_t kRow = std::lcm(kStatsLanes, std::size_t{kChannels});
  constexpr std::size_t kWidth = Sample::kWidth;
  const std::size_t samples = frames * kChannels;
  FloatLanes<typename Sample::Value, kRow> lanes;
  std::size_t i = 0;
  for (; samples - i >= kRow; i += kRow) {
    const std::uint8_t* row = bytes + i * kWidth;
    for (std::size_t j = 0; j < kRow; ++j) AddFloatSample(lanes, j, Sample::Read(row + j * kWidth));
  }
  for (std::size_t j = 0; i < samples; ++i, ++j) {
    AddFloatSample(lanes, j, Sample::Read(bytes + i * kWidth));
  }
  FoldFloatLanes<Sample, kChannels, kPeakFrames>(lanes, bytes, frames, firstFrame, stats);
}

using StatsLoop = void (*)(const std::uint8_t*, std::size_t, std::uint64_t, Rails, Stats&);
using StatsLoops = std::array<StatsLoop, kMaxChannels>;

// Each loop built twice from the same source: for any processor, and with
// AVX2 where the processor has it. Tests hold both to the reference.
template <typename Layout, std::uint32_t kChannels, PeakFrames kPeakFrames>
void PortablePcm(const std::uint8_t* b, std::size_t f, std::uint64_t at, Rails r, Stats& s) {
  PcmStats<Layout, kChannels, kPeakFrames>(b, f, at, r, s);
}
template <typename Sample, std::uint32_t kChannels, PeakFrames kPeakFrames>
void PortableFloat(const std::uint8_t* b, std::size_t f, std::uint64_t at, Rails r, Stats& s) {
  FloatStats<Sample, kChannels, kPeakFrames>(b, f, at, r, s);
}
#if defined(__x86_64__)
template <typename Layout, std::uint32_t kChannels, PeakFrames kPeakFrames>
__attribute__((target("avx2"))) void Avx2Pcm(const std::uint8_t* b, std::size_t f, std::uint64_t at,
                                             Rails r, Stats& s) {
  PcmStats<Layout, kChannels, kPeakFrames>(b, f, at, r, s);
}
// The float loops end by clearing the vector registers' upper halves
// themselves: the compiler does not always, and code that runs with them
// in use after the loop (libm's logarithms, for one) is many times slower.
template <typename Sample, std::uint32_t kChannels, PeakFrames kPeakFrames>
__attribute__((target("avx2"))) void Avx2Float(const std::uint8_t* b, std::size_t f,
                                               std::uint64_t at, Rails r, Stats& s) {
  FloatStats<Sample, kChannels, kPeakFrames>(b, f, at, r, s);
  _mm256_zeroupper();
}

// Mono or stereo 32-bit float samples by hand, 8 a row, two rows at a time
// into two sets of lanes: the compiler keeps one set and waits on each
// addition (and on each max, as one set of peaks did). Lane j holds sample
// j of a row (channel j % kChannels), as in the portable loop: its sums and
// squares in doubles (the float's value is exact in one, and so is its
// square, so that a fused multiply-add rounds as the multiplication and
// addition did), its peak in float lanes (a not-a-number never replaces
// it), its rail and not-a-number counts in 32-bit lanes. Rails are counted
// in a second pass, only where a peak reaches one, as they seldom do.
struct Float32Rows {
  __m256d sumLow, sumHigh, squaresLow, squaresHigh;
  __m256 max;
};

// A row's magnitudes.
__attribute__((target("avx2"), always_inline)) inline __m256 Float32Magnitudes(__m256 v) {
  return _mm256_and_ps(v, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
}

__attribute__((target("avx2"), always_inline)) inline __m256 LoadFloat32Row(
    const std::uint8_t* row) {
  return _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row)));
}

// A row into the sums, squares and peaks; with kCountNan, its
// not-a-numbers counted and left out of the sums, else taken in (where
// one is, its lane's sum is then not a number: the rows are done again).
template <bool kCountNan>
__attribute__((target("avx2,fma"), always_inline)) inline void AddFloat32Row(
    const std::uint8_t* row, Float32Rows& r, __m256i& nan) {
  const __m256 v = LoadFloat32Row(row);
  r.max = _mm256_max_ps(Float32Magnitudes(v), r.max);  // the second where either is not a number
  __m256 d = v;
  if constexpr (kCountNan) {
    const __m256 isNan = _mm256_cmp_ps(v, v, _CMP_UNORD_Q);
    nan = _mm256_sub_epi32(nan, _mm256_castps_si256(isNan));
    d = _mm256_andnot_ps(isNan, v);
  }
  const __m256d low = _mm256_cvtps_pd(_mm256_castps256_ps128(d));
  const __m256d high = _mm256_cvtps_pd(_mm256_extractf128_ps(d, 1));
  r.sumLow = _mm256_add_pd(r.sumLow, low);
  r.sumHigh = _mm256_add_pd(r.sumHigh, high);
  r.squaresLow = _mm256_fmadd_pd(low, low, r.squaresLow);
  r.squaresHigh = _mm256_fmadd_pd(high, high, r.squaresHigh);
}

// The whole rows of `samples` from `bytes`, from nothing, two at a time
// into lanes of their own; returns the samples they took.
template <bool kCountNan>
__attribute__((target("avx2,fma"), always_inline)) inline std::size_t AddFloat32Rows(
    const std::uint8_t* bytes, std::size_t samples, Float32Rows (&rows)[2], __m256& max,
    __m256i& nan) {
  const __m256d zero = _mm256_setzero_pd();
  rows[0] = rows[1] = {zero, zero, zero, zero, _mm256_set1_ps(-1.0f)};
  nan = _mm256_setzero_si256();
  std::size_t i = 0;
  for (; samples - i >= 16; i += 16) {
    AddFloat32Row<kCountNan>(bytes + 4 * i, rows[0], nan);
    AddFloat32Row<kCountNan>(bytes + 4 * i + 32, rows[1], nan);
  }
  if (samples - i >= 8) {
    AddFloat32Row<kCountNan>(bytes + 4 * i, rows[0], nan);
    i += 8;
  }
  // Neither set's peaks is ever a not-a-number.
  max = _mm256_max_ps(rows[0].max, rows[1].max);
  return i;
}

template <std::uint32_t kChannels, PeakFrames kPeakFrames>
__attribute__((target("avx2,fma"))) void Avx2Float32Stats(const std::uint8_t* bytes,
                                                          std::size_t frames,
                                                          std::uint64_t firstFrame, Rails,
                                                          Stats& stats) {
  static_assert(kChannels == 1 || kChannels == 2);
  const std::size_t samples = frames * kChannels;
  const __m256d zero = _mm256_setzero_pd();
  Float32Rows rows[2];
  __m256 max;
  __m256i clipped = _mm256_setzero_si256();
  __m256i nan;
  // Not-a-numbers seldom come: the rows take them in, and are done again
  // counting them only where a sum or square came out not a number (which
  // an infinity less an infinity also gives; done again, the same).
  std::size_t i = AddFloat32Rows<false>(bytes, samples, rows, max, nan);
  __m256d sums = zero;
  for (const Float32Rows& r : rows) {
    sums = _mm256_add_pd(sums, _mm256_add_pd(_mm256_add_pd(r.sumLow, r.sumHigh),
                                             _mm256_add_pd(r.squaresLow, r.squaresHigh)));
  }
  if (_mm256_movemask_pd(_mm256_cmp_pd(sums, sums, _CMP_UNORD_Q)) != 0) {
    i = AddFloat32Rows<true>(bytes, samples, rows, max, nan);
  }
  // Rails are counted only where some magnitude reaches one: a
  // not-a-number never does.
  const __m256 one = _mm256_set1_ps(1.0f);
  if (_mm256_movemask_ps(_mm256_cmp_ps(max, one, _CMP_GE_OQ)) != 0) {
    for (std::size_t k = 0; k < i; k += 8) {
      const __m256 clips =
          _mm256_cmp_ps(Float32Magnitudes(LoadFloat32Row(bytes + 4 * k)), one, _CMP_GE_OQ);
      clipped = _mm256_sub_epi32(clipped, _mm256_castps_si256(clips));
    }
  }
  FloatLanes<float, kStatsLanes> lanes;
  _mm256_storeu_pd(lanes.sum, _mm256_add_pd(rows[0].sumLow, rows[1].sumLow));
  _mm256_storeu_pd(lanes.sum + 4, _mm256_add_pd(rows[0].sumHigh, rows[1].sumHigh));
  _mm256_storeu_pd(lanes.squares, _mm256_add_pd(rows[0].squaresLow, rows[1].squaresLow));
  _mm256_storeu_pd(lanes.squares + 4, _mm256_add_pd(rows[0].squaresHigh, rows[1].squaresHigh));
  _mm256_storeu_ps(lanes.max, max);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes.clipped), clipped);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes.nan), nan);
  // The rest, fewer than a row, in the lanes their places in a row give.
  for (std::size_t j = 0; i < samples; ++i, ++j) {
    AddFloatSample(lanes, j, Float32Sample::Read(bytes + 4 * i));
  }
  FoldFloatLanes<Float32Sample, kChannels, kPeakFrames>(lanes, bytes, frames, firstFrame, stats);
  _mm256_zeroupper();
}

// The samples [from, samples) of a picture's line that the vector rows
// left, one at a time, into `line`.
template <typename Layout>
void LineTail(const std::uint8_t* bytes, std::size_t from, std::size_t samples,
              std::uint32_t channels, PcmTotals& line) {
  for (std::size_t i = from; i < samples; ++i) {
    const std::int32_t v = Layout::Value(bytes + i * Layout::kWidth);
    line.sum += PcmContribution<Layout::kTopByteOne>(v);
    std::uint32_t& peak = line.max[i % channels];
    peak = std::max(peak, PcmMagnitude(v));
  }
}

// Mono or stereo 24-bit samples by hand, 8 a row, since the compiler is
// slow at spreading three bytes into a lane: each sample's bytes into the
// top of a 32-bit lane, which the shift right sign-extends (a row reads 4
// bytes past its 24, so the last rows go to the portable loop). Lane j
// holds channel j % kChannels; squares go to 64-bit lanes, even lanes and
// odd lanes apart; sums stay in 32-bit lanes for 255 rows (2^23 each).
// Rails are counted in a second pass, only where a peak reaches one.
// Whether a vector loop's lane peaks (magnitudes) reach the nearer rail:
// below it no sample can be at either, and its rails need no count.
template <typename Lane, std::size_t kLanes>
bool PeaksReachRails(const Lane (&maxLanes)[kLanes], Rails rails) {
  const auto nearer = static_cast<std::uint32_t>(std::min(rails.high, -rails.low));
  return std::any_of(std::begin(maxLanes), std::end(maxLanes),
                     [&](Lane m) { return std::uint32_t{m} >= nearer; });
}

// Eight 24-bit samples at `row` (and 4 bytes past them), sign-extended in
// 32-bit lanes.
__attribute__((target("avx2"), always_inline)) inline __m256i Pcm24Row(const std::uint8_t* row,
                                                                       __m256i spread) {
  const __m256i raw = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + 12),
                                          reinterpret_cast<const __m128i*>(row));
  return _mm256_srai_epi32(_mm256_shuffle_epi8(raw, spread), 8);
}

// With kLine, the picture's line of the same frames too, into `line`: its
// sum of contributions and its channels' peaks, as the picture's loops give
// them.
template <std::uint32_t kChannels, PeakFrames kPeakFrames, bool kLine>
__attribute__((target("avx2"))) void Avx2Pcm24Rows(const std::uint8_t* bytes, std::size_t frames,
                                                   std::uint64_t firstFrame, Rails rails,
                                                   Stats& stats, PcmTotals* line) {
  static_assert(kChannels == 1 || kChannels == 2);
  const std::size_t samples = frames * kChannels;
  const __m256i spread = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11,  //
                                          -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  const __m256i atOrAboveHigh = _mm256_set1_epi32(rails.high - 1);
  const __m256i atOrBelowLow = _mm256_set1_epi32(rails.low + 1);
  __m256i squaresEven = _mm256_setzero_si256();
  __m256i squaresOdd = _mm256_setzero_si256();
  __m256i max = _mm256_setzero_si256();
  __m256i clipped = _mm256_setzero_si256();
  std::int64_t sums[8] = {};
  std::int64_t lineSum = 0;
  std::size_t i = 0;
  while (samples - i >= 10) {
    // 255 rows of at most 2^23 a lane, in sums and line contributions alike.
    const std::size_t rows = std::min<std::size_t>((samples - i - 2) / 8, 255);
    __m256i sum = _mm256_setzero_si256();
    __m256i contributions = _mm256_setzero_si256();
    for (std::size_t r = 0; r < rows; ++r, i += 8) {
      const __m256i v = Pcm24Row(bytes + 3 * i, spread);
      sum = _mm256_add_epi32(sum, v);
      squaresEven = _mm256_add_epi64(squaresEven, _mm256_mul_epi32(v, v));
      const __m256i odd = _mm256_shuffle_epi32(v, 0xF5);  // odd lanes to even places
      squaresOdd = _mm256_add_epi64(squaresOdd, _mm256_mul_epi32(odd, odd));
      max = _mm256_max_epu32(max, _mm256_abs_epi32(v));
      if constexpr (kLine) contributions = _mm256_add_epi32(contributions, Contributions24(v));
    }
    std::int32_t lanes[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), sum);
    for (std::size_t j = 0; j < 8; ++j) sums[j] += lanes[j];
    if constexpr (kLine) lineSum += SumInt32Lanes(contributions);
  }
  std::uint32_t maxLanes[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(maxLanes), max);
  if (PeaksReachRails(maxLanes, rails)) {
    for (std::size_t k = 0; k < i; k += 8) {
      const __m256i v = Pcm24Row(bytes + 3 * k, spread);
      const __m256i rail = _mm256_or_si256(_mm256_cmpgt_epi32(v, atOrAboveHigh),
                                           _mm256_cmpgt_epi32(atOrBelowLow, v));
      clipped = _mm256_sub_epi32(clipped, rail);
    }
  }
  // Squares of lane j, from the even or the odd 64-bit lanes.
  std::int64_t even[4];
  std::int64_t odd[4];
  std::uint32_t clipLanes[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(even), squaresEven);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(odd), squaresOdd);
  std::int64_t squareLanes[8];
  for (std::size_t k = 0; k < 4; ++k) {
    squareLanes[2 * k] = even[k];
    squareLanes[2 * k + 1] = odd[k];
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(clipLanes), clipped);
  _mm256_zeroupper();
  const std::size_t vectorFrames = i / kChannels;
  for (std::uint32_t c = 0; c < kChannels; ++c) {
    std::int64_t s = 0;
    double q = 0.0;
    std::uint32_t m = 0;
    std::uint64_t k = 0;
    for (std::size_t j = c; j < 8; j += kChannels) {
      s += sums[j];
      q += static_cast<double>(squareLanes[j]);
      m = std::max(m, maxLanes[j]);
      k += clipLanes[j];
    }
    FoldChannel<Pcm24Layout, kChannels, kPeakFrames>(stats.channel[c], c, static_cast<double>(s), q,
                                                     k, m, bytes, vectorFrames, firstFrame);
    if constexpr (kLine) {
      if (vectorFrames > 0) line->max[c] = std::max(line->max[c], m);
    }
  }
  stats.frames += vectorFrames;
  PcmStats<Pcm24Layout, kChannels, kPeakFrames>(bytes + 3 * i, frames - vectorFrames,
                                                firstFrame + vectorFrames, rails, stats);
  if constexpr (kLine) {
    line->sum += lineSum;
    LineTail<Pcm24Layout>(bytes, i, samples, kChannels, *line);
  }
}

template <std::uint32_t kChannels, PeakFrames kPeakFrames>
void Avx2Pcm24Stats(const std::uint8_t* bytes, std::size_t frames, std::uint64_t firstFrame,
                    Rails rails, Stats& stats) {
  Avx2Pcm24Rows<kChannels, kPeakFrames, false>(bytes, frames, firstFrame, rails, stats, nullptr);
}
#endif

#if defined(__x86_64__)
// Adds the 32-bit lanes of `x`, read as unsigned, to 64-bit lanes: those
// of its 128-bit halves' low pairs to `low`, of their high pairs to `high`.
__attribute__((target("avx2"), always_inline)) inline void AddWidened(__m256i& low, __m256i& high,
                                                                      __m256i x) {
  const __m256i zero = _mm256_setzero_si256();
  low = _mm256_add_epi64(low, _mm256_unpacklo_epi32(x, zero));
  high = _mm256_add_epi64(high, _mm256_unpackhi_epi32(x, zero));
}

// Whether a layout's values fit 16 bits: 16-bit samples, and the one-byte
// formats, which stand for 16-bit values.
template <typename Layout>
constexpr bool kValues16 =
    std::is_same_v<Layout, Pcm16Layout> || std::is_same_v<Layout, Pcm8Layout> ||
    std::is_same_v<Layout, MuLawLayout> || std::is_same_v<Layout, ALawLayout>;

// The 16-bit values of the 16 samples at `row`. A G.711 code's magnitude
// is a small number times a power of two, less a bias (as the codes'
// tables have it): the power is looked up by the code's step in a table of
// bytes, the rest is arithmetic in the lanes.
template <typename Layout>
__attribute__((target("avx2"), always_inline)) inline __m256i Values16(const std::uint8_t* row) {
  if constexpr (std::is_same_v<Layout, Pcm16Layout>) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row));
  } else {
    const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
    if constexpr (std::is_same_v<Layout, Pcm8Layout>) {
      return _mm256_slli_epi16(_mm256_sub_epi16(b, _mm256_set1_epi16(128)), 8);
    } else {
      constexpr bool kMuLaw = std::is_same_v<Layout, MuLawLayout>;
      static_assert(kMuLaw || std::is_same_v<Layout, ALawLayout>);
      const __m256i c = _mm256_xor_si256(b, _mm256_set1_epi16(kMuLaw ? 0xFF : 0x55));
      const __m256i step = _mm256_and_si256(_mm256_srli_epi16(c, 4), _mm256_set1_epi16(7));
      const __m256i mantissa = _mm256_and_si256(c, _mm256_set1_epi16(15));
      // The power of two of each step in the low byte, zero in the high one
      // (an index with its top bit set looks up zero).
      const __m256i powers =
          kMuLaw ? _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                    1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0)
                 : _mm256_setr_epi8(1, 1, 2, 4, 8, 16, 32, 64, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                    1, 1, 2, 4, 8, 16, 32, 64, 0, 0, 0, 0, 0, 0, 0, 0);
      const __m256i power = _mm256_shuffle_epi8(
          powers, _mm256_or_si256(step, _mm256_set1_epi16(static_cast<short>(0x8000))));
      // The top bit of the code: set where mu-law is negative and where
      // A-law is positive.
      const __m256i top = _mm256_srai_epi16(_mm256_slli_epi16(c, 8), 15);
      __m256i magnitude;
      __m256i negative;
      if constexpr (kMuLaw) {
        // (((m << 3) + 0x84) << step) - 0x84
        const __m256i base =
            _mm256_add_epi16(_mm256_slli_epi16(mantissa, 3), _mm256_set1_epi16(0x84));
        magnitude = _mm256_sub_epi16(_mm256_mullo_epi16(base, power), _mm256_set1_epi16(0x84));
        negative = top;
      } else {
        // (m << 4) + 8 at step 0, else ((m << 4) + 0x108) << (step - 1)
        const __m256i stepZero = _mm256_cmpeq_epi16(step, _mm256_setzero_si256());
        const __m256i bias = _mm256_sub_epi16(_mm256_set1_epi16(0x108),
                                              _mm256_and_si256(stepZero, _mm256_set1_epi16(0x100)));
        const __m256i base = _mm256_add_epi16(_mm256_slli_epi16(mantissa, 4), bias);
        magnitude = _mm256_mullo_epi16(base, power);
        negative = _mm256_xor_si256(top, _mm256_set1_epi16(-1));
      }
      return _mm256_sub_epi16(_mm256_xor_si256(magnitude, negative), negative);
    }
  }
}

// Mono or stereo samples whose values fit 16 bits, by hand, 16 a row,
// since the compiler widens every sample to 64 bits for its square (and
// looks a one-byte code up one at a time): sums and squares by
// multiply-adds of 16-bit pairs into 32-bit lanes (stereo first parts each
// 128-bit lane's left samples from its right ones, so that a pair never
// mixes channels), widened to 64 bits every row for squares and every
// block of rows for sums; peaks and rail counts in the 16-bit lanes
// themselves, lane j holding channel j % kChannels. Rails are counted in a
// second pass, only where a peak reaches one, as they seldom do.
// With kLine, the picture's line of the same frames too, as Avx2Pcm24Rows:
// the contributions less their bias summed in pairs by a multiply-add.
template <typename Layout, std::uint32_t kChannels, PeakFrames kPeakFrames, bool kLine>
__attribute__((target("avx2"))) void Avx2Rows16(const std::uint8_t* bytes, std::size_t frames,
                                                std::uint64_t firstFrame, Rails rails, Stats& stats,
                                                PcmTotals* line) {
  static_assert(kChannels == 1 || kChannels == 2);
  static_assert(kValues16<Layout>);
  constexpr std::size_t kWidth = Layout::kWidth;
  constexpr std::size_t kRowSamples = 16;
  // A block's 32-bit sums take at most 2^16 a row, its 16-bit rail counts
  // one: well within both.
  constexpr std::size_t kBlockRows = 16384;
  const std::size_t samples = frames * kChannels;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi16(1);
  // Each 128-bit lane's left samples to its low half, its right ones to its
  // high half: a pair never mixes channels, and its 32-bit lanes hold the
  // left channel's, the right's, the left's, the right's in pairs.
  const __m256i parted = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15, 0,
                                          1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
  // Rails fit 16 bits: the highest is at most 32767, the lowest -32768.
  const __m256i atOrAboveHigh = _mm256_set1_epi16(static_cast<short>(rails.high - 1));
  const __m256i atOrBelowLow = _mm256_set1_epi16(static_cast<short>(rails.low + 1));
  // [channel][half], 64-bit lanes: mono adds both halves into [0][0],
  // stereo its left channel's into [0][0] and its right's into [1][1].
  __m256i squares[2][2] = {{zero, zero}, {zero, zero}};
  __m256i max = zero;
  std::int64_t sums[kChannels] = {};
  std::int64_t lineSum = 0;
  std::uint64_t clippedLanes[kRowSamples] = {};
  std::size_t i = 0;
  while (samples - i >= kRowSamples) {
    // A row's line contributions add at most 2 x 16639 to a lane.
    const std::size_t rows = std::min((samples - i) / kRowSamples, kBlockRows);
    __m256i sum = zero;
    __m256i contributions = zero;
    for (std::size_t r = 0; r < rows; ++r, i += kRowSamples) {
      const __m256i v = Values16<Layout>(bytes + kWidth * i);
      max = _mm256_max_epu16(max, _mm256_abs_epi16(v));
      if constexpr (kLine) {
        contributions =
            _mm256_add_epi32(contributions, _mm256_madd_epi16(Contributions16(v), ones));
      }
      // Two squares of at most 2^30 each in a 32-bit lane: read as
      // unsigned, exact. Stereo's widening parts the channels: its low
      // unpack takes each 128-bit lane's left pairs, its high one the right.
      const __m256i pairs = kChannels == 1 ? v : _mm256_shuffle_epi8(v, parted);
      sum = _mm256_add_epi32(sum, _mm256_madd_epi16(pairs, ones));
      AddWidened(squares[0][0], squares[kChannels - 1][kChannels - 1],
                 _mm256_madd_epi16(pairs, pairs));
    }
    std::int32_t sumLanes[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sumLanes), sum);
    for (std::size_t j = 0; j < 8; ++j) sums[j / 2 % kChannels] += sumLanes[j];
    if constexpr (kLine) {
      // Each of the rows' samples had the bias taken off.
      lineSum += SumInt32Lanes(contributions) +
                 kContribution16Bias * std::int64_t{kRowSamples} * static_cast<std::int64_t>(rows);
    }
  }
  std::uint16_t maxLanes[kRowSamples];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(maxLanes), max);
  if (PeaksReachRails(maxLanes, rails)) {
    for (std::size_t k = 0; k < i;) {
      const std::size_t rows = std::min((i - k) / kRowSamples, kBlockRows);
      __m256i clipped = zero;
      for (std::size_t r = 0; r < rows; ++r, k += kRowSamples) {
        const __m256i v = Values16<Layout>(bytes + kWidth * k);
        const __m256i rail = _mm256_or_si256(_mm256_cmpgt_epi16(v, atOrAboveHigh),
                                             _mm256_cmpgt_epi16(atOrBelowLow, v));
        clipped = _mm256_sub_epi16(clipped, rail);
      }
      std::uint16_t clipLanes[kRowSamples];
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(clipLanes), clipped);
      for (std::size_t j = 0; j < kRowSamples; ++j) clippedLanes[j] += clipLanes[j];
    }
  }
  std::uint64_t squareLanes[kChannels][8];
  for (std::uint32_t c = 0; c < kChannels; ++c) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(squareLanes[c]), squares[c][0]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(squareLanes[c] + 4), squares[c][1]);
  }
  _mm256_zeroupper();
  const std::size_t vectorFrames = i / kChannels;
  for (std::uint32_t c = 0; c < kChannels; ++c) {
    const std::uint64_t q =
        std::accumulate(std::begin(squareLanes[c]), std::end(squareLanes[c]), std::uint64_t{0});
    std::uint32_t m = 0;
    std::uint64_t k = 0;
    for (std::size_t j = c; j < kRowSamples; j += kChannels) {
      m = std::max<std::uint32_t>(m, maxLanes[j]);
      k += clippedLanes[j];
    }
    FoldChannel<Layout, kChannels, kPeakFrames>(stats.channel[c], c, static_cast<double>(sums[c]),
                                                static_cast<double>(q), k, m, bytes, vectorFrames,
                                                firstFrame);
    if constexpr (kLine) {
      if (vectorFrames > 0) line->max[c] = std::max(line->max[c], m);
    }
  }
  stats.frames += vectorFrames;
  PcmStats<Layout, kChannels, kPeakFrames>(bytes + kWidth * i, frames - vectorFrames,
                                           firstFrame + vectorFrames, rails, stats);
  if constexpr (kLine) {
    line->sum += lineSum;
    LineTail<Layout>(bytes, i, samples, kChannels, *line);
  }
}

template <typename Layout, std::uint32_t kChannels, PeakFrames kPeakFrames>
void Avx2Stats16(const std::uint8_t* bytes, std::size_t frames, std::uint64_t firstFrame,
                 Rails rails, Stats& stats) {
  Avx2Rows16<Layout, kChannels, kPeakFrames, false>(bytes, frames, firstFrame, rails, stats,
                                                    nullptr);
}

// The vector loop for frames of kChannels samples of a layout: mono and
// stereo 24-bit, 16-bit and one-byte samples have one by hand.
template <typename Layout, std::uint32_t kChannels, PeakFrames kPeakFrames>
constexpr StatsLoop VectorPcmLoop() {
  if constexpr (std::is_same_v<Layout, Pcm24Layout> && kChannels <= 2) {
    return Avx2Pcm24Stats<kChannels, kPeakFrames>;
  } else if constexpr (kValues16<Layout> && kChannels <= 2) {
    return Avx2Stats16<Layout, kChannels, kPeakFrames>;
  } else {
    return Avx2Pcm<Layout, kChannels, kPeakFrames>;
  }
}
#endif

#if defined(__x86_64__)
template <typename Sample, std::uint32_t kChannels, PeakFrames kPeakFrames>
constexpr StatsLoop VectorFloatLoop() {
  if constexpr (std::is_same_v<Sample, Float32Sample> && kChannels <= 2) {
    return Avx2Float32Stats<kChannels, kPeakFrames>;
  } else {
    return Avx2Float<Sample, kChannels, kPeakFrames>;
  }
}
#endif

template <typename Layout, PeakFrames kPeakFrames, std::size_t... kC>
constexpr StatsLoops PcmLoops(bool vector, std::index_sequence<kC...>) {
#if defined(__x86_64__)
  if (vector) return {VectorPcmLoop<Layout, kC + 1, kPeakFrames>()...};
#endif
  (void)vector;
  return {PortablePcm<Layout, kC + 1, kPeakFrames>...};
}

template <typename Sample, PeakFrames kPeakFrames, std::size_t... kC>
constexpr StatsLoops FloatLoops(bool vector, std::index_sequence<kC...>) {
#if defined(__x86_64__)
  if (vector) return {VectorFloatLoop<Sample, kC + 1, kPeakFrames>()...};
#endif
  (void)vector;
  return {PortableFloat<Sample, kC + 1, kPeakFrames>...};
}

template <PeakFrames kPeakFrames>
StatsLoops LoopsFor(Decoder decoder, bool vector) {
  constexpr auto kEach = std::make_index_sequence<kMaxChannels>();
  return VisitFormat(decoder, [&](auto format) {
    using F = decltype(format);
    if constexpr (F::kFloat) {
      return FloatLoops<typename F::Sample, kPeakFrames>(vector, kEach);
    } else {
      return PcmLoops<typename F::Layout, kPeakFrames>(vector, kEach);
    }
  });
}

template <PeakFrames kPeakFrames>
void AddStatsOf(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                std::uint64_t firstFrame, Stats& stats);

// The bits of an integer sample's container, and those of them that carry
// the sample.
std::uint32_t ContainerBits(const ScanPlan& plan) { return 8 * plan.bytesPerSample; }

std::uint32_t ValidBitsOf(const ScanPlan& plan) {
  const std::uint32_t container = ContainerBits(plan);
  return plan.validBits >= 1 && plan.validBits <= container ? plan.validBits : container;
}

// The largest magnitude a G.711 code expands to.
std::int32_t LargestExpansion(std::int32_t (*expand)(std::uint8_t)) {
  std::int32_t largest = 0;
  for (int b = 0; b < 256; ++b) largest = std::max(largest, expand(static_cast<std::uint8_t>(b)));
  return largest;
}

}  // namespace

ReferenceSample ReadReference(const ScanPlan& plan, const std::uint8_t* b) {
  return VisitFormat(plan.decoder, [&](auto format) {
    using F = decltype(format);
    ReferenceSample sample;
    if constexpr (F::kFloat) {
      sample.x = static_cast<double>(F::Sample::Read(b));
      sample.clips = std::fabs(sample.x) >= 1.0;
    } else {
      sample.x = F::kDecode(b).level / 128;
      if constexpr (F::kCompanded) {
        static const double kRail = LargestExpansion(F::kExpand) / 32768.0;
        sample.clips = std::fabs(sample.x) >= kRail;
      } else {
        // The largest code of the valid bits is 1 - 2^-(valid - 1); the
        // smallest is -1 whatever the valid bits.
        const int valid = static_cast<int>(ValidBitsOf(plan));
        sample.clips = sample.x >= 1.0 - std::ldexp(1.0, 1 - valid) || sample.x <= -1.0;
      }
    }
    return sample;
  });
}

Rails RailsFor(const ScanPlan& plan) {
  return VisitFormat(plan.decoder, [&](auto format) {
    using F = decltype(format);
    if constexpr (F::kFloat) {
      // Float clips by its value: no integer is a rail.
      return Rails{std::numeric_limits<std::int32_t>::max(),
                   std::numeric_limits<std::int32_t>::min()};
    } else if constexpr (F::kCompanded) {
      // Found once: the figures ask for the rails every line in the record modes.
      static const std::int32_t largest = LargestExpansion(F::kExpand);
      return Rails{largest, -largest};
    } else {
      // The extreme codes of the valid bits, in the layout's values: a
      // one-byte code is worth 256 of them, any other code one.
      const std::int64_t container = ContainerBits(plan);
      const std::int64_t valid = ValidBitsOf(plan);
      const std::int64_t scale = (std::int64_t{128} * F::Layout::kTopByteOne) >> (container - 1);
      const std::int64_t high = ((std::int64_t{1} << (valid - 1)) - 1) << (container - valid);
      const std::int64_t low = -(std::int64_t{1} << (container - 1));
      return Rails{static_cast<std::int32_t>(high * scale), static_cast<std::int32_t>(low * scale)};
    }
  });
}

namespace {

template <PeakFrames kPeakFrames>
void AddStatsOf(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                std::uint64_t firstFrame, Stats& stats) {
  if (plan.decoder == Decoder::kNone || plan.channels < 1 || plan.channels > kMaxChannels) {
    stats.frames += frames;
    return;
  }
  const StatsLoops loops =
      LoopsFor<kPeakFrames>(plan.decoder, plan.vector && VectorLoopsAvailable());
  loops[plan.channels - 1](bytes, frames, firstFrame, RailsFor(plan), stats);
}

}  // namespace

void AddStats(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
              std::uint64_t firstFrame, Stats& stats) {
  AddStatsOf<PeakFrames::kFind>(plan, bytes, frames, firstFrame, stats);
}

void AddRunStats(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                 std::uint64_t firstFrame, Stats& stats) {
  AddStatsOf<PeakFrames::kLeave>(plan, bytes, frames, firstFrame, stats);
}

namespace {

using LineRowsLoop = void (*)(const std::uint8_t*, std::size_t, std::uint64_t, Rails, Stats&,
                              PcmTotals*);

// The loop that works out a run's figures and its picture's line at once,
// where there is one: mono and stereo samples whose values fit 16 bits,
// and 24-bit ones, in vector lanes.
LineRowsLoop LineRowsFor(const ScanPlan& plan) {
#if defined(__x86_64__)
  if (!plan.vector || !VectorLoopsAvailable() || plan.channels < 1 || plan.channels > 2) {
    return nullptr;
  }
  const bool stereo = plan.channels == 2;
  return VisitFormat(plan.decoder, [&](auto format) -> LineRowsLoop {
    using F = decltype(format);
    if constexpr (F::kFloat) {
      return nullptr;
    } else {
      using Layout = typename F::Layout;
      constexpr auto kLeave = PeakFrames::kLeave;
      if constexpr (std::is_same_v<Layout, Pcm24Layout>) {
        return stereo ? Avx2Pcm24Rows<2, kLeave, true> : Avx2Pcm24Rows<1, kLeave, true>;
      } else if constexpr (kValues16<Layout>) {
        return stereo ? Avx2Rows16<Layout, 2, kLeave, true> : Avx2Rows16<Layout, 1, kLeave, true>;
      } else {
        return nullptr;
      }
    }
  });
#else
  (void)plan;
  return nullptr;
#endif
}

}  // namespace

bool FiguresGiveLines(const ScanPlan& plan) { return LineRowsFor(plan) != nullptr; }

void AddRunStatsAndLine(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                        std::uint64_t firstFrame, Stats& stats, PcmTotals& line) {
  LineRowsFor(plan)(bytes, frames, firstFrame, RailsFor(plan), stats, &line);
}

void MergeRun(Stats& into, Stats& run, const ScanPlan& plan, const std::uint8_t* bytes,
              std::uint64_t firstFrame) {
  for (std::uint32_t c = 0; c < plan.channels && c < kMaxChannels; ++c) {
    ChannelStats& channel = run.channel[c];
    if (channel.peakFrame != kUnknownFrame || !(channel.peak > into.channel[c].peak)) continue;
    // The peak is the interval's now: where it first stands is wanted.
    // The run's frames are in memory at `bytes`: their count fits a size_t.
    Stats located;
    AddStats(plan, bytes, static_cast<std::size_t>(run.frames), firstFrame, located);
    channel.peakFrame = located.channel[c].peakFrame;
  }
  MergeStats(into, run);
}

void AddStatsReference(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                       std::uint64_t firstFrame, Stats& stats) {
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::uint32_t c = 0; c < plan.channels && plan.decoder != Decoder::kNone; ++c) {
      const std::uint8_t* at = bytes + (f * plan.channels + c) * plan.bytesPerSample;
      const ReferenceSample sample = ReadReference(plan, at);
      const double x = sample.x;
      ChannelStats& channel = stats.channel[c];
      if (std::isnan(x)) {
        ++channel.nan;
        continue;
      }
      channel.sum += x;
      channel.squares += x * x;
      if (sample.clips) ++channel.clipped;
      if (std::fabs(x) > channel.peak) {
        channel.peak = std::fabs(x);
        channel.peakFrame = firstFrame + f;
      }
    }
  }
  stats.frames += frames;
}

void MergeStats(Stats& into, const Stats& from) {
  into.frames += from.frames;
  for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
    ChannelStats& a = into.channel[c];
    const ChannelStats& b = from.channel[c];
    a.sum += b.sum;
    a.squares += b.squares;
    a.clipped += b.clipped;
    a.nan += b.nan;
    if (b.peak > a.peak || (b.peak == a.peak && b.peak >= 0 && b.peakFrame < a.peakFrame)) {
      a.peak = b.peak;
      a.peakFrame = b.peakFrame;
    }
  }
}

double Decibels(double value) {
  if (value == 0.0) return -std::numeric_limits<double>::infinity();
  return 20.0 * std::log10(value);
}

Figures FiguresOf(const ChannelStats& channel, std::uint64_t frames, std::uint32_t sampleRate) {
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  Figures f{kNone, kNone, kNone, kNone, kNone, channel.clipped, channel.nan};
  const std::uint64_t samples = frames - std::min(frames, channel.nan);
  if (samples == 0 || channel.peak < 0) return f;
  f.peakDb = Decibels(channel.peak);
  f.peakTime = sampleRate == 0 ? kNone : static_cast<double>(channel.peakFrame) / sampleRate;
  const double meanSquare = channel.squares / static_cast<double>(samples);
  f.rmsDb = Decibels(std::sqrt(meanSquare));
  f.dc = channel.sum / static_cast<double>(samples);
  // Silence has no crest: -inf less -inf is no number.
  f.crestDb = f.peakDb - f.rmsDb;
  return f;
}

ChannelFigures FiguresOf(const Stats& stats, const ScanPlan& plan) {
  ChannelFigures figures{};
  for (std::uint32_t c = 0; c < plan.channels; ++c) {
    figures.channel[c] = FiguresOf(stats.channel[c], stats.frames, plan.sampleRate);
  }
  return figures;
}

}  // namespace ampdots
