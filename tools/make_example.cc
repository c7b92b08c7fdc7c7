// Writes examples/example.wav: two seconds of 16-bit mono at 22050 Hz, a
// 220 Hz tone with a few harmonics struck three times and then swelled, so
// that the picture has attacks, decays and a crescendo.
//
//   make_example OUTPUT.wav
#include <cmath>
#include <cstdio>
#include <numbers>

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_example OUTPUT.wav\n", stderr);
    return 1;
  }
  ampdots::testing::Bytes frames;
  const auto count = static_cast<std::uint32_t>(kRate * kSeconds);
  for (std::uint32_t i = 0; i < count; ++i) {
    const double t = i / static_cast<double>(kRate);
    const long v = std::lround(32767.0 * Envelope(t) * Tone(t));
    ampdots::testing::PutLe16(frames, static_cast<std::uint32_t>(v));
  }
  const ampdots::testing::Format format{1, kRate, 16, 1};
  return ampdots::testing::WriteFile(argv[1], ampdots::testing::CanonicalWav(format, frames)) ? 0
                                                                                              : 1;
}
