// Test signals for the loudness meter, made here: tones at a peak level in
// dBFS, silence, and the EBU's published test sequences built from their
// descriptions, fed to a meter a piece at a time as float frames, so that
// no signal is ever held whole.
#ifndef AMPDOTS_TESTS_LOUDNESS_SIGNALS_H_
#define AMPDOTS_TESTS_LOUDNESS_SIGNALS_H_

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "loudness/meter.h"
#include "scan/plan.h"

namespace ampdots::testing {

/// `value` as a WAV file stores it: little-endian, whatever the host.
inline void PutFloatLe(std::uint8_t* at, float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  for (int k = 0; k < 4; ++k) at[k] = static_cast<std::uint8_t>(bits >> (8 * k));
}

/// 32-bit float frames at `rate` with `channels` channels.
inline ScanPlan FloatPlan(std::uint32_t rate, std::uint32_t channels) {
  ScanPlan plan;
  plan.decoder = Decoder::kFloat32;
  plan.bytesPerSample = 4;
  plan.validBits = 32;
  plan.channels = channels;
  plan.frameBytes = 4 * channels;
  plan.sampleRate = rate;
  return plan;
}

/// A stretch of a sine in every channel: `seconds` long, of peak `db`
/// dBFS in each channel (one level a channel where `levels` has them; a
/// level under -300 is silence), at `hz` from phase `degrees`.
struct Tone {
  double seconds;
  double db;
  double hz = 1000.0;
  std::vector<double> levels = {};
  double degrees = 0.0;
  double fade = 0.0;  ///< seconds of a linear fade in and out
};

/// Feeds `tones` back to back to `meter` in pieces of `piece` frames.
/// Each tone starts at its own phase.
inline void Feed(LoudnessMeter& meter, const ScanPlan& plan, const std::vector<Tone>& tones,
                 std::size_t piece = 4801) {
  std::vector<std::uint8_t> bytes;
  for (const Tone& tone : tones) {
    const auto frames = static_cast<std::uint64_t>(std::llround(tone.seconds * plan.sampleRate));
    double amplitude[kMaxChannels];
    for (std::uint32_t c = 0; c < plan.channels; ++c) {
      const double db = tone.levels.empty() ? tone.db : tone.levels[c];
      amplitude[c] = db < -300.0 ? 0.0 : std::pow(10.0, db / 20.0);
    }
    const double step = 2.0 * std::numbers::pi * tone.hz / plan.sampleRate;
    const double phase = tone.degrees * std::numbers::pi / 180.0;
    for (std::uint64_t done = 0; done < frames;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece, frames - done));
      bytes.resize(n * plan.frameBytes);
      for (std::size_t i = 0; i < n; ++i) {
        const double at = static_cast<double>(done + i);
        double s = std::sin(phase + step * at);
        if (tone.fade > 0.0) {
          const double edge = std::min(at, static_cast<double>(frames - 1) - at) / plan.sampleRate;
          s *= std::min(1.0, edge / tone.fade);
        }
        for (std::uint32_t c = 0; c < plan.channels; ++c) {
          PutFloatLe(&bytes[i * plan.frameBytes + 4 * c], static_cast<float>(amplitude[c] * s));
        }
      }
      meter.Add(bytes.data(), n);
      done += n;
    }
  }
}

/// The figures of `tones` at `rate` in `channels` channels, weighted as a
/// file without a channel mask.
inline LoudnessFigures Measure(const std::vector<Tone>& tones, std::uint32_t rate = 48000,
                               std::uint32_t channels = 2, bool vector = true) {
  const ScanPlan plan = FloatPlan(rate, channels);
  LoudnessMeter meter(plan, WeightsFor(channels, 0, false), vector);
  Feed(meter, plan, tones);
  return meter.Figures();
}

}  // namespace ampdots::testing

#endif  // AMPDOTS_TESTS_LOUDNESS_SIGNALS_H_
