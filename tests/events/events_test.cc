// Silent stretches and clipped runs worked by hand on 16-bit and float
// frames, fed in runs of every size so that stretches and runs start and
// end inside runs, on their edges and across them; the figures handed with
// each run are its own, as the scan hands them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "events/clips.h"
#include "events/silence.h"
#include "stats/stats.h"
#include "support/wav_builder.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::PutLe16;

ScanPlan PlanFor(Decoder decoder, std::uint32_t bytesPerSample, std::uint32_t channels,
                 std::uint32_t startFrame = 0) {
  ScanPlan plan;
  plan.decoder = decoder;
  plan.bytesPerSample = bytesPerSample;
  plan.validBits = 8 * bytesPerSample;
  plan.channels = channels;
  plan.frameBytes = bytesPerSample * channels;
  plan.sampleRate = 8000;
  plan.startFrame = startFrame;
  return plan;
}

// 16-bit frames from one value per sample, channel after channel.
Bytes Pcm16(const std::vector<int>& samples) {
  Bytes b;
  for (const int s : samples) PutLe16(b, static_cast<std::uint32_t>(s) & 0xFFFF);
  return b;
}

// Hands `bytes` to `add` in runs of `piece` frames, each with its figures.
template <typename Add>
void Feed(const ScanPlan& plan, const Bytes& bytes, std::size_t piece, Add add) {
  const std::size_t frames = bytes.size() / plan.frameBytes;
  for (std::size_t f = 0; f < frames; f += piece) {
    const std::size_t n = std::min(piece, frames - f);
    const std::uint8_t* at = bytes.data() + f * plan.frameBytes;
    Stats stats;
    AddStatsReference(plan, at, n, plan.startFrame + f, stats);
    add(FrameRun{at, n, plan.startFrame + f, stats});
  }
}

std::vector<Stretch> SilencesOf(const ScanPlan& plan, const Bytes& bytes, double level,
                                std::uint64_t minFrames, std::size_t piece) {
  SilenceFinder finder(plan, level, minFrames);
  Feed(plan, bytes, piece, [&](const FrameRun& run) { finder.Add(run); });
  finder.Finish();
  std::vector<Stretch> found;
  for (std::size_t i = 0; i < finder.Listed(); ++i) found.push_back(finder.At(i));
  return found;
}

constexpr std::size_t kPieces[] = {1, 2, 3, 7, 10, 64, 1000};

TEST(Silence, StretchesOfExactlyTheLengthCountAndOneFrameShorterDoNot) {
  // Loud 1000, then 10 quiet frames (|x| at most the level: 32 of 32768 is
  // about -60.2 dBFS), loud, 9 quiet, loud, then 12 quiet to the end.
  std::vector<int> s(3, 1000);
  for (int i = 0; i < 10; ++i) s.push_back(i % 2 == 0 ? 32 : -32);
  s.push_back(-1000);
  for (int i = 0; i < 9; ++i) s.push_back(0);
  s.push_back(33);  // one lowest bit above the level: loud
  for (int i = 0; i < 12; ++i) s.push_back(i);
  const ScanPlan plan = PlanFor(Decoder::kPcm16, 2, 1, 500);
  const double level = 32.0 / 32768.0;
  for (const std::size_t piece : kPieces) {
    SCOPED_TRACE(piece);
    const auto found = SilencesOf(plan, Pcm16(s), level, 10, piece);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], (Stretch{503, 513}));
    EXPECT_EQ(found[1], (Stretch{524, 536}));  // reaches the end: ends there
  }
}

TEST(Silence, AllOfItAndNoneOfItAndEveryChannelMustBeQuiet) {
  const ScanPlan mono = PlanFor(Decoder::kPcm16, 2, 1);
  for (const std::size_t piece : kPieces) {
    EXPECT_EQ(SilencesOf(mono, Pcm16(std::vector<int>(50, 0)), 0.001, 50, piece),
              (std::vector<Stretch>{{0, 50}}));
    EXPECT_TRUE(SilencesOf(mono, Pcm16(std::vector<int>(50, 0)), 0.001, 51, piece).empty());
    EXPECT_TRUE(SilencesOf(mono, Pcm16(std::vector<int>(50, -400)), 0.001, 1, piece).empty());
  }
  // Stereo: the left is quiet throughout, the right only in frames 20-39.
  std::vector<int> s;
  for (int f = 0; f < 60; ++f) {
    s.push_back(0);
    s.push_back(f >= 20 && f < 40 ? 0 : 5000);
  }
  const ScanPlan stereo = PlanFor(Decoder::kPcm16, 2, 2);
  for (const std::size_t piece : kPieces) {
    EXPECT_EQ(SilencesOf(stereo, Pcm16(s), 0.001, 5, piece), (std::vector<Stretch>{{20, 40}}));
  }
}

TEST(Silence, ShortStretchesInsideLoudRunsAreFoundAsLongOnesAre) {
  // A stretch of 3 and one of 4 inside a run of loud frames, with a
  // shortest stretch of 1, 3 and 4 frames: every one that is long enough.
  std::vector<int> s{9000, 9000, 0, 0, 0, 9000, 0, 0, 0, 0, 9000, 9000};
  const ScanPlan plan = PlanFor(Decoder::kPcm16, 2, 1);
  for (const std::size_t piece : kPieces) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(SilencesOf(plan, Pcm16(s), 0.001, 1, piece), (std::vector<Stretch>{{2, 5}, {6, 10}}));
    EXPECT_EQ(SilencesOf(plan, Pcm16(s), 0.001, 3, piece), (std::vector<Stretch>{{2, 5}, {6, 10}}));
    EXPECT_EQ(SilencesOf(plan, Pcm16(s), 0.001, 4, piece), (std::vector<Stretch>{{6, 10}}));
  }
}

TEST(Silence, NotANumberIsNoSilence) {
  Bytes b;
  for (int i = 0; i < 8; ++i)
    testing::PutFloat(b, i == 4 ? std::numeric_limits<float>::quiet_NaN() : 0.0f);
  const ScanPlan plan = PlanFor(Decoder::kFloat32, 4, 1);
  for (const std::size_t piece : kPieces) {
    EXPECT_EQ(SilencesOf(plan, b, 0.001, 4, piece), (std::vector<Stretch>{{0, 4}}));
  }
}

TEST(Silence, SecondsToFrames) {
  EXPECT_EQ(StretchFrames(2.0, 8000), 16000u);
  EXPECT_EQ(StretchFrames(0.1, 44100), 4410u);  // 4410.000000000001 in doubles
  EXPECT_EQ(StretchFrames(0.0001, 44100), 5u);  // 4.41 frames: a stretch needs 5
  EXPECT_EQ(StretchFrames(0.0, 44100), 1u);
}

struct Found {
  std::uint64_t frame;
  std::uint64_t samples;
  std::uint32_t channel;
  bool operator==(const Found&) const = default;
};

std::vector<Found> ClipsOf(const ScanPlan& plan, const Bytes& bytes, std::size_t piece,
                           std::uint64_t* total = nullptr) {
  ClipFinder finder(plan);
  Feed(plan, bytes, piece, [&](const FrameRun& run) { finder.Add(run); });
  finder.Finish();
  std::vector<Found> found;
  for (std::size_t i = 0; i < finder.Listed(); ++i) {
    found.push_back({finder.At(i).frame, finder.At(i).samples, finder.At(i).channel});
  }
  if (total != nullptr) *total = finder.Total();
  return found;
}

TEST(Clips, RunsAtTheStartAndTheEndOfTheIntervalInEachChannel) {
  // Stereo 16-bit: the left at the top rail in frames 0-1 and 9-10 (the
  // end), the right at the bottom rail in frames 4-6.
  std::vector<int> s;
  for (int f = 0; f < 11; ++f) {
    s.push_back(f < 2 || f >= 9 ? 32767 : 32766);
    s.push_back(f >= 4 && f < 7 ? -32768 : -32767);
  }
  const ScanPlan plan = PlanFor(Decoder::kPcm16, 2, 2, 100);
  for (const std::size_t piece : kPieces) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(ClipsOf(plan, Pcm16(s), piece),
              (std::vector<Found>{{100, 2, 0}, {104, 3, 1}, {109, 2, 0}}));
  }
}

TEST(Clips, TheEarliestTwentyAreListedAndAllAreCounted) {
  // The right channel clips through frames 0-99; the left clips every
  // other frame from 1 to 59: 30 runs of one, which end before the long
  // run does, yet the long run is the first listed.
  std::vector<int> s;
  for (int f = 0; f < 100; ++f) {
    s.push_back(f % 2 == 1 && f < 60 ? 32767 : 0);
    s.push_back(32767);
  }
  const ScanPlan plan = PlanFor(Decoder::kPcm16, 2, 2);
  for (const std::size_t piece : kPieces) {
    SCOPED_TRACE(piece);
    std::uint64_t total = 0;
    const auto found = ClipsOf(plan, Pcm16(s), piece, &total);
    EXPECT_EQ(total, 31u);
    ASSERT_EQ(found.size(), kListedClipRuns);
    EXPECT_EQ(found[0], (Found{0, 100, 1}));
    for (std::size_t i = 1; i < found.size(); ++i) {
      EXPECT_EQ(found[i], (Found{2 * i - 1, 1, 0}));
    }
  }
}

TEST(Clips, FloatClipsAtOneAndAbove) {
  Bytes b;
  for (const float x : {0.5f, 1.0f, -1.5f, 0.99f, 1.0f}) testing::PutFloat(b, x);
  const ScanPlan plan = PlanFor(Decoder::kFloat32, 4, 1);
  for (const std::size_t piece : kPieces) {
    EXPECT_EQ(ClipsOf(plan, b, piece), (std::vector<Found>{{1, 2, 0}, {4, 1, 0}}));
  }
}

}  // namespace
}  // namespace ampdots
