#include "scan/lines.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "scan/sample_formats.h"

namespace ampdots {
namespace {

// Lines of at most this many frames are summed sample by sample.
constexpr std::uint32_t kFineResolution = 16;

// A level per lowest bit of a PCM format's integers.
double PcmUnit(Decoder decoder) {
  return VisitFormat(decoder, [](auto format) {
    using F = decltype(format);
    if constexpr (F::kFloat) {
      return 0.0;
    } else {
      return F::kUnit;
    }
  });
}

void Accumulate(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t samples, bool stereo,
                PcmTotals& totals) {
  VisitFormat(plan.decoder, [&](auto format) {
    using F = decltype(format);
    if constexpr (!F::kFloat) F::kAccumulate(bytes, samples, stereo, totals, plan.vector);
  });
}

// Frames into the line sum and each channel's peak.
void AddPcmFrames(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                  PcmTotals& pcm) {
  const std::size_t samples = frames * plan.channels;
  if (plan.channels <= 2) return Accumulate(plan, bytes, samples, plan.channels == 2, pcm);
  AccumulateChannels(plan.decoder, bytes, frames, plan.channels, pcm, plan.vector);
}

// Float frames into their magnitudes and each channel's peak. Three
// channels and more are taken as if mono, since a magnitude does not depend
// on its channel, and their peaks channel by channel.
void AddFloatFrames(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                    double* magnitudes, FloatPeaks& peaks) {
  const FloatMagnitudesLoop magnitudesOf = VisitFormat(plan.decoder, [](auto format) {
    using F = decltype(format);
    if constexpr (F::kFloat) {
      return F::kMagnitudes;
    } else {
      return FloatMagnitudesLoop{nullptr};
    }
  });
  const std::size_t samples = frames * plan.channels;
  if (plan.channels <= 2) {
    return magnitudesOf(bytes, samples, plan.channels == 2, magnitudes, peaks, plan.vector);
  }
  FloatPeaks mono;
  magnitudesOf(bytes, samples, false, magnitudes, mono, plan.vector);
  FloatChannelPeaks(plan.decoder, bytes, frames, plan.channels, peaks);
}

void PcmLines(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t lines, PcmTotals& pcm,
              double* lengths) {
  const std::size_t lineBytes = std::size_t{plan.resolution} * plan.frameBytes;
  const double unit = PcmUnit(plan.decoder);
  if (plan.channels <= 2) {
    // A group of lines a call: the loops then start and fold their peaks
    // once a group rather than once a line.
    constexpr std::size_t kGroup = 256;
    std::int64_t sums[kGroup];
    const std::size_t perLine = std::size_t{plan.resolution} * plan.channels;
    for (std::size_t j = 0; j < lines; j += kGroup) {
      const std::size_t n = std::min(kGroup, lines - j);
      PcmLineSums(plan.decoder, bytes + j * lineBytes, n, perLine, plan.channels == 2, sums, pcm,
                  plan.vector);
      for (std::size_t k = 0; k < n; ++k) {
        lengths[j + k] = LineLength(plan, static_cast<double>(sums[k]) * unit);
      }
    }
    return;
  }
  for (std::size_t j = 0; j < lines; ++j) {
    AddPcmFrames(plan, bytes + j * lineBytes, plan.resolution, pcm);
    lengths[j] = LineLength(plan, static_cast<double>(pcm.sum) * unit);
    pcm.sum = 0;
  }
}

// Lines of a few frames each: the vector loops would cost more to start
// than they save, so each sample is taken on its own, in integers.
template <typename Layout>
void FinePcmLines(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t lines,
                  PcmTotals& pcm, double* lengths) {
  constexpr std::size_t kWidth = Layout::kWidth;
  constexpr std::int32_t kTopByteOne = Layout::kTopByteOne;
  constexpr double kUnit = 1.0 / kTopByteOne;  // a power of two: exact as a factor
  if (plan.resolution == 1 && plan.channels == 1) {
    // A line per mono sample, in a loop the compiler vectorizes.
    std::uint32_t peak = pcm.max[0];
    for (std::size_t j = 0; j < lines; ++j) {
      const std::int32_t v = Layout::Value(bytes + j * kWidth);
      lengths[j] = LineLength(plan, static_cast<double>(PcmContribution<kTopByteOne>(v)) * kUnit);
      peak = std::max(peak, PcmMagnitude(v));
    }
    pcm.max[0] = peak;
    return;
  }
  for (std::size_t j = 0; j < lines; ++j) {
    for (std::size_t f = 0; f < plan.resolution; ++f) {
      for (std::uint32_t c = 0; c < plan.channels; ++c, bytes += kWidth) {
        AddPcmSample<kTopByteOne>(Layout::Value(bytes), c, pcm);
      }
    }
    lengths[j] = LineLength(plan, static_cast<double>(pcm.sum) * kUnit);
    pcm.sum = 0;
  }
}

// Sums kLines whole lines of `perLine` magnitudes each, side by side: each
// line is still summed in its own order, which fixes its rounding, but the
// additions of different lines overlap in the processor.
template <std::size_t kLines>
void SumLines(const double* magnitudes, std::size_t perLine, double* sums) {
  double s[kLines] = {};
  for (std::size_t i = 0; i < perLine; ++i) {
    for (std::size_t j = 0; j < kLines; ++j) s[j] += magnitudes[j * perLine + i];
  }
  for (std::size_t j = 0; j < kLines; ++j) sums[j] = s[j];
}

void FloatLines(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t lines, Totals& totals,
                const Workspace& work) {
  const std::size_t perLine = std::size_t{plan.resolution} * plan.channels;
  // Mono and stereo lines are summed straight from their samples.
  if (plan.channels <= 2) {
    const auto sum = plan.decoder == Decoder::kFloat32 ? FloatLineSums : Float64LineSums;
    sum(bytes, lines, perLine, plan.channels == 2, work.lengths, totals.floatPeaks, plan.vector);
    for (std::size_t j = 0; j < lines; ++j) work.lengths[j] = LineLength(plan, work.lengths[j]);
    return;
  }
  AddFloatFrames(plan, bytes, lines * plan.resolution, work.magnitudes, totals.floatPeaks);
  double sums[8];
  for (std::size_t j = 0; j < lines;) {
    const std::size_t left = lines - j;
    const std::size_t n = left >= 8 ? 8 : left >= 4 ? 4 : left >= 2 ? 2 : 1;
    const double* m = work.magnitudes + j * perLine;
    if (n == 8) SumLines<8>(m, perLine, sums);
    if (n == 4) SumLines<4>(m, perLine, sums);
    if (n == 2) SumLines<2>(m, perLine, sums);
    if (n == 1) SumLines<1>(m, perLine, sums);
    for (std::size_t k = 0; k < n; ++k) work.lengths[j + k] = LineLength(plan, sums[k]);
    j += n;
  }
}

}  // namespace

std::size_t NextChunk(std::uint64_t remaining, std::uint32_t count, std::uint32_t resolution,
                      std::size_t chunkFrames) {
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, chunkFrames));
  if (resolution == 0 || resolution > chunkFrames) return want;
  const std::size_t toLineEnd = resolution - count;
  if (want > toLineEnd) want = toLineEnd + (want - toLineEnd) / resolution * resolution;
  return want;
}

LineState StartLines(const ScanPlan& plan) {
  LineState state;
  state.frame = plan.startFrame;
  state.printer = MakeLinePrinter(plan.sampleRate, plan.time);
  return state;
}

// A line's sum, added up one double at a time as the rules have it, is
// exact (and so equal to the integer sum) while every partial sum stays
// below 2^53 lowest bits: lines of fewer than 2^30 24-bit samples (2^23
// each) or 2^22 32-bit ones (2^31 each). 16-bit and one-byte samples never
// come near.
bool FastLinesAreExact(const ScanPlan& plan) {
  const std::uint64_t samplesPerLine = std::uint64_t{plan.resolution} * plan.channels;
  return VisitFormat(plan.decoder, [&](auto format) {
    using F = decltype(format);
    if constexpr (F::kFloat) {
      return true;  // float lines are summed in their own order anyway
    } else {
      return samplesPerLine < F::kExactLineSamples;
    }
  });
}

void ComputeLines(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t lines,
                  Totals& totals, const Workspace& work) {
  if (IsFloat(plan.decoder)) return FloatLines(plan, bytes, lines, totals, work);
  PcmTotals& pcm = totals.pcm;
  if (plan.resolution > kFineResolution) return PcmLines(plan, bytes, lines, pcm, work.lengths);
  VisitFormat(plan.decoder, [&](auto format) {
    using F = decltype(format);
    if constexpr (!F::kFloat)
      FinePcmLines<typename F::Layout>(plan, bytes, lines, pcm, work.lengths);
  });
}

double PcmLineLength(const ScanPlan& plan, std::int64_t sum) {
  return LineLength(plan, static_cast<double>(sum) * PcmUnit(plan.decoder));
}

void PrintComputedLines(LineState& state, const ScanPlan& plan, const double* lengths,
                        std::size_t lines, Output& out) {
  PrintLines(state.printer, LineStamp(state.frame, plan.resolution), plan.resolution, lengths,
             lines, out);
  state.frame += lines * plan.resolution;
}

// Lines whose integer sums would pass 2^53 lowest bits are added one
// contribution at a time, in order, as floats are: SumLinePart leaves each
// sample's contribution where float magnitudes go.
bool AddedInOrder(const ScanPlan& plan) {
  return IsFloat(plan.decoder) || !FastLinesAreExact(plan);
}

void SumLinePart(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                 double* magnitudes, LinePartSums& sums) {
  if (IsFloat(plan.decoder)) {
    AddFloatFrames(plan, bytes, frames, magnitudes, sums.floatPeaks);
    return;
  }
  AddPcmFrames(plan, bytes, frames, sums.pcm);
  if (!AddedInOrder(plan) || !plan.lineLengths) return;
  VisitFormat(plan.decoder, [&](auto format) {
    using F = decltype(format);
    if constexpr (!F::kFloat) {
      const std::size_t samples = frames * plan.channels;
      for (std::size_t i = 0; i < samples; ++i) {
        magnitudes[i] = F::kDecode(bytes + i * plan.bytesPerSample).contribution;
      }
    }
  });
}

bool FinishLinePart(LineState& state, const ScanPlan& plan, std::size_t frames,
                    const double* magnitudes, const LinePartSums& sums, double& length) {
  Totals& totals = state.totals;
  Totals part;
  part.pcm = sums.pcm;
  part.floatPeaks = sums.floatPeaks;
  MergePeaks(totals, part);
  double lineSum = 0.0;
  if (!plan.lineLengths) {
    lineSum = std::numeric_limits<double>::quiet_NaN();
  } else if (AddedInOrder(plan)) {
    // One double at a time, in the frames' order, as the reference adds them.
    const std::size_t samples = frames * plan.channels;
    for (std::size_t i = 0; i < samples; ++i) totals.floatSum += magnitudes[i];
    lineSum = totals.floatSum;
  } else {
    totals.pcm.sum += sums.pcm.sum;  // integers: the same in any order
    lineSum = static_cast<double>(totals.pcm.sum) * PcmUnit(plan.decoder);
  }
  state.frame += frames;
  state.count += static_cast<std::uint32_t>(frames);
  if (state.count != plan.resolution) return false;
  length = LineLength(plan, lineSum);
  state.count = 0;
  totals.floatSum = 0.0;
  totals.pcm.sum = 0;
  return true;
}

bool AddLinePart(LineState& state, const ScanPlan& plan, const std::uint8_t* bytes,
                 std::size_t frames, double* magnitudes, double& length) {
  LinePartSums sums;
  SumLinePart(plan, bytes, frames, magnitudes, sums);
  return FinishLinePart(state, plan, frames, magnitudes, sums, length);
}

void AddFrames(LineState& state, const ScanPlan& plan, const std::uint8_t* bytes,
               std::size_t frames, const Workspace& work, Output& out) {
  const std::uint32_t resolution = plan.resolution;
  if (resolution != 0 && state.count == 0 && frames >= resolution) {
    const std::size_t lines = frames / resolution;
    ComputeLines(plan, bytes, lines, state.totals, work);
    PrintComputedLines(state, plan, work.lengths, lines, out);
    bytes += lines * resolution * plan.frameBytes;
    frames -= lines * resolution;
  }
  while (frames > 0) {
    const std::size_t part =
        resolution == 0 ? frames : std::min<std::size_t>(frames, resolution - state.count);
    double length;
    if (AddLinePart(state, plan, bytes, part, work.magnitudes, length)) {
      const std::uint64_t first = state.frame - resolution;
      PrintLine(state.printer, LineStamp(first, resolution), length, out);
    }
    bytes += part * plan.frameBytes;
    frames -= part;
  }
}

void MergePeaks(Totals& into, const Totals& from) {
  for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
    into.pcm.max[c] = std::max(into.pcm.max[c], from.pcm.max[c]);
    into.floatPeaks.max[c] = std::max(into.floatPeaks.max[c], from.floatPeaks.max[c]);
  }
}

Peaks FinalPeaks(const ScanPlan& plan, const Totals& totals) {
  Peaks peaks;
  for (std::uint32_t c = 0; c < plan.channels && c < kMaxChannels; ++c) {
    const std::int64_t bits = totals.floatPeaks.max[c];
    peaks.channel[c] = VisitFormat(plan.decoder, [&](auto format) {
      using F = decltype(format);
      if constexpr (F::kFloat) {
        return bits < 0 ? 0.0 : F::kPeakLevel(bits);  // -1: no sample seen
      } else {
        return totals.pcm.max[c] * F::kUnit;
      }
    });
  }
  return peaks;
}

}  // namespace ampdots
