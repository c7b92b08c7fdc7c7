// Loudness as broadcasters measure it: K-weighted mean squares, weighted by
// channel, over 400 ms (momentary) and 3 s (short-term) windows; the gated
// integrated loudness, the loudness range and the true peak of a whole
// interval. Fed every frame of a scan once, in order; its memory is bounded
// by the sample rate, not by the interval's length.
#ifndef AMPDOTS_LOUDNESS_METER_H_
#define AMPDOTS_LOUDNESS_METER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "loudness/filters.h"
#include "scan/blocks.h"
#include "scan/plan.h"
#include "scan/worker.h"

namespace ampdots {

/// Sample rates a meter takes: its windows and filters are made for these.
inline constexpr std::uint32_t kLowestLoudnessRate = 8000;
inline constexpr std::uint32_t kHighestLoudnessRate = 384000;

/// Each channel's weight in the sum of mean squares: from the speaker
/// positions of a WAVE_FORMAT_EXTENSIBLE channel mask where there is one
/// (LFE 0, side surrounds 1.41, back ones 1.41 where there are no side
/// ones, every other 1), else from the usual order for the channel count.
/// `dualMono` counts a mono file twice.
struct ChannelWeights {
  double weight[kMaxChannels] = {};
};
ChannelWeights WeightsFor(std::uint32_t channels, std::uint32_t channelMask, bool dualMono);

/// LUFS of a weighted mean square: -0.691 + 10 log10(z); -inf for 0.
double LoudnessOf(double meanSquare);

/// Loudness values kept without keeping them one by one: bins of 0.01 LU
/// from -70 LUFS up (the last bin open above), each with its count, the sum
/// of its mean squares and its lowest and highest value. A gate that
/// passes between two values of one bin takes the bin's whole or nothing
/// by its middle; one value, or equal ones, are decided exactly.
class LoudnessHistogram {
 public:
  LoudnessHistogram();
  /// A value at or above -70 LUFS with its mean square.
  void Add(double loudness, double meanSquare);

  struct Part {
    std::uint64_t count = 0;
    double meanSquares = 0.0;  ///< their sum
  };
  /// The values above `gate` (at or above with `orEqual`).
  Part Above(double gate, bool orEqual) const;
  /// The `rank`-th smallest (from 1) of the values above the gate.
  double ValueAt(std::uint64_t rank, double gate, bool orEqual) const;
  Part All() const { return all_; }

 private:
  struct Bin {
    std::uint64_t count = 0;
    double meanSquares = 0.0;
    double low = 0.0;
    double high = 0.0;
  };
  bool Takes(const Bin& bin, double gate, bool orEqual) const;
  std::vector<Bin> bins_;
  Part all_;
};

/// Gated loudness of 400 ms blocks whose loudness was above -70 LUFS: the
/// mean square of those above the relative gate, 10 LU under their own;
/// -inf with none.
double IntegratedLoudness(const LoudnessHistogram& blocks);

/// The loudness range of short-term values at or above -70 LUFS: the 10th
/// to the 95th percentile of those at or above 20 LU under their mean.
/// Not-a-number with none.
struct LoudnessRange {
  double range;
  double low;
  double high;
};
LoudnessRange RangeOf(const LoudnessHistogram& shortTerm);

struct LoudnessFigures {
  double integrated;
  LoudnessRange range;
  double maxMomentary;
  double maxShortTerm;
  double truePeak[kMaxChannels];  ///< dBTP, never below the sample peak
};

class LoudnessMeter {
 public:
  /// `vector`: the true peak's loops in vector lanes where the processor
  /// has them. The channels are shared with a thread of the meter's own
  /// unless the plan never uses a worker.
  LoudnessMeter(const ScanPlan& plan, const ChannelWeights& weights, bool vector);
  ~LoudnessMeter();
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  /// The next frames of the interval, in order.
  void Add(const FrameRun& run);
  void Add(const std::uint8_t* bytes, std::size_t frames);

  /// The windows that end at the last frame added; -inf until they are full.
  double Momentary() const;
  double ShortTerm() const;

  LoudnessFigures Figures() const;

 private:
  void Channels(const std::uint8_t* bytes, std::size_t frames);
  void Channel(std::uint32_t c, const std::uint8_t* bytes, std::size_t frames);
  void Decode(std::uint32_t c, const std::uint8_t* bytes, std::size_t frames);
  void Weigh(std::uint32_t c, std::size_t frames);
  std::size_t SecondHalf(std::size_t frames) const;
  void Peaks(std::uint32_t c, std::size_t frames);
  void Walk(const double* squares, const double* more, std::size_t frames);
  template <bool kTwo>
  void Keep(const double* squares, const double* more, std::size_t frames);
  void Measure();
  /// The sum of weighted squares of the `length` frames before the last one
  /// added, which must all be kept.
  double WindowSum(std::uint64_t length) const;
  std::uint64_t NextEvent() const;

  ScanPlan plan_;
  ChannelWeights weights_;
  KWeighting filter_;
  Oversampler oversampler_;
  bool vector_;
  /// Frames for a filter begun from rest to reach a running one's state to
  /// the last bit; a slice at least twice as long is filtered as two
  /// stretches at once unless the plan never shares work.
  std::size_t settle_;
  bool splitFilters_;
  std::uint64_t block_;      ///< frames of the momentary window and the gating blocks
  std::uint64_t step_;       ///< frames between gating blocks and short-term values
  std::uint64_t shortTerm_;  ///< frames of the short-term window
  std::uint64_t sub_;        ///< frames a kept partial sum: 10 ms
  std::uint64_t frames_ = 0;

  struct ChannelState {
    // The last two inputs and outputs of the shelf, and outputs of the
    // high-pass (whose inputs are the shelf's outputs).
    double in1 = 0.0, in2 = 0.0, shelf1 = 0.0, shelf2 = 0.0, pass1 = 0.0, pass2 = 0.0;
    float history[kMaxPeakTaps] = {};  ///< the last taps - 1 samples, oldest first
    float peak = 0.0f;                 ///< largest |x| at and between samples
  };
  ChannelState channel_[kMaxChannels];

  // Per frame, then per `sub_` frames, the weighted squares of the last
  // short-term window; what the windows are summed from. Sizes are powers
  // of two; nothing is read before it is written.
  std::size_t frameRingSize_;
  std::size_t subRingSize_;
  std::unique_ptr<double[]> frameRing_;
  std::unique_ptr<double[]> subRing_;
  double openSub_ = 0.0;

  LoudnessHistogram blocks_;
  LoudnessHistogram shortTermValues_;
  double maxMomentary_ = -1.0;  ///< mean squares; -1 before any
  double maxShortTerm_ = -1.0;

  // A slice of frames at a time: each channel's samples after its kept
  // history, and its weighted K-filtered squares; then their sums by frame.
  static constexpr std::size_t kSlice = 65536;
  std::vector<float> samples_;
  std::vector<double> channelSquares_;
  std::vector<double> squares_;
  std::unique_ptr<SideThread> side_;
};

}  // namespace ampdots

#endif  // AMPDOTS_LOUDNESS_METER_H_
