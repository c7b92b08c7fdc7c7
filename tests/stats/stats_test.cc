// The figures worked by hand: constant blocks, a full-scale square, one
// known sample, the rails of every format, not-a-numbers among floats, and
// one loud channel among many. Each case holds the vector loops, the
// portable ones and the one-sample-at-a-time reference to the same values.
#include "stats/stats.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "scan/kernels.h"
#include "support/vector_state.h"
#include "support/wav_builder.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::PutLe16;
using testing::PutLe24;
using testing::PutLe32;

ScanPlan PlanFor(Decoder decoder, std::uint32_t bytesPerSample, std::uint32_t channels,
                 std::uint32_t validBits = 0) {
  ScanPlan plan;
  plan.decoder = decoder;
  plan.bytesPerSample = bytesPerSample;
  plan.validBits = validBits == 0 ? 8 * bytesPerSample : validBits;
  plan.channels = channels;
  plan.frameBytes = bytesPerSample * channels;
  plan.sampleRate = 8000;
  return plan;
}

// The figures of `bytes` by every way of adding them, split into two runs
// (a frame apart from the rest) to hold the merge to the same.
struct Ways {
  Stats vector;
  Stats portable;
  Stats reference;
  Stats merged;
};

Ways AllWays(const ScanPlan& plan, const Bytes& bytes) {
  const std::size_t frames = bytes.size() / plan.frameBytes;
  Ways ways;
  ScanPlan vector = plan;
  vector.vector = true;  // where the processor has them
  AddStats(vector, bytes.data(), frames, 0, ways.vector);
  ScanPlan portable = plan;
  portable.vector = false;
  AddStats(portable, bytes.data(), frames, 0, ways.portable);
  AddStatsReference(plan, bytes.data(), frames, 0, ways.reference);
  Stats head;
  Stats rest;
  AddStats(plan, bytes.data(), 1, 0, head);
  AddStats(plan, bytes.data() + plan.frameBytes, frames - 1, 1, rest);
  MergeStats(rest, head);  // the later run first: ties must still go to the earlier frame
  ways.merged = rest;
  return ways;
}

// Every way gives the figures `expect` checks.
template <typename Check>
void ExpectEveryWay(const ScanPlan& plan, const Bytes& bytes, Check expect) {
  const Ways ways = AllWays(plan, bytes);
  const std::pair<const char*, const Stats*> each[] = {{"vector", &ways.vector},
                                                       {"portable", &ways.portable},
                                                       {"reference", &ways.reference},
                                                       {"merged", &ways.merged}};
  for (const auto& [name, stats] : each) {
    SCOPED_TRACE(name);
    expect(*stats);
  }
}

Figures Of(const Stats& stats, std::uint32_t channel) {
  return FiguresOf(stats.channel[channel], stats.frames, 8000);
}

TEST(Stats, ConstantHalfScale) {
  Bytes bytes;
  for (int i = 0; i < 1000; ++i) PutLe16(bytes, 16384);  // 0.5
  ExpectEveryWay(PlanFor(Decoder::kPcm16, 2, 1), bytes, [](const Stats& s) {
    const Figures f = Of(s, 0);
    EXPECT_NEAR(f.peakDb, -6.0206, 1e-4);
    EXPECT_NEAR(f.rmsDb, -6.0206, 1e-4);
    EXPECT_DOUBLE_EQ(f.dc, 0.5);
    EXPECT_NEAR(f.crestDb, 0.0, 1e-9);
    EXPECT_EQ(f.peakTime, 0.0);
    EXPECT_EQ(f.clipped, 0u);
  });
}

// A full-scale square: every sample at a rail, RMS 0 dBFS to 0.0002 dB
// (32767 is a hair below full scale), the peak at the first -32768.
TEST(Stats, FullScaleSquare) {
  Bytes bytes;
  for (int i = 0; i < 4000; ++i) PutLe16(bytes, i % 2 == 0 ? 32767 : 0x8000);
  ExpectEveryWay(PlanFor(Decoder::kPcm16, 2, 1), bytes, [](const Stats& s) {
    const Figures f = Of(s, 0);
    EXPECT_EQ(f.peakDb, 0.0);
    EXPECT_NEAR(f.rmsDb, 0.0, 2e-4);
    EXPECT_EQ(f.peakTime, 1.0 / 8000);
    EXPECT_EQ(f.clipped, 4000u);
    EXPECT_DOUBLE_EQ(f.dc, -1.0 / 65536);
  });
}

// One sample of -0.25 among 999 zeros, in 24-bit: the peak, its time, and
// an RMS 30 dB below it (1000 samples).
TEST(Stats, OneKnownSample) {
  Bytes bytes;
  for (int i = 0; i < 1000; ++i) PutLe24(bytes, i == 100 ? 0xE00000 : 0);
  ExpectEveryWay(PlanFor(Decoder::kPcm24, 3, 1), bytes, [](const Stats& s) {
    const Figures f = Of(s, 0);
    EXPECT_NEAR(f.peakDb, -12.0412, 1e-4);
    EXPECT_EQ(f.peakTime, 100.0 / 8000);
    EXPECT_NEAR(f.rmsDb, -42.0412, 1e-4);
    EXPECT_DOUBLE_EQ(f.dc, -0.25 / 1000);
  });
}

TEST(Stats, SilenceHasNoCrest) {
  const Bytes bytes(200, 0);
  ExpectEveryWay(PlanFor(Decoder::kPcm16, 2, 2), bytes, [](const Stats& s) {
    const Figures f = Of(s, 1);
    EXPECT_EQ(f.peakDb, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(f.rmsDb, -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(f.crestDb));
    EXPECT_EQ(f.peakTime, 0.0);
    EXPECT_EQ(f.dc, 0.0);
  });
}

// The rails of each format: the codes that clip, and their neighbours that
// do not. Each row is a mono file of those samples.
TEST(Stats, RailsOfEveryFormat) {
  struct Row {
    const char* name;
    ScanPlan plan;
    Bytes bytes;
    std::uint64_t clipped;
  };
  const auto le = [](std::initializer_list<std::uint32_t> values, int width) {
    Bytes b;
    for (const std::uint32_t v : values) {
      if (width == 2) PutLe16(b, v);
      if (width == 3) PutLe24(b, v);
      if (width == 4) PutLe32(b, v);
    }
    return b;
  };
  const std::uint32_t one = 0x3F800000;
  const std::uint32_t belowOne = 0x3F7FFFFF;
  const Row rows[] = {
      {"8-bit", PlanFor(Decoder::kPcm8, 1, 1), {0, 255, 1, 254, 128}, 2},
      {"16-bit", PlanFor(Decoder::kPcm16, 2, 1), le({0x7FFF, 0x8000, 0x7FFE, 0x8001}, 2), 2},
      {"12-bit in 16", PlanFor(Decoder::kPcm16, 2, 1, 12), le({0x7FF0, 0x7FEF, 0x8000}, 2), 2},
      // Long enough for the vector rows of 16 samples, in mono and stereo.
      {"16-bit rows", PlanFor(Decoder::kPcm16, 2, 1),
       testing::Repeat(le({0x7FFF, 0x8000, 0x7FFE, 0x8001}, 2), 9), 18},
      {"12-bit in 16 stereo rows", PlanFor(Decoder::kPcm16, 2, 2, 12),
       testing::Repeat(le({0x7FF0, 0x7FEF, 0x8000, 0x0001}, 2), 9), 18},
      {"24-bit", PlanFor(Decoder::kPcm24, 3, 1), le({0x7FFFFF, 0x800000, 0x7FFFFE, 0x800001}, 3),
       2},
      {"20-bit in 24", PlanFor(Decoder::kPcm24, 3, 1, 20), le({0x7FFFF0, 0x7FFFEF, 0x800000}, 3),
       2},
      // Long enough for the vector rows, in stereo: the left channel holds
      // 0x7FFFFF and 0x7FFFFE in turn, 16 samples.
      {"24-bit stereo rows", PlanFor(Decoder::kPcm24, 3, 2),
       testing::Repeat(le({0x7FFFFF, 0x800000, 0x7FFFFE, 0x800001}, 3), 8), 8},
      {"32-bit", PlanFor(Decoder::kPcm32, 4, 1),
       le({0x7FFFFFFF, 0x80000000, 0x7FFFFFFE, 0x80000001}, 4), 2},
      // mu-law 0x80 and 0x00 expand to +-32124; A-law 0xAA and 0x2A to +-32256.
      {"mu-law", PlanFor(Decoder::kMuLaw, 1, 1), {0x80, 0x00, 0x81, 0x01, 0xFF}, 2},
      {"A-law", PlanFor(Decoder::kALaw, 1, 1), {0xAA, 0x2A, 0xAB, 0x2B, 0xD5}, 2},
      {"float", PlanFor(Decoder::kFloat32, 4, 1),
       le({one, one | 0x80000000, belowOne, 0x7F800000, 0x3FC00000, 0x7FC00000}, 4), 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ExpectEveryWay(row.plan, row.bytes,
                   [&](const Stats& s) { EXPECT_EQ(Of(s, 0).clipped, row.clipped); });
  }
}

// Not-a-numbers are counted apart and change no other figure: 0.5, NaN,
// -0.5 has an RMS of 0.5 over its two numbers and no DC.
TEST(Stats, NotANumberCountedApart) {
  Bytes bytes;
  for (const std::uint32_t v : {0x3F000000u, 0x7FC00001u, 0xBF000000u}) PutLe32(bytes, v);
  ExpectEveryWay(PlanFor(Decoder::kFloat32, 4, 1), bytes, [](const Stats& s) {
    const Figures f = Of(s, 0);
    EXPECT_EQ(f.nan, 1u);
    EXPECT_NEAR(f.rmsDb, -6.0206, 1e-4);
    EXPECT_EQ(f.dc, 0.0);
    EXPECT_EQ(f.peakTime, 0.0);
  });
  Bytes onlyNan;
  PutLe32(onlyNan, 0x7FC00000);
  PutLe32(onlyNan, 0xFFC00000);
  ExpectEveryWay(PlanFor(Decoder::kFloat32, 4, 1), onlyNan, [](const Stats& s) {
    const Figures f = Of(s, 0);
    EXPECT_EQ(f.nan, 2u);
    EXPECT_TRUE(std::isnan(f.peakDb));  // no number: no peak at all
    EXPECT_TRUE(std::isnan(f.peakTime));
  });
}

// The same among whole vector rows, mono and stereo: 0.5, -0.5 over and
// over, one pair of them not numbers (RMS 0.5 over the numbers, no DC, one
// not-a-number a channel in stereo); and a pair of infinities of both
// signs, whose sum is not a number though none is read.
TEST(Stats, NotANumbersAmongRows) {
  for (const std::uint32_t channels : {1u, 2u}) {
    SCOPED_TRACE(channels);
    Bytes bytes;
    for (int i = 0; i < 40; ++i) {
      PutLe32(bytes, i == 10 || i == 11 ? 0x7FC00000u : i % 2 == 0 ? 0x3F000000u : 0xBF000000u);
    }
    ExpectEveryWay(PlanFor(Decoder::kFloat32, 4, channels), bytes, [&](const Stats& s) {
      for (std::uint32_t c = 0; c < channels; ++c) {
        const Figures f = Of(s, c);
        EXPECT_EQ(f.nan, channels == 1 ? 2u : 1u);
        EXPECT_NEAR(f.rmsDb, -6.0206, 1e-4);
        if (channels == 1) {
          EXPECT_EQ(f.dc, 0.0);
        }
      }
    });
    Bytes infinite;
    for (int i = 0; i < 40; ++i) {
      PutLe32(infinite, i == 20      ? 0x7F800000u
                        : i == 22    ? 0xFF800000u
                        : i % 2 == 0 ? 0x3F000000u
                                     : 0xBF000000u);
    }
    ExpectEveryWay(PlanFor(Decoder::kFloat32, 4, channels), infinite, [&](const Stats& s) {
      for (std::uint32_t c = 0; c < channels; ++c) EXPECT_EQ(Of(s, c).nan, 0u);
      EXPECT_EQ(Of(s, 0).peakDb, std::numeric_limits<double>::infinity());
    });
  }
}

// The figures and the picture's line of the same run in one pass: the
// figures are AddRunStats' to the last bit, the line's sum and peaks the
// picture's portable loop's, for every layout that has such a pass, mono
// and stereo, runs that do and do not fill the vector rows, with the
// extremes and the values either side of 256 (and of 2^16 for 24-bit).
TEST(Stats, FiguresAndTheirLineInOnePass) {
  if (!VectorLoopsAvailable()) GTEST_SKIP() << "no vector loops on this processor";
  // 16-bit stereo by hand: left 100 (below 256: subtracted), right -32768
  // (its magnitude added), 20 frames.
  Bytes known;
  for (int f = 0; f < 20; ++f) {
    PutLe16(known, 100);
    PutLe16(known, 0x8000);
  }
  ScanPlan plan = PlanFor(Decoder::kPcm16, 2, 2);
  plan.vector = true;
  ASSERT_TRUE(FiguresGiveLines(plan));
  Stats stats;
  PcmTotals line;
  AddRunStatsAndLine(plan, known.data(), 20, 0, stats, line);
  EXPECT_EQ(line.sum, 20 * (32768 - 100));
  EXPECT_EQ(line.max[0], 100u);
  EXPECT_EQ(line.max[1], 32768u);

  const struct {
    Decoder decoder;
    std::uint32_t width;
    void (*accumulate)(const std::uint8_t*, std::size_t, bool, PcmTotals&, bool);
  } layouts[] = {{Decoder::kPcm8, 1, AccumulatePcm8},
                 {Decoder::kMuLaw, 1, AccumulateMuLaw},
                 {Decoder::kALaw, 1, AccumulateALaw},
                 {Decoder::kPcm16, 2, AccumulatePcm16},
                 {Decoder::kPcm24, 3, AccumulatePcm24}};
  static constexpr std::uint32_t kEdges[] = {0x000000, 0x0000FF, 0x000100, 0x00FFFF, 0x010000,
                                             0x7FFFFF, 0x800000, 0xFFFFFF, 0x008000, 0xFF7FFF};
  std::mt19937 random(17);
  for (const auto& layout : layouts) {
    for (const std::uint32_t channels : {1u, 2u}) {
      ScanPlan vector = PlanFor(layout.decoder, layout.width, channels);
      vector.vector = true;
      ASSERT_TRUE(FiguresGiveLines(vector));
      ScanPlan portable = vector;
      portable.vector = false;
      EXPECT_FALSE(FiguresGiveLines(portable));
      for (const std::size_t frames : {1u, 15u, 16u, 17u, 100u, 2205u}) {
        Bytes bytes;
        for (std::size_t i = 0; i < frames * channels; ++i) {
          const std::uint32_t v = random() % 4 == 0 ? kEdges[random() % std::size(kEdges)]
                                                    : static_cast<std::uint32_t>(random());
          for (std::uint32_t b = 0; b < layout.width; ++b) {
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
          }
        }
        const std::string what = std::to_string(layout.width) + " bytes, code " +
                                 std::to_string(static_cast<int>(layout.decoder)) + ", " +
                                 std::to_string(channels) + " channels, " + std::to_string(frames) +
                                 " frames";
        Stats both;
        PcmTotals bothLine;
        AddRunStatsAndLine(vector, bytes.data(), frames, 5, both, bothLine);
        Stats alone;
        AddRunStats(vector, bytes.data(), frames, 5, alone);
        PcmTotals lineAlone;
        layout.accumulate(bytes.data(), frames * channels, channels == 2, lineAlone, false);
        EXPECT_EQ(bothLine.sum, lineAlone.sum) << what;
        EXPECT_EQ(both.frames, alone.frames) << what;
        for (std::uint32_t c = 0; c < channels; ++c) {
          EXPECT_EQ(bothLine.max[c], lineAlone.max[c]) << what << ", channel " << c;
          const ChannelStats& x = both.channel[c];
          const ChannelStats& y = alone.channel[c];
          EXPECT_EQ(x.peak, y.peak) << what;
          EXPECT_EQ(x.peakFrame, y.peakFrame) << what;
          EXPECT_EQ(x.sum, y.sum) << what;
          EXPECT_EQ(x.squares, y.squares) << what;
          EXPECT_EQ(x.clipped, y.clipped) << what;
        }
      }
    }
  }
}

// The vector loop's float sums and squares, to the last bit, as its rows
// add them: row r of 8 samples into lane j of set r % 2 (every second row
// where the rows are odd in number goes to set 0), the sets added lane by
// lane, the samples short of a row into their lanes, each channel's lanes
// in order. Values of every size, so that each order rounds its own way:
// the records' last digits rest on this one.
TEST(Stats, FloatVectorSumsInTheirRowsOrder) {
  if (!VectorLoopsAvailable()) GTEST_SKIP() << "no vector loops on this processor";
  std::mt19937 random(23);
  for (const std::uint32_t channels : {1u, 2u}) {
    for (const std::size_t frames : {7u, 8u, 24u, 1003u}) {
      const std::size_t samples = frames * channels;
      Bytes bytes;
      std::vector<double> x;
      for (std::size_t i = 0; i < samples; ++i) {
        const std::uint32_t bits = (static_cast<std::uint32_t>(random()) & 0x807FFFFF) |
                                   ((100 + static_cast<std::uint32_t>(random()) % 50) << 23);
        PutLe32(bytes, bits);
        x.push_back(static_cast<double>(std::bit_cast<float>(bits)));
      }
      double sum[2][8] = {};
      double squares[2][8] = {};
      const std::size_t rows = samples / 8;
      for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t j = 0; j < 8; ++j) {
          const double v = x[8 * r + j];
          sum[r % 2][j] += v;
          squares[r % 2][j] += v * v;
        }
      }
      double laneSum[8];
      double laneSquares[8];
      for (std::size_t j = 0; j < 8; ++j) {
        laneSum[j] = sum[0][j] + sum[1][j];
        laneSquares[j] = squares[0][j] + squares[1][j];
      }
      for (std::size_t i = 8 * rows, j = 0; i < samples; ++i, ++j) {
        laneSum[j] += x[i];
        laneSquares[j] += x[i] * x[i];
      }
      ScanPlan plan = PlanFor(Decoder::kFloat32, 4, channels);
      plan.vector = true;
      Stats stats;
      AddStats(plan, bytes.data(), frames, 0, stats);
      for (std::uint32_t c = 0; c < channels; ++c) {
        double s = 0.0;
        double q = 0.0;
        for (std::size_t j = c; j < 8; j += channels) {
          s += laneSum[j];
          q += laneSquares[j];
        }
        EXPECT_EQ(stats.channel[c].sum, s) << channels << " channels, " << frames << " frames";
        EXPECT_EQ(stats.channel[c].squares, q) << channels << " channels, " << frames << " frames";
      }
    }
  }
}

// 64-bit float is read as stored: zero is silence, not a tiny level.
TEST(Stats, DoublesAsStored) {
  Bytes bytes;
  for (const double v : {0.0, 0.125, -0.0, -2.0}) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    PutLe32(bytes, static_cast<std::uint32_t>(bits));
    PutLe32(bytes, static_cast<std::uint32_t>(bits >> 32));
  }
  ExpectEveryWay(PlanFor(Decoder::kFloat64, 8, 2), bytes, [](const Stats& s) {
    EXPECT_EQ(Of(s, 0).peakDb, -std::numeric_limits<double>::infinity());
    EXPECT_NEAR(Of(s, 1).peakDb, 6.0206, 1e-4);
    EXPECT_EQ(Of(s, 1).peakTime, 1.0 / 8000);
    EXPECT_EQ(Of(s, 1).clipped, 1u);
  });
}

// Three to eight channels, one of them loud: each channel's figures are its
// own, whatever lane of the loops it falls in.
TEST(Stats, OneLoudChannelAmongMany) {
  for (std::uint32_t channels = 3; channels <= 8; ++channels) {
    for (std::uint32_t loud = 0; loud < channels; ++loud) {
      Bytes bytes;
      for (int f = 0; f < 37; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) PutLe16(bytes, c == loud ? 0xC000 : 0);
      }
      SCOPED_TRACE(std::to_string(channels) + " channels, loud " + std::to_string(loud));
      ExpectEveryWay(PlanFor(Decoder::kPcm16, 2, channels), bytes, [&](const Stats& s) {
        for (std::uint32_t c = 0; c < channels; ++c) {
          const Figures f = Of(s, c);
          if (c == loud) {
            EXPECT_NEAR(f.rmsDb, -6.0206, 1e-4);
            EXPECT_DOUBLE_EQ(f.dc, -0.5);
          } else {
            EXPECT_EQ(f.peakDb, -std::numeric_limits<double>::infinity());
          }
        }
      });
    }
  }
}

// The bottom rail throughout, for more rows than a block of the 16-bit
// loop keeps in its lanes: two squares of -32768 fill a 32-bit lane to
// 2^31 (mono), three rows of one channel's to 3 x 2^30 (stereo), and 70001
// samples cross the blocks and leave a tail.
// Every code of the one-byte formats, three times over, in vector rows
// and in what is left after them, mono and stereo: each way gives the
// reference's figures to the last bit. Worked by hand for mono: G.711
// codes come in pairs of opposite values, so they sum to nothing; the
// 8-bit codes' values -128..127 (times 256) sum to -128 x 256 a round;
// two codes a round sit at the rails; the peak is the largest expansion
// (mu-law 32124, A-law 32256; 8-bit -32768), first met in round one.
TEST(Stats, EveryOneByteCode) {
  struct Law {
    const char* name;
    Decoder decoder;
    double sum;   // a round of all codes, in x
    double peak;  // in x
    std::uint64_t peakFrame;
  };
  const Law laws[] = {{"8-bit", Decoder::kPcm8, -1.0, 1.0, 0},
                      {"mu-law", Decoder::kMuLaw, 0.0, 32124 / 32768.0, 0x00},
                      {"A-law", Decoder::kALaw, 0.0, 32256 / 32768.0, 0x2A}};
  for (const Law& law : laws) {
    SCOPED_TRACE(law.name);
    Bytes rounds;
    for (int r = 0; r < 3; ++r) {
      for (int code = 0; code < 256; ++code) rounds.push_back(static_cast<std::uint8_t>(code));
    }
    ExpectEveryWay(PlanFor(law.decoder, 1, 1), rounds, [&](const Stats& s) {
      EXPECT_EQ(s.channel[0].sum, 3 * law.sum);
      EXPECT_EQ(s.channel[0].clipped, 6u);
      EXPECT_EQ(s.channel[0].peak, law.peak);
      EXPECT_EQ(s.channel[0].peakFrame, law.peakFrame);
    });
    // The codes in another order, so that each channel holds all kinds,
    // and lengths that leave 0 to 31 samples after the rows.
    for (const std::uint32_t channels : {1u, 2u}) {
      for (const std::size_t extra : {0u, 2u, 14u, 30u, 31u}) {
        if (extra % channels != 0) continue;
        Bytes bytes;
        for (std::size_t i = 0; i < 768 + extra; ++i) {
          bytes.push_back(static_cast<std::uint8_t>((i * 37 + i / 256) % 256));
        }
        const Ways ways = AllWays(PlanFor(law.decoder, 1, channels), bytes);
        for (const Stats* way : {&ways.vector, &ways.portable, &ways.merged}) {
          EXPECT_EQ(way->frames, ways.reference.frames);
          for (std::uint32_t c = 0; c < channels; ++c) {
            const ChannelStats& got = way->channel[c];
            const ChannelStats& want = ways.reference.channel[c];
            EXPECT_EQ(got.sum, want.sum) << channels << " channels, " << extra << " extra";
            EXPECT_EQ(got.squares, want.squares);
            EXPECT_EQ(got.peak, want.peak);
            EXPECT_EQ(got.peakFrame, want.peakFrame);
            EXPECT_EQ(got.clipped, want.clipped);
          }
        }
      }
    }
  }
}

TEST(Stats, BottomRailForManyRows) {
  for (const std::uint32_t channels : {1u, 2u}) {
    SCOPED_TRACE(channels);
    const Bytes bytes = testing::Repeat({0x00, 0x80}, 70001 * channels);
    ExpectEveryWay(PlanFor(Decoder::kPcm16, 2, channels), bytes, [&](const Stats& s) {
      for (std::uint32_t c = 0; c < channels; ++c) {
        const ChannelStats& channel = s.channel[c];
        EXPECT_EQ(channel.sum, -70001.0);
        EXPECT_EQ(channel.squares, 70001.0);
        EXPECT_EQ(channel.peak, 1.0);
        EXPECT_EQ(channel.peakFrame, 0u);
        EXPECT_EQ(channel.clipped, 70001u);
      }
    });
  }
}

// Every vector loop returns with the upper halves of the vector registers
// clear, whatever its layout and length and whether it looks for its peak
// frames: left in use, they made each of libm's logarithms in the JSON
// records ten times slower.
TEST(Stats, VectorLoopsLeaveTheUpperHalvesClear) {
  if (!VectorLoopsAvailable()) GTEST_SKIP() << "no vector loops on this processor";
  struct Format {
    Decoder decoder;
    std::uint32_t bytesPerSample;
  };
  const Format formats[] = {{Decoder::kPcm8, 1},    {Decoder::kMuLaw, 1},  {Decoder::kALaw, 1},
                            {Decoder::kPcm16, 2},   {Decoder::kPcm24, 3},  {Decoder::kPcm32, 4},
                            {Decoder::kFloat32, 4}, {Decoder::kFloat64, 8}};
  std::mt19937 random(5);
  Bytes bytes(2205 * 8 * 8);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random() % 64);  // finite floats
  for (const Format& format : formats) {
    for (std::uint32_t channels = 1; channels <= kMaxChannels; ++channels) {
      ScanPlan plan = PlanFor(format.decoder, format.bytesPerSample, channels);
      plan.vector = true;
      for (const std::size_t frames : {std::size_t{1}, std::size_t{37}, std::size_t{2205}}) {
        for (const bool find : {true, false}) {
          Stats stats;
          const std::optional<bool> inUse = testing::LeavesUpperHalvesInUse(
              [&] { (find ? AddStats : AddRunStats)(plan, bytes.data(), frames, 0, stats); });
          if (!inUse) GTEST_SKIP() << "the processor does not say";
          EXPECT_FALSE(*inUse) << static_cast<int>(format.decoder) << " x" << channels << ", "
                               << frames << " frames" << (find ? ", peak frames found" : "");
        }
      }
    }
  }
}

}  // namespace
}  // namespace ampdots
