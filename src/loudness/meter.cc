#include "loudness/meter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "scan/kernels.h"
#include "scan/sample_formats.h"
#include "stats/stats.h"

namespace ampdots {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kAbsoluteGate = -70.0;
constexpr double kBinsPerLu = 100.0;
constexpr std::size_t kBins = 12000;  // -70 to +50 LUFS, the last bin open above
constexpr double kBlockGate = -10.0;  // relative gate of the integrated loudness
constexpr double kRangeGate = -20.0;  // of the loudness range
// A sample past this (200 dB over full scale) is taken as this, so that its
// square, summed over any interval, stays finite.
constexpr double kLargestSample = 1e10;

// Speaker positions of the WAVE_FORMAT_EXTENSIBLE channel mask.
constexpr std::uint32_t kLfe = 0x8;
constexpr std::uint32_t kBackLeft = 0x10;
constexpr std::uint32_t kBackRight = 0x20;
constexpr std::uint32_t kSideLeft = 0x200;
constexpr std::uint32_t kSideRight = 0x400;
constexpr double kSurround = 1.41;

#define AMPDOTS_PEAK_TARGET
#define AMPDOTS_PEAK_NAME PeakPlain
#include "loudness/peak_kernel.inc"
#undef AMPDOTS_PEAK_TARGET
#undef AMPDOTS_PEAK_NAME

#if defined(__x86_64__) || defined(__i386__)
#define AMPDOTS_PEAK_TARGET __attribute__((target("avx2")))
#define AMPDOTS_PEAK_NAME PeakAvx2
#include "loudness/peak_kernel.inc"
#undef AMPDOTS_PEAK_TARGET
#undef AMPDOTS_PEAK_NAME
bool HasAvx2() { return __builtin_cpu_supports("avx2"); }
#else
template <std::size_t kTaps>
std::uint32_t PeakAvx2(const Oversampler& o, const float* in, std::size_t frames) {
  return PeakPlain<kTaps>(o, in, frames);
}
bool HasAvx2() { return false; }
#endif

std::uint64_t FramesOf(double seconds, std::uint32_t rate) {
  return static_cast<std::uint64_t>(std::llround(seconds * rate));
}

// The next frame after `now` of first, first + step, first + 2 step, ...
std::uint64_t NextOf(std::uint64_t now, std::uint64_t first, std::uint64_t step) {
  if (now < first) return first;
  return first + ((now - first) / step + 1) * step;
}

bool Due(std::uint64_t now, std::uint64_t first, std::uint64_t step) {
  return now >= first && (now - first) % step == 0;
}

double Finite(double x) {
  if (std::isnan(x)) return 0.0;
  return std::clamp(x, -kLargestSample, kLargestSample);
}

// The sum of ring[k & mask] for k from `from` to `to`, in four running
// sums (one add's wait each, not one a term).
double SumOf(const double* ring, std::uint64_t mask, std::uint64_t from, std::uint64_t to) {
  double sum[4] = {0.0, 0.0, 0.0, 0.0};
  std::uint64_t k = from;
  for (; k + 4 <= to; k += 4) {
    for (std::uint64_t j = 0; j < 4; ++j) sum[j] += ring[(k + j) & mask];
  }
  for (; k < to; ++k) sum[0] += ring[k & mask];
  return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

// The filters' outputs kept from frame to frame.
struct FilterState {
  double y1 = 0.0, y2 = 0.0;  ///< the shelf's last two
  double v1 = 0.0, v2 = 0.0;  ///< the high-pass's
};

// One step of both filters on the shelf's input terms `in`; returns the
// K-weighted sample. Each chain from one output to the next is one product
// and one difference (its own output subtracted last); the high-pass's
// numerator, a gain times 1, -2, 1, is one product.
inline double Step(const Biquad& s, const Biquad& h, double in, FilterState& f) {
  const double y = (in - s.a2 * f.y2) - s.a1 * f.y1;
  const double v = (h.b0 * ((y + f.y2) - (f.y1 + f.y1)) - h.a2 * f.v2) - h.a1 * f.v1;
  f.y2 = f.y1;
  f.y1 = y;
  f.v2 = f.v1;
  f.v1 = v;
  return v;
}

// Frames `from` to `to` of `out` (the shelf's input terms) into weighted
// squares, or, where `keep` is false, only through the filters.
void Filter(const Biquad& s, const Biquad& h, double weight, double* out, std::size_t from,
            std::size_t to, bool keep, FilterState& f) {
  for (std::size_t i = from; i < to; ++i) {
    const double v = Step(s, h, out[i], f);
    if (keep) out[i] = weight * (v * v);
  }
}

// Two doubles that the processor's vector unit, where it has one, works on
// at once; plain pairs elsewhere. Each lane rounds as a double alone does.
typedef double Pair __attribute__((vector_size(16)));

// `steps` frames of two stretches at once, a lane each: from 0 with
// `first`, and from `start` with `second`, whose frames before `split` are
// its warm-up (the first's to keep). The second reads each frame before the
// first writes it.
void FilterTwo(const Biquad& s, const Biquad& h, double weight, double* out, std::size_t steps,
               std::size_t start, std::size_t split, FilterState& first, FilterState& second) {
  Pair y1 = {first.y1, second.y1}, y2 = {first.y2, second.y2};
  Pair v1 = {first.v1, second.v1}, v2 = {first.v2, second.v2};
  for (std::size_t j = 0; j < steps; ++j) {
    const std::size_t i = start + j;
    const Pair in = {out[j], out[i]};
    const Pair y = (in - s.a2 * y2) - s.a1 * y1;
    const Pair v = (h.b0 * ((y + y2) - (y1 + y1)) - h.a2 * v2) - h.a1 * v1;
    y2 = y1;
    y1 = y;
    v2 = v1;
    v1 = v;
    const Pair squares = weight * (v * v);
    out[j] = squares[0];
    if (i >= split) out[i] = squares[1];
  }
  first = {y1[0], y2[0], v1[0], v2[0]};
  second = {y1[1], y2[1], v1[1], v2[1]};
}

// Frames for a filter started from rest to take on the state of one that
// has run all along, to the last bit: its slowest pole's decay to 2^-80,
// twice over (the high-pass's two poles are nearly one, which decays as
// n r^n).
std::size_t SettleFrames(const KWeighting& k) {
  double slowest = 0.0;
  for (const Biquad* f : {&k.shelf, &k.highPass}) {
    // Poles of z^2 + a1 z + a2: complex ones lie at sqrt(a2).
    const double d = f->a1 * f->a1 - 4.0 * f->a2;
    const double radius = d < 0.0 ? std::sqrt(f->a2) : (std::fabs(f->a1) + std::sqrt(d)) / 2.0;
    slowest = std::max(slowest, radius);
  }
  if (!(slowest < 1.0)) return SIZE_MAX / 8;
  return static_cast<std::size_t>(2.0 * std::ceil(80.0 * std::log(2.0) / -std::log(slowest)));
}

std::size_t BinOf(double loudness) {
  const double at = std::floor((loudness - kAbsoluteGate) * kBinsPerLu);
  if (!(at >= 0.0)) return 0;
  if (at >= static_cast<double>(kBins - 1)) return kBins - 1;
  return static_cast<std::size_t>(at);
}

}  // namespace

ChannelWeights WeightsFor(std::uint32_t channels, std::uint32_t channelMask, bool dualMono) {
  ChannelWeights w;
  std::fill(std::begin(w.weight), std::end(w.weight), 1.0);
  if (channelMask != 0) {
    // Channels take the mask's positions in order; any past them weigh 1.
    const bool sides = (channelMask & (kSideLeft | kSideRight)) != 0;
    std::uint32_t c = 0;
    for (std::uint32_t bit = 1; bit != 0 && c < channels && c < kMaxChannels; bit <<= 1) {
      if ((channelMask & bit) == 0) continue;
      if (bit == kLfe) w.weight[c] = 0.0;
      if (bit == kSideLeft || bit == kSideRight) w.weight[c] = kSurround;
      if ((bit == kBackLeft || bit == kBackRight) && !sides) w.weight[c] = kSurround;
      ++c;
    }
  } else {
    // L R C LFE, then the surrounds last: two of them, the sides of 7.1.
    if (channels >= 6) w.weight[3] = 0.0;
    if (channels >= 4 && channels <= kMaxChannels) {
      w.weight[channels - 1] = kSurround;
      w.weight[channels - 2] = kSurround;
    }
  }
  if (channels == 1 && dualMono) w.weight[0] = 2.0;
  return w;
}

double LoudnessOf(double meanSquare) { return -0.691 + 10.0 * std::log10(meanSquare); }

LoudnessHistogram::LoudnessHistogram() : bins_(kBins) {}

void LoudnessHistogram::Add(double loudness, double meanSquare) {
  Bin& bin = bins_[BinOf(loudness)];
  if (bin.count == 0) {
    bin.low = loudness;
    bin.high = loudness;
  }
  bin.low = std::min(bin.low, loudness);
  bin.high = std::max(bin.high, loudness);
  ++bin.count;
  bin.meanSquares += meanSquare;
  ++all_.count;
  all_.meanSquares += meanSquare;
}

bool LoudnessHistogram::Takes(const Bin& bin, double gate, bool orEqual) const {
  const auto above = [&](double value) { return orEqual ? value >= gate : value > gate; };
  if (above(bin.low)) return true;
  if (!above(bin.high)) return false;
  return above((bin.low + bin.high) / 2.0);
}

LoudnessHistogram::Part LoudnessHistogram::Above(double gate, bool orEqual) const {
  Part part;
  for (const Bin& bin : bins_) {
    if (bin.count == 0 || !Takes(bin, gate, orEqual)) continue;
    part.count += bin.count;
    part.meanSquares += bin.meanSquares;
  }
  return part;
}

double LoudnessHistogram::ValueAt(std::uint64_t rank, double gate, bool orEqual) const {
  for (const Bin& bin : bins_) {
    if (bin.count == 0 || !Takes(bin, gate, orEqual)) continue;
    if (rank <= bin.count) {
      // Spread evenly from the bin's lowest to its highest.
      if (bin.count == 1) return bin.low;
      return bin.low + (bin.high - bin.low) * static_cast<double>(rank - 1) /
                           static_cast<double>(bin.count - 1);
    }
    rank -= bin.count;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

double IntegratedLoudness(const LoudnessHistogram& blocks) {
  const LoudnessHistogram::Part all = blocks.All();
  if (all.count == 0) return -kInf;
  const double gate = LoudnessOf(all.meanSquares / static_cast<double>(all.count)) + kBlockGate;
  const LoudnessHistogram::Part kept = blocks.Above(gate, false);
  if (kept.count == 0) return -kInf;
  return LoudnessOf(kept.meanSquares / static_cast<double>(kept.count));
}

LoudnessRange RangeOf(const LoudnessHistogram& shortTerm) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  const LoudnessHistogram::Part all = shortTerm.All();
  if (all.count == 0) return {kNan, kNan, kNan};
  const double gate = LoudnessOf(all.meanSquares / static_cast<double>(all.count)) + kRangeGate;
  const std::uint64_t n = shortTerm.Above(gate, true).count;
  if (n == 0) return {kNan, kNan, kNan};
  const auto percentile = [&](double fraction) {
    const double rank = std::round(static_cast<double>(n - 1) * fraction + 1.0);
    return shortTerm.ValueAt(static_cast<std::uint64_t>(rank), gate, true);
  };
  const double low = percentile(0.10);
  const double high = percentile(0.95);
  return {high - low, low, high};
}

LoudnessMeter::LoudnessMeter(const ScanPlan& plan, const ChannelWeights& weights, bool vector)
    : plan_(plan),
      weights_(weights),
      filter_(KWeightingFor(plan.sampleRate)),
      oversampler_(OversamplerFor(plan.sampleRate)),
      vector_(vector && HasAvx2()),
      settle_(SettleFrames(filter_)),
      splitFilters_(plan.worker != WorkerUse::kNever),
      block_(std::max<std::uint64_t>(1, FramesOf(0.4, plan.sampleRate))),
      step_(std::max<std::uint64_t>(1, FramesOf(0.1, plan.sampleRate))),
      shortTerm_(std::max<std::uint64_t>(1, FramesOf(3.0, plan.sampleRate))),
      sub_(std::max<std::uint64_t>(1, plan.sampleRate / 100)),
      // Three seconds at the highest rate a meter takes: small on any host.
      frameRingSize_(static_cast<std::size_t>(std::bit_ceil(shortTerm_ + 1))),
      subRingSize_(static_cast<std::size_t>(std::bit_ceil(shortTerm_ / sub_ + 2))),
      frameRing_(std::make_unique_for_overwrite<double[]>(frameRingSize_)),
      subRing_(std::make_unique_for_overwrite<double[]>(subRingSize_)),
      samples_(plan.channels * (kMaxPeakTaps + kSlice)),
      channelSquares_(plan.channels * kSlice),
      squares_(kSlice) {
  if (plan.channels >= 2 && plan.worker != WorkerUse::kNever) {
    side_ = std::make_unique<SideThread>();
    if (!side_->Running()) side_.reset();
  }
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::Add(const FrameRun& run) { Add(run.bytes, run.frames); }

void LoudnessMeter::Add(const std::uint8_t* bytes, std::size_t frames) {
  while (frames > 0) {
    const std::size_t slice = std::min(frames, kSlice);
    Channels(bytes, slice);
    bytes += slice * plan_.frameBytes;
    frames -= slice;
  }
}

// Each channel on its own: the first half here, the rest on the side
// thread; then the frames' sums, channel after channel as one thread would.
void LoudnessMeter::Channels(const std::uint8_t* bytes, std::size_t frames) {
  const std::uint32_t channels = plan_.channels;
  const std::uint32_t here = side_ ? channels / 2 : channels;
  auto rest = [&] {
    for (std::uint32_t c = here; c < channels; ++c) Channel(c, bytes, frames);
  };
  if (side_) side_->Post(rest);
  for (std::uint32_t c = 0; c < here; ++c) Channel(c, bytes, frames);
  if (side_) side_->Await();
  // The weighted channels' squares: one or two are summed as the windows
  // take them in, more here first.
  const double* weighed[kMaxChannels];
  std::uint32_t count = 0;
  for (std::uint32_t c = 0; c < channels; ++c) {
    if (weights_.weight[c] != 0.0) weighed[count++] = channelSquares_.data() + c * kSlice;
  }
  double* sum = squares_.data();
  if (count == 0 || count > 2) {
    std::fill(sum, sum + frames, 0.0);
    for (std::uint32_t k = 0; k < count; ++k) {
      for (std::size_t i = 0; i < frames; ++i) sum[i] += weighed[k][i];
    }
    Walk(sum, nullptr, frames);
  } else {
    Walk(weighed[0], count == 2 ? weighed[1] : nullptr, frames);
  }
}

void LoudnessMeter::Channel(std::uint32_t c, const std::uint8_t* bytes, std::size_t frames) {
  Decode(c, bytes, frames);
  Weigh(c, frames);
  Peaks(c, frames);
}

// The channel's samples as fractions of full scale, after its kept history.
void LoudnessMeter::Decode(std::uint32_t c, const std::uint8_t* bytes, std::size_t frames) {
  float* to = samples_.data() + c * (kMaxPeakTaps + kSlice) + kMaxPeakTaps;
  const std::size_t stride = plan_.frameBytes;
  VisitFormat(plan_.decoder, [&](auto format) {
    using F = decltype(format);
    if constexpr (F::kFloat) {
      const std::uint8_t* at = bytes + c * F::Sample::kWidth;
      for (std::size_t i = 0; i < frames; ++i, at += stride) {
        to[i] = static_cast<float>(Finite(static_cast<double>(F::Sample::Read(at))));
      }
    } else {
      using Layout = typename F::Layout;
      constexpr float kScale = static_cast<float>(1.0 / (128.0 * Layout::kTopByteOne));
      const std::uint8_t* at = bytes + c * Layout::kWidth;
      for (std::size_t i = 0; i < frames; ++i, at += stride) {
        to[i] = static_cast<float>(Layout::Value(at)) * kScale;
      }
    }
  });
}

// The channel's weight x (K-weighted sample)^2, frame by frame. The shelf's
// feed-forward half needs no earlier output, so it runs first in vector
// lanes; the loop left keeps each filter's chain from one output to the
// next to one product and one difference (its own output subtracted last),
// and the high-pass's numerator, a gain times 1, -2, 1, to one product.
void LoudnessMeter::Weigh(std::uint32_t c, std::size_t frames) {
  const double weight = weights_.weight[c];
  if (weight == 0.0 || frames == 0) return;
  const float* x = samples_.data() + c * (kMaxPeakTaps + kSlice) + kMaxPeakTaps;
  double* out = channelSquares_.data() + c * kSlice;
  const Biquad s = filter_.shelf;
  const Biquad h = filter_.highPass;
  ChannelState& st = channel_[c];
  // The shelf's input terms first, in `out`, which each frame then
  // overwrites with its square.
  const double x0 = x[0];
  out[0] = s.b0 * x0 + s.b1 * st.in1 + s.b2 * st.in2;
  if (frames > 1) out[1] = s.b0 * static_cast<double>(x[1]) + s.b1 * x0 + s.b2 * st.in1;
  for (std::size_t i = 2; i < frames; ++i) {
    out[i] = s.b0 * static_cast<double>(x[i]) + s.b1 * static_cast<double>(x[i - 1]) +
             s.b2 * static_cast<double>(x[i - 2]);
  }
  FilterState state{st.shelf1, st.shelf2, st.pass1, st.pass2};
  const std::size_t start = SecondHalf(frames);
  if (start == 0) {
    Filter(s, h, weight, out, 0, frames, true, state);
  } else {
    // Two stretches at once, the second begun `settle_` frames early from
    // rest, by when its state is the first's to the last bit: each chain
    // waits on its own outputs only, so the two share the time.
    FilterState second{};
    const std::size_t split = start + settle_;
    const std::size_t both = std::min(split, frames - start);
    FilterTwo(s, h, weight, out, both, start, split, state, second);
    Filter(s, h, weight, out, both, split, true, state);
    Filter(s, h, weight, out, start + both, frames, true, second);
    state = second;
  }
  st.in2 = frames > 1 ? static_cast<double>(x[frames - 2]) : st.in1;
  st.in1 = x[frames - 1];
  st.shelf1 = state.y1;
  st.shelf2 = state.y2;
  st.pass1 = state.v1;
  st.pass2 = state.v2;
}

// Where the second of two stretches filtered at once starts, 0 for one
// stretch: the two take the same number of steps, and the second's
// warm-up lies within the first.
std::size_t LoudnessMeter::SecondHalf(std::size_t frames) const {
  if (!splitFilters_ || frames < 2 * settle_) return 0;
  return (frames - settle_) / 2;
}

void LoudnessMeter::Peaks(std::uint32_t c, std::size_t frames) {
  float* x = samples_.data() + c * (kMaxPeakTaps + kSlice) + kMaxPeakTaps;
  const std::size_t keep = oversampler_.taps - 1;
  ChannelState& st = channel_[c];
  std::memcpy(x - keep, st.history, keep * sizeof(float));
  std::uint32_t bits = 0;
  switch (oversampler_.taps) {
    case 12:
      bits =
          vector_ ? PeakAvx2<12>(oversampler_, x, frames) : PeakPlain<12>(oversampler_, x, frames);
      break;
    case kMaxPeakTaps:
      bits = vector_ ? PeakAvx2<kMaxPeakTaps>(oversampler_, x, frames)
                     : PeakPlain<kMaxPeakTaps>(oversampler_, x, frames);
      break;
    default:
      bits = vector_ ? PeakAvx2<1>(oversampler_, x, frames) : PeakPlain<1>(oversampler_, x, frames);
      break;
  }
  st.peak = std::max(st.peak, std::bit_cast<float>(bits));
  // The last taps - 1 samples, which may reach back into the history.
  std::memmove(st.history, x + frames - keep, keep * sizeof(float));
}

// The frames' sums into the windows, measured wherever a window is due.
void LoudnessMeter::Walk(const double* squares, const double* more, std::size_t frames) {
  while (frames > 0) {
    const std::size_t piece =
        static_cast<std::size_t>(std::min<std::uint64_t>(frames, NextEvent() - frames_));
    if (more != nullptr) {
      Keep<true>(squares, more, piece);
      more += piece;
    } else {
      Keep<false>(squares, squares, piece);
    }
    Measure();
    squares += piece;
    frames -= piece;
  }
}

std::uint64_t LoudnessMeter::NextEvent() const {
  std::uint64_t next = (frames_ / sub_ + 1) * sub_;
  next = std::min(next, NextOf(frames_, block_, step_));
  return std::min(next, NextOf(frames_, shortTerm_, step_));
}

template <bool kTwo>
void LoudnessMeter::Keep(const double* squares, const double* more, std::size_t frames) {
  const std::uint64_t mask = frameRingSize_ - 1;
  double* ring = frameRing_.get();
  double open = openSub_;
  for (std::size_t i = 0; i < frames; ++i) {
    // As one sum from 0 would: (0 + a) + b is a + b, squares being >= 0.
    const double square = kTwo ? squares[i] + more[i] : squares[i];
    ring[(frames_ + i) & mask] = square;
    open += square;
  }
  frames_ += frames;
  if (frames_ % sub_ == 0) {
    subRing_[static_cast<std::size_t>((frames_ / sub_ - 1) & (subRingSize_ - 1))] = open;
    open = 0.0;
  }
  openSub_ = open;
}

double LoudnessMeter::WindowSum(std::uint64_t length) const {
  const std::uint64_t end = frames_;
  const std::uint64_t start = end - length;
  const std::uint64_t frameMask = frameRingSize_ - 1;
  const std::uint64_t subMask = subRingSize_ - 1;
  const auto frames = [&](std::uint64_t from, std::uint64_t to) {
    return SumOf(frameRing_.get(), frameMask, from, to);
  };
  const std::uint64_t firstSub = (start + sub_ - 1) / sub_;
  const std::uint64_t endSub = end / sub_;
  if (firstSub >= endSub) return frames(start, end);
  const double head = frames(start, firstSub * sub_);
  const double middle = SumOf(subRing_.get(), subMask, firstSub, endSub);
  return head + middle + frames(endSub * sub_, end);
}

void LoudnessMeter::Measure() {
  const bool gating = Due(frames_, block_, step_);
  const bool onSub = frames_ % sub_ == 0;
  if ((onSub || gating) && frames_ >= block_) {
    const double momentary = WindowSum(block_) / static_cast<double>(block_);
    maxMomentary_ = std::max(maxMomentary_, momentary);
    const double loudness = LoudnessOf(momentary);
    if (gating && loudness > kAbsoluteGate) blocks_.Add(loudness, momentary);
  }
  const bool rangeValue = Due(frames_, shortTerm_, step_);
  if ((onSub || rangeValue) && frames_ >= shortTerm_) {
    const double shortTerm = WindowSum(shortTerm_) / static_cast<double>(shortTerm_);
    maxShortTerm_ = std::max(maxShortTerm_, shortTerm);
    const double loudness = LoudnessOf(shortTerm);
    if (rangeValue && loudness >= kAbsoluteGate) shortTermValues_.Add(loudness, shortTerm);
  }
}

double LoudnessMeter::Momentary() const {
  if (frames_ < block_) return -kInf;
  return LoudnessOf(WindowSum(block_) / static_cast<double>(block_));
}

double LoudnessMeter::ShortTerm() const {
  if (frames_ < shortTerm_) return -kInf;
  return LoudnessOf(WindowSum(shortTerm_) / static_cast<double>(shortTerm_));
}

LoudnessFigures LoudnessMeter::Figures() const {
  LoudnessFigures figures{};
  figures.integrated = IntegratedLoudness(blocks_);
  figures.range = RangeOf(shortTermValues_);
  figures.maxMomentary = maxMomentary_ < 0.0 ? -kInf : LoudnessOf(maxMomentary_);
  figures.maxShortTerm = maxShortTerm_ < 0.0 ? -kInf : LoudnessOf(maxShortTerm_);
  for (std::uint32_t c = 0; c < plan_.channels; ++c)
    figures.truePeak[c] = Decibels(channel_[c].peak);
  return figures;
}

}  // namespace ampdots
