#include "loudness/filters.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ampdots {
namespace {

// The analog prototypes behind the 48 kHz K-weighting table: a second-order
// high shelf and a second-order high-pass.
constexpr double kShelfHz = 1681.974450955533;
constexpr double kShelfGainDb = 3.999843853973347;
constexpr double kShelfQ = 0.7071752369554196;
constexpr double kShelfBandExponent = 0.4996667741545416;
constexpr double kHighPassHz = 38.13547087602444;
constexpr double kHighPassQ = 0.5003270373238773;

// The 4-times interpolator of the broadcast meters, phase by phase.
constexpr float kStandardPhases[4][12] = {
    {0.0017089843750f, 0.0109863281250f, -0.0196533203125f, 0.0332031250000f, -0.0594482421875f,
     0.1373291015625f, 0.9721679687500f, -0.1022949218750f, 0.0476074218750f, -0.0266113281250f,
     0.0148925781250f, -0.0083007812500f},
    {-0.0291748046875f, 0.0292968750000f, -0.0517578125000f, 0.0891113281250f, -0.1665039062500f,
     0.4650878906250f, 0.7797851562500f, -0.2003173828125f, 0.1015625000000f, -0.0582275390625f,
     0.0330810546875f, -0.0189208984375f},
    {-0.0189208984375f, 0.0330810546875f, -0.0582275390625f, 0.1015625000000f, -0.2003173828125f,
     0.7797851562500f, 0.4650878906250f, -0.1665039062500f, 0.0891113281250f, -0.0517578125000f,
     0.0292968750000f, -0.0291748046875f},
    {-0.0083007812500f, 0.0148925781250f, -0.0266113281250f, 0.0476074218750f, -0.1022949218750f,
     0.9721679687500f, 0.1373291015625f, -0.0594482421875f, 0.0332031250000f, -0.0196533203125f,
     0.0109863281250f, 0.0017089843750f},
};

constexpr std::uint32_t kTruePeakRate = 192000;
constexpr std::uint32_t kOwnTaps = 16;
constexpr double kKaiserBeta = 7.0;

double Kaiser(double t, double beta) {
  // t in [-1, 1]; the zeroth-order Bessel function by its series.
  const auto bessel = [](double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 40; ++k) {
      term *= (x / (2.0 * k)) * (x / (2.0 * k));
      sum += term;
    }
    return sum;
  };
  return bessel(beta * std::sqrt(std::max(0.0, 1.0 - t * t))) / bessel(beta);
}

// A windowed sinc cut at the input's Nyquist frequency: phase p reads at
// p / factor of a sample past sample n - taps / 2, so phase 0 is that
// sample exactly. Each phase sums to 1, so that a constant stays itself.
Oversampler OwnOversampler(std::uint32_t factor) {
  Oversampler o;
  if (factor == 1) {
    o.coefficient[0][0] = 1.0f;
    return o;
  }
  o.factor = factor;
  o.taps = kOwnTaps;
  const double half = kOwnTaps / 2.0;
  for (std::uint32_t p = 0; p < factor; ++p) {
    double sum = 0.0;
    double value[kMaxPeakTaps];
    for (std::uint32_t k = 0; k < kOwnTaps; ++k) {
      // Tap k reads x[n - k]; the output stands at n - taps / 2 + p / factor.
      const double t = (half - static_cast<double>(k)) - static_cast<double>(p) / factor;
      const double sinc = t == 0.0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
      value[k] = sinc * Kaiser(t / (half + 1.0), kKaiserBeta);
      sum += value[k];
    }
    for (std::uint32_t k = 0; k < kOwnTaps; ++k) {
      o.coefficient[p][k] = static_cast<float>(value[k] / sum);
    }
  }
  return o;
}

Biquad FromAnalog(double k, double q, double b0, double b1, double b2) {
  const double a0 = 1.0 + k / q + k * k;
  Biquad f;
  f.b0 = b0 / a0;
  f.b1 = b1 / a0;
  f.b2 = b2 / a0;
  f.a1 = 2.0 * (k * k - 1.0) / a0;
  f.a2 = (1.0 - k / q + k * k) / a0;
  return f;
}

double HighPassA0(double sampleRate) {
  const double k = std::tan(std::numbers::pi * kHighPassHz / sampleRate);
  return 1.0 + k / kHighPassQ + k * k;
}

}  // namespace

KWeighting KWeightingFor(double sampleRate) {
  KWeighting w;
  const double k = std::tan(std::numbers::pi * kShelfHz / sampleRate);
  const double vh = std::pow(10.0, kShelfGainDb / 20.0);
  const double vb = std::pow(vh, kShelfBandExponent);
  w.shelf = FromAnalog(k, kShelfQ, vh + vb * k / kShelfQ + k * k, 2.0 * (k * k - vh),
                       vh - vb * k / kShelfQ + k * k);
  const double kh = std::tan(std::numbers::pi * kHighPassHz / sampleRate);
  w.highPass = FromAnalog(kh, kHighPassQ, 1.0, -2.0, 1.0);
  // The meters' table keeps the high-pass numerator at 1, -2, 1: a gain of
  // its 48 kHz a0 (+0.04 dB) over the whole band, which every rate keeps,
  // rather than one that drifts with the rate's a0.
  const double gain = HighPassA0(48000.0) / HighPassA0(sampleRate);
  w.highPass.b0 = gain;
  w.highPass.b1 = -2.0 * gain;
  w.highPass.b2 = gain;
  return w;
}

Oversampler OversamplerFor(std::uint32_t sampleRate) {
  if (sampleRate >= kTruePeakRate) return OwnOversampler(1);
  if (sampleRate >= 88200) return OwnOversampler(2);
  if (sampleRate >= 44100) {
    Oversampler o;
    o.factor = 4;
    o.taps = 12;
    for (std::uint32_t p = 0; p < 4; ++p) {
      for (std::uint32_t k = 0; k < 12; ++k) o.coefficient[p][k] = kStandardPhases[p][k];
    }
    return o;
  }
  const std::uint32_t factor =
      (kTruePeakRate + sampleRate - 1) / std::max<std::uint32_t>(sampleRate, 1);
  return OwnOversampler(std::min<std::uint32_t>(factor, kMaxOversampling));
}

}  // namespace ampdots
