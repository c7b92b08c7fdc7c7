// The picture drawn from a scan's records, for the runs that ask more of it
// than the plain bar of mean magnitudes: a block's peak or RMS, in dB above
// a floor, scaled to a width, a bar per channel, in eighth-cell blocks,
// clipped blocks marked. Stamps are the plain picture's.
#ifndef AMPDOTS_PICTURE_BARS_H_
#define AMPDOTS_PICTURE_BARS_H_

#include <cstddef>
#include <cstdint>

#include "io/output.h"
#include "scan/blocks.h"
#include "scan/line_printer.h"
#include "scan/plan.h"

namespace ampdots {

/// What a bar measures: the plain picture's mean magnitude, or the block's
/// peak or RMS (of the loudest channel, or of each with `split`), or the
/// momentary or short-term loudness at its end (of all channels together).
enum class BarLevel { kMean, kPeak, kRms, kMomentary, kShortTerm };

/// Whether a level is a loudness, which needs a meter beside the scan.
constexpr bool IsLoudness(BarLevel level) {
  return level == BarLevel::kMomentary || level == BarLevel::kShortTerm;
}

struct BarStyle {
  BarLevel level = BarLevel::kMean;
  bool db = false;       ///< a dot per dB above `floor`, times the magnification
  double floor = -60.0;  ///< dBFS, or LUFS for a loudness
  /// Columns a whole line may take, tabs stopping every 8: full scale fills
  /// what the stamp leaves. 0: a dot per unit, however long.
  std::uint32_t width = 0;
  bool split = false;    ///< a line per channel, its number after the stamp
  bool unicode = false;  ///< eighth blocks instead of dots
  bool clips = false;    ///< a block with a clipped sample ends in '!'
};

/// A block's level as the style measures it, in the plain picture's units
/// (128 x magnification is full scale): of channel `channel`, or of the
/// loudest with -1 (the mean is of them all).
double BarUnits(const BarStyle& style, const ScanPlan& plan, const BlockRecord& block, int channel);

/// The bar of `level` units in steps (dots, or eighths of a cell with
/// `unicode`), and whether it passes the width. `area`: the cells it may
/// take when the style has a width.
struct BarCells {
  std::size_t steps = 0;
  bool over = false;
};
BarCells CellsOf(const BarStyle& style, const ScanPlan& plan, double level, std::size_t area);

/// The columns text takes in a terminal whose tab stops are every 8.
std::size_t Columns(const char* text, std::size_t length);

class BarPicture final : public BlockSink {
 public:
  BarPicture(Output& out, const ScanPlan& plan, const BarStyle& style);
  void Block(const BlockRecord& block) override;
  bool Failed() const override { return out_.failed; }

 private:
  void Line(std::int64_t t, int channel, const BlockRecord& block);

  Output& out_;
  const ScanPlan& plan_;
  BarStyle style_;
  LinePrinter printer_;
};

}  // namespace ampdots

#endif  // AMPDOTS_PICTURE_BARS_H_
