// The scan exactly as the rules state it, one sample at a time through the
// per-sample decoders and printf: the yardstick the fast scan is tested
// against, and the path for lines too long for its exact integer sums.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "scan/blocks.h"
#include "scan/decode.h"
#include "scan/sample_formats.h"
#include "scan/scan.h"

namespace ampdots {
namespace {

constexpr std::uint32_t kReferenceChunkFrames = 4096;

Level DecodeSample(Decoder decoder, const std::uint8_t* bytes) {
  return VisitFormat(decoder, [&](auto format) { return decltype(format)::kDecode(bytes); });
}

void ReferenceWaveform(std::int64_t t, const ScanPlan& plan, double length, Output& out) {
  const float time = static_cast<float>(t) / static_cast<float>(plan.sampleRate);
  if (plan.time.withFrame) {
    PutF(out, "%.3f\t%lld\t", static_cast<double>(time), static_cast<long long>(t));
  } else {
    PutF(out, plan.time.decimals == 2 ? "%.2f\t" : "%.3f\t", static_cast<double>(time));
  }
  PutRepeated(out, '.', BarDots(length));
  PutChar(out, '\n');
}

// Every frame of the plan one sample at a time, calling `chunk(bytes,
// frames, first)` for each run of frames read, then `line(first, length)`
// for each whole line in it; figures into `stats` when asked for.
template <typename Chunk, typename Line>
Peaks ReferenceLines(Source& source, const ScanPlan& plan, Stats* stats, Chunk chunk, Line line) {
  if (plan.decoder == Decoder::kNone) return {};
  const std::uint32_t align = plan.frameBytes;
  std::uint8_t frames[kReferenceChunkFrames * kMaxFrameBytes];

  Peaks peaks;
  double lineSum = 0.0;
  std::uint32_t count = 0;
  std::uint64_t s = plan.startFrame;
  std::uint64_t remaining = plan.endFrame - plan.startFrame;
  while (remaining > 0) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kReferenceChunkFrames));
    // Whole frames only: a frame is never decoded from stale buffer bytes.
    const std::size_t got = ReadAt(source, FrameOffset(plan, s), frames, wanted * align) / align;
    chunk(frames, got, s);
    for (std::size_t h = 0; h < got; ++h, ++s) {
      const std::uint8_t* frame = frames + h * align;
      if (stats != nullptr) AddStatsReference(plan, frame, 1, s, *stats);
      for (std::uint32_t c = 0; c < plan.channels; ++c) {
        const Level sample = DecodeSample(plan.decoder, frame + c * plan.bytesPerSample);
        CheckPeak(peaks.channel[c], sample.level);
        lineSum += sample.contribution;
      }
      if (++count == plan.resolution) {
        line(s + 1 - count, LineLength(plan, lineSum));
        lineSum = 0.0;
        count = 0;
      }
    }
    if (got < wanted) break;
    remaining -= got;
  }
  return peaks;
}

}  // namespace

Peaks ScanIntervalReference(Source& source, const ScanPlan& plan, Output& out, Stats* stats) {
  return ReferenceLines(
      source, plan, stats, [](const std::uint8_t*, std::size_t, std::uint64_t) {},
      [&](std::uint64_t first, double length) {
        ReferenceWaveform(LineStamp(first, plan.resolution), plan, length, out);
      });
}

Stats ScanBlocksReference(Source& source, const ScanPlan& plan, BlockSink& sink, Peaks* peaks) {
  // The figures of each line are those of its frames: every frame's go to
  // the line being built, which is handed on and merged when it is whole.
  Stats interval;
  BlockRecord block;
  block.frames = plan.resolution;
  const auto chunk = [&](const std::uint8_t* bytes, std::size_t frames, std::uint64_t first) {
    Stats run;
    AddStatsReference(plan, bytes, frames, first, run);
    sink.Frames(FrameRun{bytes, frames, first, run});
  };
  const Peaks found =
      ReferenceLines(source, plan, &block.stats, chunk, [&](std::uint64_t first, double length) {
        block.frame = first;
        block.length = length;
        sink.Block(block);
        MergeStats(interval, block.stats);
        block.stats = Stats{};
      });
  MergeStats(interval, block.stats);
  if (peaks != nullptr) *peaks = found;
  return interval;
}

}  // namespace ampdots
