// The meter held to what can be worked by hand (a 997 Hz tone reads its own
// peak level in stereo, 3.01 LU less in mono; silence and too little signal
// read -inf; the gates' comparisons at their thresholds) and to the EBU's
// published test cases, each within its published tolerance.
#include "loudness/meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "loudness/filters.h"
#include "loudness/signals.h"

namespace ampdots {
namespace {

using testing::FloatPlan;
using testing::Measure;
using testing::Tone;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kSilent = -1000.0;

// Under an emulator floating point is a hundred times slower: the long
// sequences are left to native runs.
bool Emulated() { return std::string(AMPDOTS_EMULATOR).size() > 0; }

TEST(KWeighting, ReproducesTheBroadcastTableAt48kHz) {
  const KWeighting k = KWeightingFor(48000);
  EXPECT_NEAR(k.shelf.b0, 1.53512485958697, 1e-12);
  EXPECT_NEAR(k.shelf.b1, -2.69169618940638, 1e-12);
  EXPECT_NEAR(k.shelf.b2, 1.19839281085285, 1e-12);
  EXPECT_NEAR(k.shelf.a1, -1.69065929318241, 1e-12);
  EXPECT_NEAR(k.shelf.a2, 0.73248077421585, 1e-12);
  EXPECT_EQ(k.highPass.b0, 1.0);
  EXPECT_EQ(k.highPass.b1, -2.0);
  EXPECT_EQ(k.highPass.b2, 1.0);
  EXPECT_NEAR(k.highPass.a1, -1.99004745483398, 1e-12);
  EXPECT_NEAR(k.highPass.a2, 0.99007225036621, 1e-12);
}

TEST(ChannelWeights, FromTheMaskElseFromTheCount) {
  struct Row {
    std::uint32_t channels;
    std::uint32_t mask;
    bool dualMono;
    std::vector<double> expected;
  };
  const Row rows[] = {
      {1, 0, false, {1}},
      {1, 0, true, {2}},
      {2, 0, true, {1, 1}},  // dual mono is for one channel only
      {2, 0, false, {1, 1}},
      {3, 0, false, {1, 1, 1}},
      {4, 0, false, {1, 1, 1.41, 1.41}},
      {5, 0, false, {1, 1, 1, 1.41, 1.41}},
      {6, 0, false, {1, 1, 1, 0, 1.41, 1.41}},
      {7, 0, false, {1, 1, 1, 0, 1, 1.41, 1.41}},
      {8, 0, false, {1, 1, 1, 0, 1, 1, 1.41, 1.41}},
      {6, 0x3F, false, {1, 1, 1, 0, 1.41, 1.41}},         // 5.1 with back surrounds
      {6, 0x60F, false, {1, 1, 1, 0, 1.41, 1.41}},        // 5.1 with side surrounds
      {8, 0x63F, false, {1, 1, 1, 0, 1, 1, 1.41, 1.41}},  // 7.1: sides 1.41, backs 1
      {4, 0x33, false, {1, 1, 1.41, 1.41}},               // quad
      {3, 0x4, false, {1, 1, 1}},                         // one position, two unnamed
      {2, 0x9, false, {1, 0}},                            // front left and LFE
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.channels << " channels, mask " << row.mask);
    const ChannelWeights w = WeightsFor(row.channels, row.mask, row.dualMono);
    for (std::uint32_t c = 0; c < row.channels; ++c) EXPECT_EQ(w.weight[c], row.expected[c]);
  }
}

TEST(Loudness, A997HzToneReadsItsPeakLevelInStereoAndThreeLessInMonoAtEveryRate) {
  for (const std::uint32_t rate :
       {8000u, 11025u, 22050u, 32000u, 44100u, 48000u, 88200u, 96000u, 192000u, 384000u}) {
    SCOPED_TRACE(rate);
    const std::vector<Tone> tone = {{5.0, -20.0, 997.0, {}, 0.0, 0.01}};
    // A second-order shelf follows the curve less closely as its corner
    // nears the band's edge: 0.2 dB at 8 kHz, 0.05 dB at 16 kHz.
    const double slack = rate < 16000 ? 0.25 : rate < 44100 ? 0.05 : 0.02;
    const LoudnessFigures stereo = Measure(tone, rate, 2);
    EXPECT_NEAR(stereo.integrated, -20.0, slack);
    EXPECT_NEAR(stereo.maxMomentary, -20.0, slack);
    // The true peak of a sine is its peak: never below the samples', and
    // within what oversampling may miss.
    EXPECT_LE(stereo.truePeak[0], -20.0 + 0.05);
    EXPECT_GE(stereo.truePeak[0], -20.0 - 0.2);
    const LoudnessFigures mono = Measure(tone, rate, 1);
    EXPECT_NEAR(mono.integrated, -23.01, slack);
    const ScanPlan plan = FloatPlan(rate, 1);
    LoudnessMeter dual(plan, WeightsFor(1, 0, true), true);
    testing::Feed(dual, plan, tone);
    EXPECT_NEAR(dual.Figures().integrated, -20.0, slack);
  }
}

TEST(Loudness, SilenceAndLessThanAWindowReadMinusInfinity) {
  const LoudnessFigures silence = Measure({{5.0, kSilent}});
  EXPECT_EQ(silence.integrated, -kInf);
  EXPECT_EQ(silence.maxMomentary, -kInf);
  EXPECT_EQ(silence.maxShortTerm, -kInf);
  EXPECT_TRUE(std::isnan(silence.range.range));
  EXPECT_EQ(silence.truePeak[0], -kInf);

  // One frame short of the 400 ms block: no block, no momentary value.
  const ScanPlan plan = FloatPlan(48000, 2);
  LoudnessMeter meter(plan, WeightsFor(2, 0, false), true);
  testing::Feed(meter, plan, {{(19200.0 - 1) / 48000, -20.0}});
  EXPECT_EQ(meter.Momentary(), -kInf);
  EXPECT_EQ(meter.Figures().integrated, -kInf);
  EXPECT_EQ(meter.Figures().maxMomentary, -kInf);
  testing::Feed(meter, plan, {{1.0 / 48000, -20.0}});
  EXPECT_GT(meter.Momentary(), -30.0);
  EXPECT_EQ(meter.ShortTerm(), -kInf);
  EXPECT_GT(meter.Figures().integrated, -30.0);
}

TEST(Loudness, NotANumberCountsAsSilenceAndHugeSamplesStayFinite) {
  const ScanPlan plan = FloatPlan(48000, 1);
  LoudnessMeter meter(plan, WeightsFor(1, 0, false), true);
  std::vector<std::uint8_t> bytes(4 * 48000);
  for (std::size_t i = 0; i < 48000; ++i) {
    testing::PutFloatLe(&bytes[4 * i],
                        i % 2 == 0 ? std::numeric_limits<float>::quiet_NaN() : 3e38f);
  }
  meter.Add(bytes.data(), 48000);
  const LoudnessFigures figures = meter.Figures();
  EXPECT_TRUE(std::isfinite(figures.integrated));
  EXPECT_TRUE(std::isfinite(figures.truePeak[0]));
}

// The gates compare strictly (integrated) and not strictly (range): a value
// that sits exactly on the gate is left out of one and kept in the other.
TEST(Gates, AValueOnTheRelativeGateIsOutOfTheIntegratedAndInTheRange) {
  const double loud = std::pow(10.0, (-20.0 + 0.691) / 10.0);
  const double quiet = loud / 1000.0;
  const double mean = (loud + quiet) / 2.0;
  LoudnessHistogram blocks;
  blocks.Add(LoudnessOf(loud), loud);
  blocks.Add(LoudnessOf(mean) - 10.0, quiet);  // labelled as the gate itself
  EXPECT_EQ(IntegratedLoudness(blocks), LoudnessOf(loud));

  LoudnessHistogram values;
  values.Add(LoudnessOf(loud), loud);
  values.Add(LoudnessOf(mean) - 20.0, quiet);
  // Both kept: n = 2, the 10th percentile is the first, the 95th the second.
  const LoudnessRange range = RangeOf(values);
  EXPECT_EQ(range.low, LoudnessOf(mean) - 20.0);
  EXPECT_EQ(range.high, LoudnessOf(loud));

  // A hair above the gate is in both.
  LoudnessHistogram above;
  above.Add(LoudnessOf(loud), loud);
  above.Add(std::nextafter(LoudnessOf(mean) - 10.0, 0.0), quiet);
  EXPECT_EQ(IntegratedLoudness(above), LoudnessOf(mean));
}

TEST(Gates, BlocksAtOrUnderMinus70LufsAreNeverCounted) {
  // A tone 80 dB down reads about -80 LUFS: gated away entirely.
  const LoudnessFigures faint = Measure({{3.0, -80.0}});
  EXPECT_EQ(faint.integrated, -kInf);
  EXPECT_NEAR(faint.maxMomentary, -80.0, 0.05);  // ungated
  EXPECT_TRUE(std::isnan(faint.range.range));
}

// EBU Tech 3341: 1 kHz stereo tones; integrated, momentary and short-term
// within 0.1 LU.
TEST(Tech3341, SteadyAndGatedCases) {
  if (Emulated()) GTEST_SKIP() << "minutes of audio through emulated floating point";
  const LoudnessFigures case1 = Measure({{20.0, -23.0}});
  EXPECT_NEAR(case1.integrated, -23.0, 0.1);
  EXPECT_NEAR(case1.maxMomentary, -23.0, 0.1);
  EXPECT_NEAR(case1.maxShortTerm, -23.0, 0.1);
  EXPECT_NEAR(Measure({{20.0, -33.0}}).integrated, -33.0, 0.1);
  EXPECT_NEAR(Measure({{10.0, -36.0}, {60.0, -23.0}, {10.0, -36.0}}).integrated, -23.0, 0.1);
  EXPECT_NEAR(Measure({{10.0, -72.0}, {10.0, -36.0}, {60.0, -23.0}, {10.0, -36.0}, {10.0, -72.0}})
                  .integrated,
              -23.0, 0.1);
  EXPECT_NEAR(Measure({{20.0, -26.0}, {20.1, -20.0}, {20.0, -26.0}}).integrated, -23.0, 0.1);
  // Case 6: 5.0, L R C Ls Rs.
  EXPECT_NEAR(
      Measure({{20.0, 0.0, 1000.0, {-28.0, -28.0, -24.0, -30.0, -30.0}}}, 48000, 5).integrated,
      -23.0, 0.1);
}

TEST(Tech3341, MomentaryAndShortTermOfBurstsAndTheirMaxima) {
  if (Emulated()) GTEST_SKIP() << "minutes of audio through emulated floating point";
  const ScanPlan plan = FloatPlan(48000, 2);
  // Case 9: short-term -23 after the first 3 s.
  {
    LoudnessMeter meter(plan, WeightsFor(2, 0, false), true);
    for (int i = 0; i < 5; ++i) {
      testing::Feed(meter, plan, {{1.34, -20.0}, {1.66, -30.0}}, 960);
      if (i >= 1) {
        EXPECT_NEAR(meter.ShortTerm(), -23.0, 0.1) << i;
      }
    }
  }
  // Case 12: momentary -23 after the first second.
  {
    LoudnessMeter meter(plan, WeightsFor(2, 0, false), true);
    for (int i = 0; i < 25; ++i) {
      testing::Feed(meter, plan, {{0.18, -20.0}, {0.22, -30.0}}, 960);
      if (i >= 3) {
        EXPECT_NEAR(meter.Momentary(), -23.0, 0.1) << i;
      }
    }
  }
  // Cases 10 and 13: the maxima of windows slid at most 10 ms.
  std::vector<Tone> case10;
  std::vector<Tone> case13;
  for (int i = 0; i < 20; ++i) {
    case10.push_back({0.15 * i, kSilent});
    case10.push_back({3.0, -23.0});
    case10.push_back({1.0, kSilent});
    case13.push_back({0.02 * i, kSilent});
    case13.push_back({0.4, -23.0});
    case13.push_back({1.0, kSilent});
  }
  EXPECT_NEAR(Measure(case10).maxShortTerm, -23.0, 0.1);
  EXPECT_NEAR(Measure(case13).maxMomentary, -23.0, 0.1);
}

// True peak within +0.2 / -0.4 dB of the published value, with both the
// vector and the plain loops.
TEST(Tech3341, TruePeakBetweenTheSamples) {
  struct Row {
    double fraction;  // of the rate
    double amplitude;
    double degrees;
    double expected;
  };
  const Row rows[] = {{0.25, 0.5, 0.0, -6.0},
                      {0.25, 0.5, 45.0, -6.0},
                      {1 / 6.0, 0.5, 60.0, -6.0},
                      {0.125, 0.5, 67.5, -6.0},
                      {0.25, 1.41, 45.0, 3.0}};
  for (const bool vector : {true, false}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(::testing::Message() << row.fraction << " " << row.degrees << " " << vector);
      const double db = 20.0 * std::log10(row.amplitude);
      const LoudnessFigures f =
          Measure({{1.0, db, row.fraction * 48000, {}, row.degrees, 0.01}}, 48000, 2, vector);
      EXPECT_LE(f.truePeak[0], row.expected + 0.2);
      EXPECT_GE(f.truePeak[0], row.expected - 0.4);
    }
  }
}

// EBU Tech 3342: 1 kHz tones of 20 s back to back, within 1 LU; the same
// signal twice over reads the same.
TEST(Tech3342, LoudnessRange) {
  if (Emulated()) GTEST_SKIP() << "minutes of audio through emulated floating point";
  EXPECT_NEAR(Measure({{20.0, -20.0}, {20.0, -30.0}}).range.range, 10.0, 1.0);
  EXPECT_NEAR(Measure({{20.0, -20.0}, {20.0, -15.0}}).range.range, 5.0, 1.0);
  EXPECT_NEAR(Measure({{20.0, -40.0}, {20.0, -20.0}}).range.range, 20.0, 1.0);
  const std::vector<Tone> case4 = {
      {20.0, -50.0}, {20.0, -35.0}, {20.0, -20.0}, {20.0, -35.0}, {20.0, -50.0}};
  const LoudnessRange once = Measure(case4).range;
  EXPECT_NEAR(once.range, 15.0, 1.0);
  std::vector<Tone> twice = case4;
  twice.insert(twice.end(), case4.begin(), case4.end());
  EXPECT_NEAR(Measure(twice).range.range, once.range, 0.1);
}

TEST(TruePeak, ThePlainAndVectorLoopsAgreeToTheBit) {
  // Two tones at once, loud and near the top of the band, at every
  // oversampling filter: 24, 2 and 4 times (16 and 12 taps), and none.
  for (const std::uint32_t rate : {8000u, 44100u, 96000u, 192000u}) {
    SCOPED_TRACE(rate);
    const std::vector<Tone> tones = {{0.3, -3.0, rate * 0.41}, {0.2, -1.0, rate * 0.23}};
    const LoudnessFigures vector = Measure(tones, rate, 2, true);
    const LoudnessFigures plain = Measure(tones, rate, 2, false);
    EXPECT_EQ(vector.truePeak[0], plain.truePeak[0]);
    EXPECT_EQ(vector.truePeak[1], plain.truePeak[1]);
    EXPECT_EQ(vector.integrated, plain.integrated);
  }
}

// The channels shared with the meter's own thread, or all on one: the same
// figures to the bit, whatever the runs the frames come in.
TEST(LoudnessMeter, ChannelsOnTwoThreadsOrOneAgreeToTheBit) {
  for (const std::uint32_t channels : {2u, 5u, 8u}) {
    SCOPED_TRACE(channels);
    ScanPlan shared = FloatPlan(44100, channels);
    ScanPlan alone = shared;
    alone.worker = WorkerUse::kNever;
    const ChannelWeights weights = WeightsFor(channels, 0, false);
    LoudnessMeter two(shared, weights, true);
    LoudnessMeter one(alone, weights, true);
    std::vector<Tone> tones;
    for (int i = 0; i < 6; ++i) {
      std::vector<double> levels;
      for (std::uint32_t c = 0; c < channels; ++c)
        levels.push_back(-3.0 * (c + static_cast<std::uint32_t>(i % 3)));
      tones.push_back({0.7, 0.0, 200.0 + 900.0 * i, levels});
    }
    testing::Feed(two, shared, tones, 70001);
    testing::Feed(one, alone, tones, 999);
    const LoudnessFigures a = two.Figures();
    const LoudnessFigures b = one.Figures();
    EXPECT_EQ(a.integrated, b.integrated);
    EXPECT_EQ(a.maxMomentary, b.maxMomentary);
    EXPECT_EQ(a.maxShortTerm, b.maxShortTerm);
    EXPECT_EQ(two.Momentary(), one.Momentary());
    EXPECT_EQ(two.ShortTerm(), one.ShortTerm());
    for (std::uint32_t c = 0; c < channels; ++c) EXPECT_EQ(a.truePeak[c], b.truePeak[c]);
  }
}

}  // namespace
}  // namespace ampdots
