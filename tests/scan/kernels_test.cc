// The line kernels' two builds, vector and portable, against the plain
// rule (the one-byte loops against each other): a line's sum is its samples' magnitudes added one
// by one in order, so both must give that double to the last bit, whatever the number of lines and
// their length (vectors that do not fill, lines repeated to fill a group of four), and the same
// peaks.
#include "scan/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "scan/lines.h"
#include "support/vector_state.h"
#include "support/wav_builder.h"

namespace ampdots {
namespace {

TEST(FloatLineSums, BothBuildsAddEachLineInOrder) {
  std::mt19937 random(11);
  // Levels of every size, with zeros, subnormals, infinities and
  // not-a-numbers, whose magnitudes the rule reads from their bits alike.
  const auto sample = [&] {
    const auto raw = static_cast<std::uint32_t>(random());
    switch (raw % 16) {
      case 0:
        return raw & 0x807FFFFF;  // zero exponent
      case 1:
        return raw | 0x7F800000;  // all-ones exponent
      default:
        return (raw & 0x807FFFFF) | ((60 + raw % 80) << 23);
    }
  };
  for (const bool stereo : {false, true}) {
    for (const std::size_t lines : {1u, 2u, 3u, 4u, 5u, 8u, 15u, 16u, 17u, 33u}) {
      // The vector loop takes eight samples of a line at a time.
      for (const std::size_t frames : {1u, 2u, 3u, 4u, 5u, 7u, 13u, 14u, 15u, 64u, 301u}) {
        const std::size_t perLine = frames * (stereo ? 2 : 1);
        testing::Bytes bytes;
        for (std::size_t i = 0; i < lines * perLine; ++i) {
          const std::uint32_t v = sample();
          for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
        }
        std::vector<double> expected(lines, 0.0);
        FloatPeaks expectedPeaks;
        for (std::size_t j = 0; j < lines; ++j) {
          for (std::size_t i = 0; i < perLine; ++i) {
            const std::size_t at = 4 * (j * perLine + i);
            std::uint32_t word = 0;
            for (std::size_t b = 0; b < 4; ++b) word |= std::uint32_t{bytes[at + b]} << (8 * b);
            const std::uint32_t magnitude = word & 0x7FFFFFFF;
            expected[j] += FloatMagnitudeLevel(magnitude);
            std::int64_t& peak = expectedPeaks.max[stereo ? i % 2 : 0];
            peak = std::max<std::int64_t>(peak, magnitude);
          }
        }
        for (const bool vector : {false, true}) {
          if (vector && !VectorLoopsAvailable()) continue;
          std::vector<double> sums(lines, -1.0);
          FloatPeaks peaks;
          FloatLineSums(bytes.data(), lines, perLine, stereo, sums.data(), peaks, vector);
          for (std::size_t j = 0; j < lines; ++j) {
            ASSERT_EQ(sums[j], expected[j]) << "line " << j << " of " << lines << ", " << frames
                                            << " frames, stereo " << stereo << " vector " << vector;
          }
          for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
            ASSERT_EQ(peaks.max[c], expectedPeaks.max[c]) << "channel " << c;
          }
        }
      }
    }
  }
}

// 64-bit float lines the same way: |128 x value|, not-a-numbers (which
// make their line's sum one), values that overflow when scaled, values
// whose scaled sums overflow (2^1016 and just below) and subnormals among
// them; peaks leave not-a-numbers out.
TEST(Float64LineSums, BothBuildsAddEachLineInOrder) {
  std::mt19937 random(12);
  static constexpr std::uint64_t kSpecial[] = {
      0x0000000000000000, 0x8000000000000000, 0x0000000000000001,
      0x7FF0000000000000, 0xFFF8000000000000, 0x7FEFFFFFFFFFFFFF,
      0x7F70000000000000, 0xFF6FFFFFFFFFFFFF, 0x000FFFFFFFFFFFFF};
  std::uniform_real_distribution<double> level(-1.5, 1.5);
  for (const bool stereo : {false, true}) {
    for (const std::size_t lines : {1u, 3u, 4u, 7u, 16u, 19u}) {
      for (const std::size_t frames : {1u, 2u, 3u, 5u, 64u, 203u}) {
        const std::size_t perLine = frames * (stereo ? 2 : 1);
        testing::Bytes bytes;
        std::vector<double> values;
        for (std::size_t i = 0; i < lines * perLine; ++i) {
          const std::uint64_t v = random() % 64 == 0 ? kSpecial[random() % std::size(kSpecial)]
                                                     : std::bit_cast<std::uint64_t>(level(random));
          for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
          values.push_back(std::bit_cast<double>(v));
        }
        std::vector<double> expected(lines, 0.0);
        double expectedMax[2] = {-1.0, -1.0};
        for (std::size_t j = 0; j < lines; ++j) {
          for (std::size_t i = 0; i < perLine; ++i) {
            const double magnitude = std::fabs(128.0 * values[j * perLine + i]);
            expected[j] += magnitude;
            double& peak = expectedMax[stereo ? i % 2 : 0];
            if (magnitude > peak) peak = magnitude;
          }
        }
        for (const bool vector : {false, true}) {
          if (vector && !VectorLoopsAvailable()) continue;
          std::vector<double> sums(lines, -1.0);
          FloatPeaks peaks;
          Float64LineSums(bytes.data(), lines, perLine, stereo, sums.data(), peaks, vector);
          for (std::size_t j = 0; j < lines; ++j) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(sums[j]),
                      std::bit_cast<std::uint64_t>(expected[j]))
                << "line " << j << " of " << lines << ", " << frames << " frames, stereo " << stereo
                << " vector " << vector;
          }
          for (std::uint32_t c = 0; c < 2; ++c) {
            const std::int64_t want =
                expectedMax[c] < 0.0 ? -1 : std::bit_cast<std::int64_t>(expectedMax[c]);
            ASSERT_EQ(peaks.max[c], want) << "channel " << c << " vector " << vector;
          }
        }
      }
    }
  }
}

// A line's loudest sample beside a not-a-number of its channel, two
// samples on or two before, in either build: the peak is still the loud
// sample's, 128 x 0.75, and only that line's sum is not a number.
TEST(Float64LineSums, PeakBesideANotANumber) {
  constexpr std::size_t kLines = 4;
  constexpr std::size_t kPerLine = 128;  // 64 stereo frames
  for (const std::size_t loud : {8u, 10u}) {
    const std::size_t nan = loud == 8 ? 10 : 8;
    testing::Bytes bytes;
    for (std::size_t j = 0; j < kLines; ++j) {
      for (std::size_t i = 0; i < kPerLine; ++i) {
        double v = 0.25;
        if (j == 2 && i == loud) v = -0.75;
        if (j == 2 && i == nan) v = std::numeric_limits<double>::quiet_NaN();
        const auto bits = std::bit_cast<std::uint64_t>(v);
        for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
      }
    }
    for (const bool vector : {false, true}) {
      if (vector && !VectorLoopsAvailable()) continue;
      double sums[kLines];
      FloatPeaks peaks;
      Float64LineSums(bytes.data(), kLines, kPerLine, true, sums, peaks, vector);
      EXPECT_EQ(peaks.max[0], std::bit_cast<std::int64_t>(96.0)) << loud << " vector " << vector;
      EXPECT_EQ(peaks.max[1], std::bit_cast<std::int64_t>(32.0)) << loud << " vector " << vector;
      for (std::size_t j = 0; j < kLines; ++j) {
        if (j == 2) {
          EXPECT_TRUE(std::isnan(sums[j])) << loud << " vector " << vector;
        } else {
          EXPECT_EQ(sums[j], 32.0 * kPerLine) << loud << " line " << j << " vector " << vector;
        }
      }
    }
  }
}

// One-byte samples: every code, in runs that do and do not fill the
// vector rows, mono and stereo: the vector loops' line sums and peaks are
// the portable loops' exactly. Runs of one code show each code's own
// contribution and peak.
TEST(OneByteKernels, VectorLoopsSumAndPeakAsThePortableOnes) {
  if (!VectorLoopsAvailable()) GTEST_SKIP() << "no vector loops on this processor";
  using Accumulate = void (*)(const std::uint8_t*, std::size_t, bool, PcmTotals&, bool);
  const struct {
    const char* name;
    Accumulate accumulate;
  } laws[] = {{"mu-law", AccumulateMuLaw}, {"A-law", AccumulateALaw}, {"8-bit", AccumulatePcm8}};
  std::mt19937 random(3);
  std::vector<std::vector<std::uint8_t>> runs;
  for (int code = 0; code < 256; ++code) runs.emplace_back(70, static_cast<std::uint8_t>(code));
  for (const std::size_t length : {1u, 31u, 32u, 33u, 64u, 1000u, 100000u}) {
    std::vector<std::uint8_t> run(length);
    for (auto& b : run) b = static_cast<std::uint8_t>(random());
    runs.push_back(run);
  }
  for (const auto& law : laws) {
    for (const auto& run : runs) {
      for (const bool stereo : {false, true}) {
        PcmTotals vector;
        PcmTotals portable;
        law.accumulate(run.data(), run.size(), stereo, vector, true);
        law.accumulate(run.data(), run.size(), stereo, portable, false);
        ASSERT_EQ(vector.sum, portable.sum) << law.name << ", " << run.size() << " bytes from "
                                            << int{run[0]} << ", stereo " << stereo;
        for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
          ASSERT_EQ(vector.max[c], portable.max[c]) << law.name << " channel " << c;
        }
      }
    }
  }
}

// Runs of whole lines of every PCM format in one call: each line's sum is
// what the format's portable loop gives for that line alone, and the peaks
// are the portable loop's over them all, in both builds; lines that do and
// do not fill the vector rows, and longer than a block of the one-byte
// loops (255 rows). Runs of the loudest codes hold the rows' narrow lanes
// to their limits.
TEST(PcmLineSums, EachLineAsThePortableLoopAloneGivesIt) {
  const struct {
    const char* name;
    Decoder decoder;
    std::size_t width;
    void (*accumulate)(const std::uint8_t*, std::size_t, bool, PcmTotals&, bool);
  } formats[] = {{"8-bit", Decoder::kPcm8, 1, AccumulatePcm8},
                 {"mu-law", Decoder::kMuLaw, 1, AccumulateMuLaw},
                 {"A-law", Decoder::kALaw, 1, AccumulateALaw},
                 {"16-bit", Decoder::kPcm16, 2, AccumulatePcm16},
                 {"24-bit", Decoder::kPcm24, 3, AccumulatePcm24},
                 {"32-bit", Decoder::kPcm32, 4, AccumulatePcm32}};
  std::mt19937 random(21);
  for (const auto& format : formats) {
    for (const bool stereo : {false, true}) {
      for (const std::size_t frames : {1u, 15u, 16u, 17u, 64u, 400u, 4100u, 8200u}) {
        const std::size_t perLine = frames * (stereo ? 2 : 1);
        for (const int fill : {-1, 0x00, 0x7F, 0x80, 0xFF}) {  // -1: random bytes
          const std::size_t lines = fill < 0 ? 5 : 2;
          std::vector<std::uint8_t> bytes(lines * perLine * format.width);
          for (auto& b : bytes)
            b = static_cast<std::uint8_t>(fill < 0 ? random() : static_cast<unsigned>(fill));
          std::vector<std::int64_t> expected(lines);
          if (format.decoder == Decoder::kMuLaw && (fill == 0x00 || fill == 0x80)) {
            // -32124 and +32124: each sample adds its magnitude.
            ASSERT_EQ(MuLawValue(static_cast<std::uint8_t>(fill)), fill == 0 ? -32124 : 32124);
          }
          PcmTotals expectedPeaks;
          for (std::size_t j = 0; j < lines; ++j) {
            expectedPeaks.sum = 0;
            format.accumulate(bytes.data() + j * perLine * format.width, perLine, stereo,
                              expectedPeaks, false);
            expected[j] = expectedPeaks.sum;
          }
          for (const bool vector : {false, true}) {
            if (vector && !VectorLoopsAvailable()) continue;
            std::vector<std::int64_t> sums(lines, -1);
            PcmTotals totals;
            totals.sum = 12345;  // left as it was
            PcmLineSums(format.decoder, bytes.data(), lines, perLine, stereo, sums.data(), totals,
                        vector);
            const std::string what = std::string(format.name) + ", lines of " +
                                     std::to_string(frames) + " frames, stereo " +
                                     std::to_string(stereo) + ", fill " + std::to_string(fill) +
                                     ", vector " + std::to_string(vector);
            EXPECT_EQ(sums, expected) << what;
            if (format.decoder == Decoder::kMuLaw && (fill == 0x00 || fill == 0x80)) {
              EXPECT_EQ(sums[0], 32124 * static_cast<std::int64_t>(perLine)) << what;
            }
            EXPECT_EQ(totals.sum, 12345) << what;
            for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
              ASSERT_EQ(totals.max[c], expectedPeaks.max[c]) << what << ", channel " << c;
            }
          }
        }
      }
    }
  }
}

// The line loops return with the upper halves of the vector registers
// clear, for every layout, whole lines or a part of one: left in use, they
// slow every SSE instruction after them many times over.
TEST(LineKernels, LeaveTheUpperHalvesClear) {
  if (!VectorLoopsAvailable()) GTEST_SKIP() << "no vector loops on this processor";
  struct Format {
    std::uint32_t bits;
    std::uint32_t code;
  };
  const Format formats[] = {{8, 1}, {8, 6}, {8, 7}, {16, 1}, {24, 1}, {32, 1}, {32, 3}, {64, 3}};
  std::mt19937 random(9);
  std::vector<std::uint8_t> bytes(2 * 441 * 8 * 8);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random() % 64);  // finite floats
  std::vector<double> lengths(2);
  std::vector<double> magnitudes(2 * 441 * 8);
  for (const Format& format : formats) {
    for (std::uint32_t channels = 1; channels <= kMaxChannels; ++channels) {
      WavAttributes wav;
      wav.sampleRate = 8000;
      wav.bytesPerSample = format.bits / 8;
      wav.validBits = format.bits;
      wav.channels = channels;
      wav.formatCode = format.code;
      for (const std::uint32_t resolution : {5u, 441u}) {
        ScanPlan plan = MakePlan(wav, 0, 2 * resolution, resolution, 1.0f);
        plan.vector = true;
        const std::string what = std::to_string(format.bits) + "-bit code " +
                                 std::to_string(format.code) + " x" + std::to_string(channels) +
                                 ", lines of " + std::to_string(resolution);
        Totals totals;
        const std::optional<bool> whole = testing::LeavesUpperHalvesInUse([&] {
          ComputeLines(plan, bytes.data(), 2, totals, {lengths.data(), magnitudes.data()});
        });
        if (!whole) GTEST_SKIP() << "the processor does not say";
        EXPECT_FALSE(*whole) << what;
        LinePartSums sums;
        const std::optional<bool> part = testing::LeavesUpperHalvesInUse(
            [&] { SumLinePart(plan, bytes.data(), resolution - 1, magnitudes.data(), sums); });
        EXPECT_FALSE(part.value_or(false)) << what << ", a part";
      }
    }
  }
}

}  // namespace
}  // namespace ampdots
