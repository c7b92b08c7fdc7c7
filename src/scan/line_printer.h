// Prints the scan's lines: time stamp, frame index for the finest
// resolutions, bar. Consecutive lines mostly share their time stamp and all
// but the last digit of their frame index, so that much is kept from line
// to line and only the last digit is written anew.
#ifndef AMPDOTS_SCAN_LINE_PRINTER_H_
#define AMPDOTS_SCAN_LINE_PRINTER_H_

#include <cstddef>
#include <cstdint>

#include "io/output.h"
#include "scan/format.h"
#include "scan/plan.h"

namespace ampdots {

struct LinePrinter {
  std::uint32_t sampleRate = 1;
  int decimals = 2;        ///< of the time stamp
  bool withFrame = false;  ///< the finest resolutions also print the frame index

  // What `stamp` holds: the time for every time whose bits lie in
  // [timeLow, timeHigh), and the frame indices frameBase to frameBase + 9.
  std::uint32_t timeLow = 0;
  std::uint32_t timeHigh = 0;
  std::int64_t frameBase = -1;
  // The frames frameLow to frameLow + frameSpan - 1, whose times all lie in
  // [timeLow, timeHigh): known where a stamp outlasts a line, so that the
  // lines up to its end need not work out their time at all.
  std::int64_t frameLow = 0;
  std::uint64_t frameSpan = 0;
  // The time's value in units of its last decimal, when `stamp` holds one.
  std::uint64_t timeScaled = 0;
  std::uint64_t timeWhole = 0;  ///< timeScaled less its decimals
  bool timeScaledKept = false;
  // The time, a tab and the frame index less its last digit.
  std::size_t timeLength = 0;   ///< of the time and its tab
  std::size_t frameDigits = 0;  ///< of the frame index less its last digit
  std::size_t stampLength = 0;
  char stamp[2 * kMaxNumberText + 2] = {};
};

/// Room a line's stamp may need.
inline constexpr std::size_t kMaxStampText = sizeof LinePrinter::stamp + kMaxNumberText + 2;

/// The stamp of the line of frame `t` (its time and a tab, and for the
/// finest resolutions the frame index and a tab) into `out`, which has room
/// for kMaxStampText bytes. Returns its length.
std::size_t FormatStamp(LinePrinter& printer, std::int64_t t, char* out);

/// A printer for lines with times of `sampleRate` in the form `column` says.
LinePrinter MakeLinePrinter(std::uint32_t sampleRate, TimeColumn column);

/// Prints `count` lines, for frames t, t + step, t + 2 step, ..., with bars
/// of BarDots(lengths[i]) dots.
void PrintLines(LinePrinter& printer, std::int64_t t, std::int64_t step, const double* lengths,
                std::size_t count, Output& out);

/// The same lines into a block, as far as they fit (the block says if not).
void PrintLines(LinePrinter& printer, std::int64_t t, std::int64_t step, const double* lengths,
                std::size_t count, TextBlock& block);

/// Prints the line of frame `t` with a bar of BarDots(length) dots.
inline void PrintLine(LinePrinter& printer, std::int64_t t, double length, Output& out) {
  PrintLines(printer, t, 0, &length, 1, out);
}

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_LINE_PRINTER_H_
