#include "scan/kernels.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <numeric>
#include <type_traits>

#include "scan/sample_formats.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include "scan/line_rows_avx2.h"
#endif

namespace ampdots {
namespace {

// Lanes processed side by side; the compiler turns each row of lanes into
// vector instructions. Even lanes hold left samples, odd lanes right ones.
constexpr std::size_t kLanes = 16;

// Lanes [0, seen) hold the largest magnitudes of their samples.
template <typename T, std::size_t kCount>
void FoldFloatPeaks(const T (&max)[kCount], std::size_t seen, bool stereo, FloatPeaks& peaks) {
  for (std::size_t j = 0; j < seen; ++j) {
    std::int64_t& peak = peaks.max[stereo ? j % 2 : 0];
    peak = std::max<std::int64_t>(peak, max[j]);
  }
}

// Frames of kChannels samples, sum and peaks in one pass, in rows of
// lcm(kLanes, kChannels) lanes: lane j always holds channel j % kChannels,
// so the lanes' largest magnitudes are the channels' peaks. `kMaxRows` rows
// of lanes keep each `Sum` lane in range.
template <typename Layout, std::uint32_t kChannels, std::size_t kMaxRows, typename Sum>
__attribute__((always_inline)) inline void ChannelRows(const std::uint8_t* bytes,
                                                       std::size_t samples, PcmTotals& totals) {
  constexpr std::size_t kRow = std::lcm(kLanes, std::size_t{kChannels});
  constexpr std::size_t kWidth = Layout::kWidth;
  std::size_t i = 0;
  while (samples - i >= kRow) {
    const std::size_t rows = std::min((samples - i) / kRow, kMaxRows);
    Sum sum[kRow] = {};
    std::uint32_t max[kRow] = {};
    for (std::size_t r = 0; r < rows; ++r, i += kRow) {
      const std::uint8_t* row = bytes + i * kWidth;
      for (std::size_t j = 0; j < kRow; ++j) {
        const std::int32_t v = Layout::Value(row + j * kWidth);
        sum[j] += PcmContribution<Layout::kTopByteOne>(v);
        max[j] = std::max(max[j], PcmMagnitude(v));
      }
    }
    for (std::size_t j = 0; j < kRow; ++j) {
      totals.sum += sum[j];
      totals.max[j % kChannels] = std::max(totals.max[j % kChannels], max[j]);
    }
  }
  for (; i < samples; ++i) {
    AddPcmSample<Layout::kTopByteOne>(Layout::Value(bytes + i * kWidth), i % kChannels, totals);
  }
}

// Mono or stereo samples, as one or two channels.
template <typename Layout, std::size_t kMaxRows, typename Sum = std::int32_t>
inline void AccumulatePcm(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                          PcmTotals& totals) {
  if (stereo) return ChannelRows<Layout, 2, kMaxRows, Sum>(bytes, samples, totals);
  ChannelRows<Layout, 1, kMaxRows, Sum>(bytes, samples, totals);
}

template <typename Layout, std::uint32_t kChannels, std::size_t kMaxRows, typename Sum>
void PortableChannels(const std::uint8_t* bytes, std::size_t samples, PcmTotals& totals) {
  ChannelRows<Layout, kChannels, kMaxRows, Sum>(bytes, samples, totals);
}

void PortablePcm16(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals) {
  // |contribution| <= 2^15: 32767 rows stay below 2^31.
  AccumulatePcm<Pcm16Layout, 32767>(bytes, samples, stereo, totals);
}

void PortablePcm24(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals) {
  // |contribution| <= 2^23: 255 rows stay below 2^31.
  AccumulatePcm<Pcm24Layout, 255>(bytes, samples, stereo, totals);
}

void PortablePcm32(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals) {
  // |contribution| <= 2^31, summed in 64-bit lanes: no row limit in reach.
  AccumulatePcm<Pcm32Layout, SIZE_MAX, std::int64_t>(bytes, samples, stereo, totals);
}

void PortableFloat(const std::uint8_t* bytes, std::size_t samples, bool stereo, double* magnitudes,
                   FloatPeaks& peaks) {
  std::uint32_t max[kLanes] = {};
  std::size_t i = 0;
  for (; samples - i >= kLanes; i += kLanes) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      const std::uint32_t magnitude = Assem4(bytes + 4 * (i + j)) & 0x7FFFFFFF;
      magnitudes[i + j] = FloatMagnitudeLevel(magnitude);
      max[j] = std::max(max[j], magnitude);
    }
  }
  for (std::size_t j = 0; i < samples; ++i, ++j) {
    const std::uint32_t magnitude = Assem4(bytes + 4 * i) & 0x7FFFFFFF;
    magnitudes[i] = FloatMagnitudeLevel(magnitude);
    max[j] = std::max(max[j], magnitude);
  }
  FoldFloatPeaks(max, std::min(samples, kLanes), stereo, peaks);
}

// Lines of float samples summed side by side, kLineLanes at a time: each
// line still adds its samples in its own order, which fixes its rounding,
// but the additions of different lines overlap. A sample's channel is its
// place in the line, odd or even, since lines start with a frame.
constexpr std::size_t kLineLanes = 8;

// `take(sample, sum, peak)` adds a sample of kWidth bytes to its line's sum
// and its channel's peak.
template <std::size_t kWidth, typename Peak, typename Take>
void LineLanes(const std::uint8_t* bytes, std::size_t lines, std::size_t perLine, bool stereo,
               double* sums, Peak (&max)[2], Take take) {
  for (std::size_t first = 0; first < lines; first += kLineLanes) {
    const std::size_t n = std::min(kLineLanes, lines - first);
    const std::uint8_t* line = bytes + kWidth * first * perLine;
    double s[kLineLanes] = {};
    for (std::size_t i = 0; i < perLine; ++i) {
      Peak& peak = max[stereo ? i % 2 : 0];
      for (std::size_t k = 0; k < n; ++k) take(line + kWidth * (k * perLine + i), s[k], peak);
    }
    std::copy(s, s + n, sums + first);
  }
}

void PortableFloatLineSums(const std::uint8_t* bytes, std::size_t lines, std::size_t perLine,
                           bool stereo, double* sums, FloatPeaks& peaks) {
  std::int64_t max[2] = {-1, -1};
  LineLanes<4>(bytes, lines, perLine, stereo, sums, max,
               [](const std::uint8_t* b, double& sum, std::int64_t& peak) {
                 const std::uint32_t magnitude = Assem4(b) & 0x7FFFFFFF;
                 sum += FloatMagnitudeLevel(magnitude);
                 peak = std::max<std::int64_t>(peak, magnitude);
               });
  for (std::size_t c = 0; c < 2; ++c) peaks.max[c] = std::max(peaks.max[c], max[c]);
}

void PortableFloat64LineSums(const std::uint8_t* bytes, std::size_t lines, std::size_t perLine,
                             bool stereo, double* sums, FloatPeaks& peaks) {
  double max[2] = {-1.0, -1.0};  // not-a-numbers never replace a lane's largest
  LineLanes<8>(bytes, lines, perLine, stereo, sums, max,
               [](const std::uint8_t* b, double& sum, double& peak) {
                 const double magnitude = Float64Magnitude(b);
                 sum += magnitude;
                 peak = magnitude > peak ? magnitude : peak;
               });
  for (std::size_t c = 0; c < 2; ++c) {
    if (max[c] >= 0.0) peaks.max[c] = std::max(peaks.max[c], std::bit_cast<std::int64_t>(max[c]));
  }
}

// |128 x value| of 64-bit float samples in rows of lanes; a lane keeps its
// largest magnitude as a double, which not-a-numbers never replace (they
// fail the comparison), and whose order is the order of its bits.
void PortableFloat64(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                     double* magnitudes, FloatPeaks& peaks) {
  double max[kLanes];
  std::fill(std::begin(max), std::end(max), -1.0);
  std::size_t i = 0;
  const auto take = [&](std::size_t k, double& lane) {
    const double magnitude = Float64Magnitude(bytes + 8 * k);
    magnitudes[k] = magnitude;
    lane = magnitude > lane ? magnitude : lane;
  };
  for (; samples - i >= kLanes; i += kLanes) {
    for (std::size_t j = 0; j < kLanes; ++j) take(i + j, max[j]);
  }
  for (std::size_t j = 0; i < samples; ++i, ++j) take(i, max[j]);
  std::int64_t bits[kLanes];
  for (std::size_t j = 0; j < kLanes; ++j) {
    bits[j] = max[j] < 0.0 ? -1 : std::bit_cast<std::int64_t>(max[j]);
  }
  FoldFloatPeaks(bits, std::min(samples, kLanes), stereo, peaks);
}

// The largest of `peak(sample)` for each channel.
template <typename T, typename Peak>
void EachChannel(const std::uint8_t* bytes, std::size_t frames, std::uint32_t channels,
                 std::size_t width, Peak peak, T* max) {
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::uint32_t c = 0; c < channels; ++c, bytes += width) {
      max[c] = std::max<T>(max[c], peak(bytes));
    }
  }
}

#if defined(__x86_64__)
#include "scan/kernels_avx2.inc"
#include "scan/kernels_avx2_float.inc"
#endif

#if defined(__x86_64__)
// The float figures' loop also takes fused multiply-adds, which every
// processor with AVX2 has but which is asked for on its own.
const bool hasAvx2AndFma = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#endif

}  // namespace

bool VectorLoopsAvailable() {
#if defined(__x86_64__)
  return hasAvx2AndFma;
#else
  return false;
#endif
}

// The vector loop where the processor has one, else the portable one.
#if defined(__x86_64__)
#define AMPDOTS_VECTOR(loop) loop
#else
#define AMPDOTS_VECTOR(loop) nullptr
#endif

template <typename... Args>
void VectorOr(bool wanted, std::type_identity_t<void (*)(Args...)> vector,
              void (*portable)(Args...), std::type_identity_t<Args>... args) {
  (wanted && vector != nullptr && VectorLoopsAvailable() ? vector : portable)(args...);
}

void AccumulatePcm16(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                     bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2Pcm16), PortablePcm16, bytes, samples, stereo, totals);
}

void AccumulatePcm24(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                     bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2Pcm24), PortablePcm24, bytes, samples, stereo, totals);
}

void AccumulatePcm32(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                     bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2Pcm32), PortablePcm32, bytes, samples, stereo, totals);
}

// One-byte samples stand for 16-bit values (|contribution| <= 2^15): rows
// as for 16-bit samples.
void AccumulatePcm8(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                    bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2Pcm8), AccumulatePcm<Pcm8Layout, 32767>, bytes, samples,
           stereo, totals);
}

void AccumulateMuLaw(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                     bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2Companded<MuLawRows>), AccumulatePcm<MuLawLayout, 32767>,
           bytes, samples, stereo, totals);
}

void AccumulateALaw(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                    bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2Companded<ALawRows>), AccumulatePcm<ALawLayout, 32767>, bytes,
           samples, stereo, totals);
}

namespace {

// Each line through the format's loop for a run of samples, its sum taken
// apart from the running total's.
template <typename F>
void EachLineSum(const std::uint8_t* bytes, std::size_t lines, std::size_t perLine, bool stereo,
                 std::int64_t* sums, PcmTotals& totals, bool vector) {
  const std::size_t lineBytes = perLine * F::Layout::kWidth;
  const std::int64_t kept = totals.sum;
  for (std::size_t j = 0; j < lines; ++j) {
    totals.sum = 0;
    F::kAccumulate(bytes + j * lineBytes, perLine, stereo, totals, vector);
    sums[j] = totals.sum;
  }
  totals.sum = kept;
}

}  // namespace

void PcmLineSums(Decoder decoder, const std::uint8_t* bytes, std::size_t lines, std::size_t perLine,
                 bool stereo, std::int64_t* sums, PcmTotals& totals, bool vector) {
#if defined(__x86_64__)
  // The one-byte formats' lines are the shortest for their bytes: their
  // loops take every line of a run in one call.
  if (vector && VectorLoopsAvailable()) {
    switch (decoder) {
      case Decoder::kPcm8:
        return Avx2Pcm8Lines(bytes, lines, perLine, stereo, sums, totals);
      case Decoder::kMuLaw:
        return Avx2CompandedLines<MuLawRows>(bytes, lines, perLine, stereo, sums, totals);
      case Decoder::kALaw:
        return Avx2CompandedLines<ALawRows>(bytes, lines, perLine, stereo, sums, totals);
      default:
        break;
    }
  }
#endif
  VisitFormat(decoder, [&](auto format) {
    using F = decltype(format);
    if constexpr (!F::kFloat) EachLineSum<F>(bytes, lines, perLine, stereo, sums, totals, vector);
  });
}

void Float64LineSums(const std::uint8_t* bytes, std::size_t lines, std::size_t perLine, bool stereo,
                     double* sums, FloatPeaks& peaks, bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2Float64LineSums), PortableFloat64LineSums, bytes, lines,
           perLine, stereo, sums, peaks);
}

void Float64Magnitudes(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                       double* magnitudes, FloatPeaks& peaks, bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2Float64), PortableFloat64, bytes, samples, stereo, magnitudes,
           peaks);
}

namespace {

// The loop for frames of `channels` (3 to 8) samples of one layout: the
// vector build where the processor has it, else the portable one.
template <typename Layout, std::size_t kMaxRows, typename Sum = std::int32_t>
void Channels(const std::uint8_t* bytes, std::size_t samples, std::uint32_t channels,
              PcmTotals& totals, bool vector) {
  using Loop = void (*)(const std::uint8_t*, std::size_t, PcmTotals&);
  constexpr Loop kPortable[] = {
      PortableChannels<Layout, 3, kMaxRows, Sum>, PortableChannels<Layout, 4, kMaxRows, Sum>,
      PortableChannels<Layout, 5, kMaxRows, Sum>, PortableChannels<Layout, 6, kMaxRows, Sum>,
      PortableChannels<Layout, 7, kMaxRows, Sum>, PortableChannels<Layout, 8, kMaxRows, Sum>};
#if defined(__x86_64__)
  constexpr Loop kVector[] = {
      Avx2Channels<Layout, 3, kMaxRows, Sum>, Avx2Channels<Layout, 4, kMaxRows, Sum>,
      Avx2Channels<Layout, 5, kMaxRows, Sum>, Avx2Channels<Layout, 6, kMaxRows, Sum>,
      Avx2Channels<Layout, 7, kMaxRows, Sum>, Avx2Channels<Layout, 8, kMaxRows, Sum>};
  constexpr Loop kVector24[] = {Avx2Pcm24Channels<3>, Avx2Pcm24Channels<4>, Avx2Pcm24Channels<5>,
                                Avx2Pcm24Channels<6>, Avx2Pcm24Channels<7>, Avx2Pcm24Channels<8>};
  if (vector && VectorLoopsAvailable()) {
    // 24-bit samples have a loop of their own: the compiler's is slow at
    // spreading three bytes into a lane.
    if constexpr (std::is_same_v<Layout, Pcm24Layout>) {
      return kVector24[channels - 3](bytes, samples, totals);
    }
    return kVector[channels - 3](bytes, samples, totals);
  }
#endif
  (void)vector;  // no vector loops on this processor kind
  kPortable[channels - 3](bytes, samples, totals);
}

}  // namespace

void AccumulateChannels(Decoder decoder, const std::uint8_t* bytes, std::size_t frames,
                        std::uint32_t channels, PcmTotals& totals, bool vector) {
  VisitFormat(decoder, [&](auto format) {
    using F = decltype(format);
    if constexpr (!F::kFloat) {
      Channels<typename F::Layout, F::kMaxRows, typename F::Sum>(bytes, frames * channels, channels,
                                                                 totals, vector);
    }
  });
}

void FloatChannelPeaks(Decoder decoder, const std::uint8_t* bytes, std::size_t frames,
                       std::uint32_t channels, FloatPeaks& peaks) {
  if (decoder == Decoder::kFloat64) {
    return EachChannel(bytes, frames, channels, 8, Float64PeakBits, peaks.max);
  }
  const auto peak = [](const std::uint8_t* b) -> std::int64_t { return Assem4(b) & 0x7FFFFFFF; };
  EachChannel(bytes, frames, channels, 4, peak, peaks.max);
}

void FloatLineSums(const std::uint8_t* bytes, std::size_t lines, std::size_t perLine, bool stereo,
                   double* sums, FloatPeaks& peaks, bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2FloatLineSums), PortableFloatLineSums, bytes, lines, perLine,
           stereo, sums, peaks);
}

void FloatMagnitudes(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                     double* magnitudes, FloatPeaks& peaks, bool vector) {
  VectorOr(vector, AMPDOTS_VECTOR(Avx2Float), PortableFloat, bytes, samples, stereo, magnitudes,
           peaks);
}

}  // namespace ampdots
