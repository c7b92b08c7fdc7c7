// The scan as records: one per whole line the picture would draw, with the
// bar it would draw and the figures of each channel, and the figures of the
// whole interval. Renderers of JSON, CSV and tables print these.
#ifndef AMPDOTS_SCAN_BLOCKS_H_
#define AMPDOTS_SCAN_BLOCKS_H_

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "io/output.h"
#include "io/source.h"
#include "scan/plan.h"
#include "scan/scan.h"
#include "stats/stats.h"

namespace ampdots {

/// One whole line of `frames` frames from `frame` (counted from the start
/// of the data): the bar length the picture draws for it, and its figures.
struct BlockRecord {
  std::uint64_t frame = 0;
  std::uint32_t frames = 0;
  double length = 0.0;
  Stats stats;
  /// LUFS of the 400 ms and 3 s windows that end at the block's last frame,
  /// where a loudness meter runs beside the scan (it fills them in on the
  /// way to the renderers); -inf until a window is full.
  double momentary = -HUGE_VAL;
  double shortTerm = -HUGE_VAL;
};

/// Frames as read, `frames` of them from `firstFrame` at `bytes`, with
/// their figures (peak frames not looked for).
struct FrameRun {
  const std::uint8_t* bytes;
  std::size_t frames;
  std::uint64_t firstFrame;
  const Stats& stats;
};

/// Takes the records of a scan in frame order.
class BlockSink {
 public:
  virtual void Block(const BlockRecord& block) = 0;
  /// Every frame of the scan once, in order; the frames of a line come
  /// before its record. For what needs samples rather than figures.
  virtual void Frames(const FrameRun&) {}
  /// True once the records can go nowhere (their output failed): the scan
  /// then stops.
  virtual bool Failed() const { return false; }
  /// Where a record's text depends on it and the plan alone, and no frames
  /// are wanted, the output Block writes to; else nullptr. The scan's
  /// worker may then write its records with Write into text of its own,
  /// which the scan puts there in their turn.
  virtual Output* Standalone() { return nullptr; }
  /// Writes `block` as Block would, into `text`; on either thread.
  virtual void Write(const BlockRecord& /*block*/, Output& /*text*/) const {}

 protected:
  ~BlockSink() = default;
};

/// Scans the plan's frames of `source` as ScanInterval does, handing each
/// whole line to `sink`; returns the figures of every frame read, the
/// unfinished last line's included, and the picture's peaks in `peaks`
/// where given. Stops early as ScanInterval does.
Stats ScanBlocks(Source& source, const ScanPlan& plan, BlockSink& sink, Peaks* peaks = nullptr);

/// The same one sample at a time: the yardstick of ScanBlocks.
Stats ScanBlocksReference(Source& source, const ScanPlan& plan, BlockSink& sink,
                          Peaks* peaks = nullptr);

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_BLOCKS_H_
