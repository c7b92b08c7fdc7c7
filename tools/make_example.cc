// Writes the bundled examples. examples/example.wav: two seconds of 16-bit
// mono at 22050 Hz, a 220 Hz tone with a few harmonics struck three times
// and then swelled, so that the picture has attacks, decays and a
// crescendo. With --quiet, examples/quiet.wav: one second of 16-bit mono at
// 8000 Hz, the same tone swelling from -60 dBFS to -24 dBFS, a recording
// too quiet to see at magnification 1.
//
//   make_example [--quiet] OUTPUT.wav
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

#include "support/wav_builder.h"

namespace {

constexpr std::uint32_t kRate = 22050;
constexpr double kSeconds = 2.0;

struct Strike {
  double at;     // seconds
  double peak;   // of full scale
  double decay;  // seconds for the envelope to fall by e
};

constexpr Strike kStrikes[] = {{0.05, 0.80, 0.12}, {0.45, 0.45, 0.20}, {0.80, 0.95, 0.08}};

double Envelope(double t) {
  double e = 0.0;
  for (const Strike& s : kStrikes) {
    if (t < s.at) continue;
    const double since = t - s.at;
    const double attack = std::fmin(since / 0.01, 1.0);  // 10 ms rise
    e += s.peak * attack * std::exp(-since / s.decay);
  }
  if (t >= 1.2) e += 0.7 * (t - 1.2) / 0.8;  // a swell to the end
  return std::fmin(e, 0.95);
}

double Tone(double t) {
  const double w = 2.0 * std::numbers::pi * 220.0 * t;
  return (std::sin(w) + 0.3 * std::sin(2 * w) + 0.15 * std::sin(3 * w)) / 1.3;
}

ampdots::testing::Bytes Loud() {
  ampdots::testing::Bytes frames;
  const auto count = static_cast<std::uint32_t>(kRate * kSeconds);
  for (std::uint32_t i = 0; i < count; ++i) {
    const double t = i / static_cast<double>(kRate);
    const long v = std::lround(32767.0 * Envelope(t) * Tone(t));
    ampdots::testing::PutLe16(frames, static_cast<std::uint32_t>(v));
  }
  return ampdots::testing::CanonicalWav({1, kRate, 16, 1}, frames);
}

ampdots::testing::Bytes Quiet() {
  constexpr std::uint32_t kQuietRate = 8000;
  ampdots::testing::Bytes frames;
  for (std::uint32_t i = 0; i < kQuietRate; ++i) {
    const double t = i / static_cast<double>(kQuietRate);
    const double gain = std::pow(10.0, (-60.0 + 36.0 * t) / 20.0);  // -60 dB to -24 dB
    const long v = std::lround(32767.0 * gain * Tone(t));
    ampdots::testing::PutLe16(frames, static_cast<std::uint32_t>(v));
  }
  return ampdots::testing::CanonicalWav({1, kQuietRate, 16, 1}, frames);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quiet = argc == 3 && std::string(argv[1]) == "--quiet";
  if (argc != 2 && !quiet) {
    std::fputs("usage: make_example [--quiet] OUTPUT.wav\n", stderr);
    return 1;
  }
  return ampdots::testing::WriteFile(argv[argc - 1], quiet ? Quiet() : Loud()) ? 0 : 1;
}
