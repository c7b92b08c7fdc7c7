// The interval scan: one pass over the requested frames, one printed line
// per block of `resolution` frames, and the peak level of each channel.
#ifndef AMPDOTS_SCAN_SCAN_H_
#define AMPDOTS_SCAN_SCAN_H_

#include <cstddef>
#include <cstdint>

#include "io/output.h"
#include "io/source.h"
#include "scan/plan.h"
#include "stats/stats.h"

namespace ampdots {

/// The longest bar: full scale 128 at the largest magnification, 256.
inline constexpr std::size_t kMaxDots = 32768;

/// The largest magnitude of each channel, in level units, in channel order
/// (mono, or left then right).
struct Peaks {
  double channel[kMaxChannels] = {};
};

/// Keeps the largest magnitude seen in `peak`.
inline void CheckPeak(double& peak, double x) {
  if (peak < x) {
    peak = x;
  } else if (peak < -x) {
    peak = -x;
  }
}

/// Dots in a bar of `length`: none below 1 or for not-a-number, and never
/// more than kMaxDots, so a float file holding huge values stays readable.
inline std::size_t BarDots(double length) {
  if (!(length >= 1.0)) return 0;
  if (length >= static_cast<double>(kMaxDots)) return kMaxDots;
  return static_cast<std::size_t>(length);
}

/// Prints one line: the time stamp of frame `t`, in the form that
/// `secondsPerLine` calls for, then the bar.
void Waveform(std::int64_t t, std::uint32_t sampleRate, double length, double secondsPerLine,
              Output& out);

/// Scans the plan's frames of `source`, printing a line per whole line of
/// frames. If the source ends early (the file shrank since it was probed)
/// or fails to read (then `source.error` says why), the scan stops at the
/// first frame that was not read whole. With `stats`, the figures of every
/// frame read are added to it in the same pass. A plan without a decoder
/// (the driver refuses one) is not scanned at all.
Peaks ScanInterval(Source& source, const ScanPlan& plan, Output& out, Stats* stats = nullptr);

/// The same scan one sample at a time through the per-sample decoders and
/// printf, in 4096-frame reads: slow, and the measure of the fast one.
Peaks ScanIntervalReference(Source& source, const ScanPlan& plan, Output& out,
                            Stats* stats = nullptr);

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_SCAN_H_
