// The filters a loudness meter runs: the K-weighting curve (a high shelf,
// then a high-pass) for any sample rate, and the oversampling interpolator
// whose peaks are the true peak.
#ifndef AMPDOTS_LOUDNESS_FILTERS_H_
#define AMPDOTS_LOUDNESS_FILTERS_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace ampdots {

/// y = b0 x + b1 x[-1] + b2 x[-2] - a1 y[-1] - a2 y[-2].
struct Biquad {
  double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

struct KWeighting {
  Biquad shelf;
  Biquad highPass;
};

/// The K-weighting curve at `sampleRate`, built from the analog shelf and
/// high-pass that the broadcast meters' 48 kHz coefficients come from, so
/// that every rate has the same response.
KWeighting KWeightingFor(double sampleRate);

/// The interpolator that reads between samples: `factor` outputs a sample,
/// each from `taps` input samples. Output p of sample n (p < factor) is
/// sum over k < taps of coefficient[p][k] x[n - k].
inline constexpr std::size_t kMaxOversampling = 24;
inline constexpr std::size_t kMaxPeakTaps = 16;
struct Oversampler {
  std::uint32_t factor = 1;
  std::uint32_t taps = 1;
  std::array<std::array<float, kMaxPeakTaps>, kMaxOversampling> coefficient{};
};

/// The interpolator for `sampleRate`: 4 times with the broadcast meters'
/// 48-tap filter at 44.1 and 48 kHz; below, as many times as reach 192 kHz
/// (24 at 8 kHz), 2 times up to 192 kHz, none from there, each with a
/// windowed-sinc filter of 16 taps a phase whose first phase is the sample
/// itself.
Oversampler OversamplerFor(std::uint32_t sampleRate);

}  // namespace ampdots

#endif  // AMPDOTS_LOUDNESS_FILTERS_H_
