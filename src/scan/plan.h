// A run's scan decided once, from the probe's attributes and the interval
// and line arguments: which decoder reads the samples, how wide a frame is,
// where each frame lies, how long a line is and how its time is written.
// Everything that reads or prints frames takes its decisions from here.
#ifndef AMPDOTS_SCAN_PLAN_H_
#define AMPDOTS_SCAN_PLAN_H_

#include <cstdint>

#include "scan/worker.h"
#include "wav/probe.h"

namespace ampdots {

/// The sample layouts that have a decoder; a plan for any other is refused
/// by the driver and not scanned.
enum class Decoder { kNone, kPcm8, kMuLaw, kALaw, kPcm16, kPcm24, kPcm32, kFloat32, kFloat64 };

/// The most channels a frame may have.
inline constexpr std::uint32_t kMaxChannels = 8;

/// The decoder for frames of 1 to kMaxChannels samples of `bytesPerSample`
/// bytes: one-byte samples by their format code (unsigned PCM, A-law,
/// mu-law), 2 and 3 bytes as PCM whatever the code, 4 bytes as integer PCM
/// for code 1 and as float for any other, 8 bytes as 64-bit float for the
/// float code only.
Decoder DecoderFor(std::uint32_t bytesPerSample, std::uint32_t channels, std::uint32_t formatCode);

/// How a line's time is written: two decimals for lines of 0.025 s or
/// more, three below, and the frame index too from 0.001 s down.
struct TimeColumn {
  int decimals = 2;
  bool withFrame = false;
};
TimeColumn TimeColumnFor(double secondsPerLine);

/// Bytes of frames taken at a time: 384 KiB, small enough to stay in the
/// processor's cache while they are scanned (two threads, one chunk each),
/// large enough that the two threads seldom wait on each other between
/// chunks; as many frames as fit (6144 of the widest, 64 bytes; 49152 of 8
/// bytes; 393216 of one byte).
inline constexpr std::uint32_t kChunkBytes = 384 * 1024;
/// A plan for tests may take chunks of this many frames whatever their
/// width, to cross chunk boundaries as often for narrow frames as for wide
/// ones, in short files.
inline constexpr std::uint32_t kChunkFrames = 24576;

struct ScanPlan {
  Decoder decoder = Decoder::kNone;
  std::uint32_t bytesPerSample = 0;
  std::uint32_t validBits = 0;  ///< of a sample's container bits, from the top
  std::uint32_t channels = 0;
  std::uint32_t frameBytes =
      0;  ///< channels x bytesPerSample, at most kMaxFrameBytes with a decoder
  std::uint64_t dataOffset = 0;
  std::uint32_t startFrame = 0;
  std::uint32_t endFrame = 0;    ///< exclusive
  std::uint32_t resolution = 0;  ///< frames per line; 0 prints no line
  std::uint32_t sampleRate = 0;
  float magnification = 1.0f;
  double secondsPerLine = 0.0;
  TimeColumn time;

  // How the scan divides its work: MakePlan decides it for this machine;
  // tests choose otherwise, to hold every way of scanning to the same
  // results.
  std::uint32_t chunkFrames = 0;  ///< frames a chunk; never more than fit in kChunkBytes
  WorkerUse worker = WorkerUse::kLongScans;
  bool vector = false;  ///< the vector loops, where the processor has them
  /// Whether records need each line's bar length: a picture of peaks or RMS
  /// does not, and lines longer than a chunk then skip the in-order sums
  /// of float magnitudes and long 32-bit lines (lengths are not-a-number).
  bool lineLengths = true;
};

/// The widest frame any decoder reads: eight channels of 8 bytes.
inline constexpr std::uint32_t kMaxFrameBytes = kMaxChannels * 8;

/// The plan for frames startFrame to endFrame - 1 of the probed file, in
/// lines of `resolution` frames (0: none) drawn `magnification` times.
ScanPlan MakePlan(const WavAttributes& wav, std::uint32_t startFrame, std::uint32_t endFrame,
                  std::uint32_t resolution, float magnification);

/// Where frame `frame` starts in the file.
inline std::uint64_t FrameOffset(const ScanPlan& plan, std::uint64_t frame) {
  return plan.dataOffset + std::uint64_t{plan.frameBytes} * frame;
}

/// The frame a whole line starting at `firstFrame` is stamped with: its
/// first frame + ceil(resolution / 2).
inline std::int64_t LineStamp(std::uint64_t firstFrame, std::uint32_t resolution) {
  return static_cast<std::int64_t>(firstFrame + resolution - resolution / 2);
}

/// The bar length of a whole line whose contributions add up to `lineSum`:
/// the mean over the line's frames of the mean over their channels, times
/// the magnification.
inline double LineLength(const ScanPlan& plan, double lineSum) {
  if (plan.channels > 1) lineSum /= plan.channels;  // for two, exactly x 0.5
  return static_cast<double>(plan.magnification) * (lineSum / plan.resolution);
}

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_PLAN_H_
