// The figures people ask of a recording, per channel: peak and where it is,
// RMS, DC, how many samples sit at the rails, how many are not numbers.
// Accumulated over any run of frames, merged in any order, and read out as
// dB and seconds only at the end.
#ifndef AMPDOTS_STATS_STATS_H_
#define AMPDOTS_STATS_STATS_H_

#include <cstddef>
#include <cstdint>

#include "scan/kernels.h"
#include "scan/plan.h"

namespace ampdots {

/// One channel's sums over a run of frames. x is a sample as a fraction of
/// full scale: integer PCM / 2^(container bits - 1), G.711 through its
/// 16-bit value / 32768, float as stored.
/// A peak frame not looked for yet (see AddRunStats).
inline constexpr std::uint64_t kUnknownFrame = UINT64_MAX;

struct ChannelStats {
  double peak = -1.0;           ///< largest |x|, not-a-numbers aside; -1 before any sample
  std::uint64_t peakFrame = 0;  ///< the first frame whose sample reaches `peak`
  double sum = 0.0;             ///< of x
  double squares = 0.0;         ///< of x^2
  std::uint64_t clipped = 0;    ///< samples at the rails
  std::uint64_t nan = 0;        ///< not-a-numbers, left out of everything else
};

struct Stats {
  std::uint64_t frames = 0;
  ChannelStats channel[kMaxChannels];
};

/// Where a layout's samples clip, in the integer values its kernels read
/// (16-bit values for the one-byte formats): at or above `high`, at or
/// below `low`. Integer PCM: the two extreme codes of the valid bits; G.711:
/// its two codes of largest magnitude. Float clips at |x| >= 1.
struct Rails {
  std::int32_t high = 0;
  std::int32_t low = 0;
};
Rails RailsFor(const ScanPlan& plan);

/// A sample as a fraction of full scale, and whether it clips, one at a
/// time: the picture's level over 128 for integer formats, the stored value
/// itself for float (zero is zero here). Not-a-number compares false: such
/// a sample is no peak, no rail.
struct ReferenceSample {
  double x = 0.0;
  bool clips = false;
};
ReferenceSample ReadReference(const ScanPlan& plan, const std::uint8_t* bytes);

/// Adds `frames` frames at `bytes`, the first of which is frame
/// `firstFrame` of the data, in vector lanes where the processor has them.
void AddStats(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
              std::uint64_t firstFrame, Stats& stats);

/// The same, except that where a channel's peak grows its frame is left
/// kUnknownFrame: for a run whose peak's frame matters only if it becomes
/// the interval's, which MergeRun then finds.
void AddRunStats(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                 std::uint64_t firstFrame, Stats& stats);

/// Whether AddRunStatsAndLine can take the plan's frames: mono and stereo
/// 16-bit, 24-bit and one-byte samples, where the vector loops are asked
/// for and the processor has them.
bool FiguresGiveLines(const ScanPlan& plan);

/// AddRunStats, and in the same pass over the frames the picture's line of
/// them: its sum of contributions added to `line.sum`, its channels' peaks
/// into `line.max`, as the picture's loops give them. Only where
/// FiguresGiveLines.
void AddRunStatsAndLine(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                        std::uint64_t firstFrame, Stats& stats, PcmTotals& line);

/// Merges `run`, figures of the `run.frames` frames at `bytes` from
/// `firstFrame` on, into `into`: where the run holds the new peak of a
/// channel and its frame is unknown, it is looked for first (and kept in
/// `run`).
void MergeRun(Stats& into, Stats& run, const ScanPlan& plan, const std::uint8_t* bytes,
              std::uint64_t firstFrame);

/// The same, one sample at a time through the per-sample decoders: the
/// yardstick AddStats is held to.
void AddStatsReference(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                       std::uint64_t firstFrame, Stats& stats);

/// `from`, a run of frames anywhere in the interval, added to `into`. On a
/// tie of peaks the earlier frame stands.
void MergeStats(Stats& into, const Stats& from);

/// A channel's figures as shown; not-a-number where there is none (no
/// sample, or a crest of silence).
struct Figures {
  double peakDb;    ///< 20 log10(peak): -inf for silence
  double peakTime;  ///< seconds from the start of the data
  double rmsDb;     ///< 20 log10(sqrt(mean of x^2))
  double dc;        ///< mean of x
  double crestDb;   ///< peak dB - RMS dB
  std::uint64_t clipped;
  std::uint64_t nan;
};
Figures FiguresOf(const ChannelStats& channel, std::uint64_t frames, std::uint32_t sampleRate);

/// Every channel's figures of `stats` at once, for the renderers that put
/// one figure of all channels side by side (each costs two logarithms).
struct ChannelFigures {
  Figures channel[kMaxChannels];
};
ChannelFigures FiguresOf(const Stats& stats, const ScanPlan& plan);

/// 20 log10(value): -inf for 0, not-a-number below it.
double Decibels(double value);

}  // namespace ampdots

#endif  // AMPDOTS_STATS_STATS_H_
