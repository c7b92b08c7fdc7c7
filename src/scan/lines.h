// The scan's arithmetic, on one thread: frames into line sums and peaks,
// whole lines of a chunk into bar lengths, and the lines that are printed
// as they complete. Buffers belong to the caller; nothing here keeps state
// of its own or starts a thread. Every plan here has a decoder.
#ifndef AMPDOTS_SCAN_LINES_H_
#define AMPDOTS_SCAN_LINES_H_

#include <cstddef>
#include <cstdint>

#include "io/output.h"
#include "scan/kernels.h"
#include "scan/line_printer.h"
#include "scan/plan.h"
#include "scan/scan.h"

namespace ampdots {

/// What one thread has summed: the peaks of its frames, and the sum of the
/// line being built.
struct Totals {
  PcmTotals pcm;          ///< PCM: line sum and peaks in units of the lowest bit
  double floatSum = 0.0;  ///< float: line sum
  FloatPeaks floatPeaks;
};

/// Room for a chunk's worth of work: a bar length per line and a magnitude
/// per float sample.
struct Workspace {
  double* lengths;
  double* magnitudes;
};

/// The line being built by the scan's own thread, and its printer.
struct LineState {
  std::uint64_t frame = 0;  ///< the next frame to add
  std::uint32_t count = 0;  ///< frames of the current line added so far
  Totals totals;
  LinePrinter printer;
};

/// Frames to read next, at most `chunkFrames` of the `remaining`: ending on
/// a line boundary when at least one whole line fits, so that whole lines
/// can be summed side by side. `count` frames of the current line are in.
std::size_t NextChunk(std::uint64_t remaining, std::uint32_t count, std::uint32_t resolution,
                      std::size_t chunkFrames);

/// The state at the plan's first frame.
LineState StartLines(const ScanPlan& plan);

/// Whether the fast arithmetic is exact for the plan's lines: a line's
/// integer sum must stay within the 53 bits a double holds. Otherwise the
/// plan is for the reference scan.
bool FastLinesAreExact(const ScanPlan& plan);

/// The bar lengths of `lines` whole lines starting at `bytes` into
/// `work.lengths`; their peaks into `totals`.
void ComputeLines(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t lines,
                  Totals& totals, const Workspace& work);

/// The bar length of a whole PCM line whose integer sum of contributions
/// is `sum`, as ComputeLines works it out.
double PcmLineLength(const ScanPlan& plan, std::int64_t sum);

/// Prints `lines` lines whose lengths ComputeLines gave, from `state.frame`.
void PrintComputedLines(LineState& state, const ScanPlan& plan, const double* lengths,
                        std::size_t lines, Output& out);

/// Adds `frames` frames of the line being built, never past its end (lines
/// longer than a chunk, and the unfinished line at the end of the interval,
/// are built this way). Returns true when the line is complete, with its
/// bar length in `length`.
bool AddLinePart(LineState& state, const ScanPlan& plan, const std::uint8_t* bytes,
                 std::size_t frames, double* magnitudes, double& length);

/// A part of a line worked out apart from its line (on either thread):
/// its integer sum, or its magnitudes (for lines too long for exact integer
/// sums, its contributions) in the caller's buffer, and peaks. The buffer
/// holds a chunk's samples of 4 bytes or more; lines of narrower samples
/// are never too long.
struct LinePartSums {
  PcmTotals pcm;
  FloatPeaks floatPeaks;
};
void SumLinePart(const ScanPlan& plan, const std::uint8_t* bytes, std::size_t frames,
                 double* magnitudes, LinePartSums& sums);

/// Adds a part SumLinePart worked out to the line being built, in order:
/// AddLinePart in two halves.
bool FinishLinePart(LineState& state, const ScanPlan& plan, std::size_t frames,
                    const double* magnitudes, const LinePartSums& sums, double& length);

/// Adds `frames` frames (at most a chunk) starting at `bytes`: whole lines
/// are worked out together and then printed, the rest frame by frame.
void AddFrames(LineState& state, const ScanPlan& plan, const std::uint8_t* bytes,
               std::size_t frames, const Workspace& work, Output& out);

/// The peaks of `from` kept in `into` too.
void MergePeaks(Totals& into, const Totals& from);

/// The peaks as levels.
Peaks FinalPeaks(const ScanPlan& plan, const Totals& totals);

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_LINES_H_
