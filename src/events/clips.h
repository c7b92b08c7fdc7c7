// Runs of clipped samples: consecutive samples of one channel at its rails.
// Samples are read only in runs of frames whose figures count a clipped
// sample in the channel; a run of frames without one ends the channel's
// open run where it starts.
#ifndef AMPDOTS_EVENTS_CLIPS_H_
#define AMPDOTS_EVENTS_CLIPS_H_

#include <cstddef>
#include <cstdint>

#include "scan/blocks.h"
#include "scan/plan.h"

namespace ampdots {

struct ClipRun {
  std::uint64_t frame = 0;    ///< of the first clipped sample
  std::uint64_t samples = 0;  ///< consecutive clipped samples
  std::uint32_t channel = 0;  ///< counted from 0
};

/// Runs listed: the earliest by frame, then channel. The others are counted.
inline constexpr std::size_t kListedClipRuns = 20;

class ClipFinder {
 public:
  explicit ClipFinder(const ScanPlan& plan);

  /// The next frames of the scan, in order.
  void Add(const FrameRun& run);
  /// The scan's end: open runs end after the last frame added.
  void Finish();

  std::size_t Listed() const { return listed_; }
  const ClipRun& At(std::size_t i) const { return runs_[i]; }
  std::uint64_t Total() const { return total_; }

 private:
  void Close(std::uint32_t channel, std::uint64_t end);

  const ScanPlan& plan_;
  bool open_[kMaxChannels] = {};
  std::uint64_t start_[kMaxChannels] = {};
  std::uint64_t next_ = 0;
  ClipRun runs_[kListedClipRuns];
  std::size_t listed_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace ampdots

#endif  // AMPDOTS_EVENTS_CLIPS_H_
