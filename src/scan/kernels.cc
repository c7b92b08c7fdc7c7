#include "scan/kernels.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <numeric>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
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
    std::int64_t& peak = stereo && j % 2 == 1 ? peaks.maxRight : peaks.maxLeft;
    peak = std::max<std::int64_t>(peak, max[j]);
  }
}

template <typename Sum>
void FoldLanes(const Sum (&sum)[kLanes], const std::uint32_t (&max)[kLanes], bool stereo,
               PcmTotals& totals) {
  for (std::size_t j = 0; j < kLanes; ++j) {
    totals.sum += sum[j];
    std::uint32_t& peak = stereo && j % 2 == 1 ? totals.maxRight : totals.maxLeft;
    peak = std::max(peak, max[j]);
  }
}

// `kMaxRows` rows of lanes keep each `Sum` lane in range.
template <typename Layout, std::size_t kMaxRows, typename Sum = std::int32_t>
inline void AccumulatePcm(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                          PcmTotals& totals) {
  constexpr std::size_t kWidth = Layout::kWidth;
  std::size_t i = 0;
  while (samples - i >= kLanes) {
    const std::size_t rows = std::min((samples - i) / kLanes, kMaxRows);
    Sum sum[kLanes] = {};
    std::uint32_t max[kLanes] = {};
    for (std::size_t r = 0; r < rows; ++r, i += kLanes) {
      const std::uint8_t* row = bytes + i * kWidth;
      for (std::size_t j = 0; j < kLanes; ++j) {
        const std::int32_t v = Layout::Value(row + j * kWidth);
        sum[j] += PcmContribution<Layout::kTopByteOne>(v);
        max[j] = std::max(max[j], PcmMagnitude(v));
      }
    }
    FoldLanes(sum, max, stereo, totals);
  }
  for (; i < samples; ++i) {
    AddPcmSample<Layout::kTopByteOne>(Layout::Value(bytes + i * kWidth), stereo && i % 2 == 1,
                                      totals);
  }
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

#if defined(__x86_64__)
#include "scan/kernels_avx2.inc"
#endif

#if defined(__x86_64__)
bool useAvx2 = __builtin_cpu_supports("avx2");
#endif

bool HasAvx2() {
#if defined(__x86_64__)
  return useAvx2;
#else
  return false;
#endif
}

}  // namespace

bool SetVectorKernels(bool enabled) {
#if defined(__x86_64__)
  useAvx2 = enabled && __builtin_cpu_supports("avx2");
#else
  (void)enabled;
#endif
  return HasAvx2();
}

// The vector loop where the processor has one, else the portable one.
#if defined(__x86_64__)
#define AMPDOTS_VECTOR(loop) loop
#else
#define AMPDOTS_VECTOR(loop) nullptr
#endif

template <typename... Args>
void VectorOr(std::type_identity_t<void (*)(Args...)> vector, void (*portable)(Args...),
              std::type_identity_t<Args>... args) {
  (vector != nullptr && HasAvx2() ? vector : portable)(args...);
}

void AccumulatePcm16(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                     PcmTotals& totals) {
  VectorOr(AMPDOTS_VECTOR(Avx2Pcm16), PortablePcm16, bytes, samples, stereo, totals);
}

void AccumulatePcm24(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                     PcmTotals& totals) {
  VectorOr(AMPDOTS_VECTOR(Avx2Pcm24), PortablePcm24, bytes, samples, stereo, totals);
}

void AccumulatePcm32(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                     PcmTotals& totals) {
  VectorOr(AMPDOTS_VECTOR(Avx2Pcm32), PortablePcm32, bytes, samples, stereo, totals);
}

// One-byte samples stand for 16-bit values (|contribution| <= 2^15): rows
// as for 16-bit samples.
void AccumulatePcm8(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                    PcmTotals& totals) {
  VectorOr(AMPDOTS_VECTOR(Avx2Pcm8), AccumulatePcm<Pcm8Layout, 32767>, bytes, samples, stereo,
           totals);
}

void AccumulateMuLaw(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                     PcmTotals& totals) {
  VectorOr(AMPDOTS_VECTOR(Avx2Companded<MuLawRows>), AccumulatePcm<MuLawLayout, 32767>, bytes,
           samples, stereo, totals);
}

void AccumulateALaw(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                    PcmTotals& totals) {
  VectorOr(AMPDOTS_VECTOR(Avx2Companded<ALawRows>), AccumulatePcm<ALawLayout, 32767>, bytes,
           samples, stereo, totals);
}

void FloatMagnitudes(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                     double* magnitudes, FloatPeaks& peaks) {
  VectorOr(AMPDOTS_VECTOR(Avx2Float), PortableFloat, bytes, samples, stereo, magnitudes, peaks);
}

}  // namespace ampdots
