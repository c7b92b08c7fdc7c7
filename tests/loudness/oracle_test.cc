// The meter against libebur128, a common implementation of the same
// standard, on programme-like signals of our own: noise and tones under
// changing envelopes, at several rates and channel counts. Integrated,
// maximum momentary and short-term loudness within 0.1 LU; true peak within
// +0.2/-0.4 dB. libebur128 takes short-term values for the loudness range
// once a second (the standard asks for ten), so the range is compared
// loosely; the EBU's own cases hold it to its tolerance elsewhere.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "loudness/meter.h"
#include "loudness/signals.h"

#ifdef AMPDOTS_HAVE_EBUR128
#include <ebur128.h>
#endif

namespace ampdots {
namespace {

struct Layout {
  std::uint32_t rate;
  std::uint32_t channels;
  bool dualMono;
#ifdef AMPDOTS_HAVE_EBUR128
  std::vector<int> map;  // libebur128's name for each channel
#endif
};

// A deterministic programme: per channel a mix of noise and a tone whose
// pitch and level change every few seconds, with short fades and a gap.
class Programme {
 public:
  Programme(std::uint32_t rate, std::uint32_t channels) : rate_(rate), channels_(channels) {}

  void Next(float* frames, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, ++frame_) {
      const double t = static_cast<double>(frame_) / rate_;
      const int segment = static_cast<int>(t / 2.7);
      const double db = kLevels[segment % 9];
      const double within = t - segment * 2.7;
      const double fade = std::min(1.0, std::min(within, 2.7 - within) / 0.05);
      const double gain = std::pow(10.0, db / 20.0) * fade;
      const double hz = 110.0 * (1 + segment % 7) * (1 + (segment % 3) * 0.5);
      for (std::uint32_t c = 0; c < channels_; ++c) {
        // Noise falling off towards the top of the band, as programme does:
        // full-band noise is where the two oversamplers part (libebur128
        // oversamples 4 times below 44.1 kHz, so reads its peaks lower).
        noise_[c] += 0.25 * (Noise() - noise_[c]);
        const double noise = 2.0 * noise_[c];
        const double tone = std::sin(2.0 * std::numbers::pi * hz * (1.0 + 0.01 * c) * t);
        const double channelGain = 1.0 / (1.0 + 0.3 * c);
        frames[i * channels_ + c] =
            static_cast<float>(gain * channelGain * (0.6 * tone + 0.4 * noise));
      }
    }
  }

 private:
  static constexpr double kLevels[9] = {-12, -20, -6, -300, -30, -9, -18, -40, -3};
  double Noise() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<double>(state_ >> 11) / static_cast<double>(1ULL << 53) * 2.0 - 1.0;
  }
  std::uint32_t rate_;
  std::uint32_t channels_;
  std::uint64_t frame_ = 0;
  std::uint64_t state_ = 0x9E3779B97F4A7C15ULL;
  double noise_[kMaxChannels] = {};
};

TEST(Oracle, AgreesWithLibebur128OnProgrammeLikeSignals) {
#ifndef AMPDOTS_HAVE_EBUR128
  GTEST_SKIP() << "libebur128 is not installed (Debian: libebur128-dev; scripts/install-deps.sh "
                  "installs it)";
#else
  const Layout layouts[] = {
      {44100, 2, false, {EBUR128_LEFT, EBUR128_RIGHT}},
      {48000,
       6,
       false,
       {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_CENTER, EBUR128_UNUSED, EBUR128_LEFT_SURROUND,
        EBUR128_RIGHT_SURROUND}},
      {96000, 1, false, {EBUR128_CENTER}},
      {22050, 1, true, {EBUR128_DUAL_MONO}},
      {32000,
       8,
       false,
       {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_CENTER, EBUR128_UNUSED, EBUR128_Mp135, EBUR128_Mm135,
        EBUR128_Mp090, EBUR128_Mm090}},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(::testing::Message() << layout.rate << " Hz, " << layout.channels << " channels");
    const ScanPlan plan = testing::FloatPlan(layout.rate, layout.channels);
    LoudnessMeter ours(plan, WeightsFor(layout.channels, 0, layout.dualMono), true);
    ebur128_state* theirs = ebur128_init(layout.channels, layout.rate,
                                         EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I |
                                             EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
    ASSERT_NE(theirs, nullptr);
    for (std::uint32_t c = 0; c < layout.channels; ++c) {
      ebur128_set_channel(theirs, c, layout.map[c]);
    }
    Programme programme(layout.rate, layout.channels);
    // 10 ms at a time, so that libebur128's windows can be read as often.
    const std::size_t piece = layout.rate / 100;
    std::vector<float> frames(piece * layout.channels);
    std::vector<std::uint8_t> bytes(4 * frames.size());
    double maxMomentary = -HUGE_VAL;
    double maxShortTerm = -HUGE_VAL;
    const std::uint64_t total = 30ULL * layout.rate;
    for (std::uint64_t done = 0; done + piece <= total; done += piece) {
      programme.Next(frames.data(), piece);
      for (std::size_t k = 0; k < frames.size(); ++k) testing::PutFloatLe(&bytes[4 * k], frames[k]);
      ours.Add(bytes.data(), piece);
      ebur128_add_frames_float(theirs, frames.data(), piece);
      double value = 0.0;
      if (done + piece >= layout.rate * 4 / 10 && ebur128_loudness_momentary(theirs, &value) == 0) {
        maxMomentary = std::max(maxMomentary, value);
      }
      if (done + piece >= layout.rate * 3 && ebur128_loudness_shortterm(theirs, &value) == 0) {
        maxShortTerm = std::max(maxShortTerm, value);
      }
    }
    const LoudnessFigures figures = ours.Figures();
    double integrated = 0.0;
    double range = 0.0;
    ebur128_loudness_global(theirs, &integrated);
    ebur128_loudness_range(theirs, &range);
    EXPECT_NEAR(figures.integrated, integrated, 0.1);
    EXPECT_NEAR(figures.maxMomentary, maxMomentary, 0.1);
    EXPECT_NEAR(figures.maxShortTerm, maxShortTerm, 0.1);
    EXPECT_NEAR(figures.range.range, range, 2.0);
    for (std::uint32_t c = 0; c < layout.channels; ++c) {
      double peak = 0.0;
      ebur128_true_peak(theirs, c, &peak);
      const double db = 20.0 * std::log10(peak);
      EXPECT_LE(figures.truePeak[c], db + 0.2) << "channel " << c;
      EXPECT_GE(figures.truePeak[c], db - 0.4) << "channel " << c;
    }
    ebur128_destroy(&theirs);
  }
#endif
}

}  // namespace
}  // namespace ampdots
