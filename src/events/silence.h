// Silent stretches: runs of frames in which every channel stays at or below
// a level, found exact to the frame in the scan's one pass. A run of frames
// whose figures show it all silent is taken whole; elsewhere samples are
// read only around the stretches, and inside loud audio only one frame in
// every shortest-stretch-length, since a stretch that long must hold one.
#ifndef AMPDOTS_EVENTS_SILENCE_H_
#define AMPDOTS_EVENTS_SILENCE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "scan/blocks.h"
#include "scan/plan.h"

namespace ampdots {

/// Frames [start, end) of the data.
struct Stretch {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  bool operator==(const Stretch&) const = default;
};

/// Stretches kept to be listed; any more are only counted, so that memory
/// stays bounded however many there are.
inline constexpr std::size_t kMaxStretches = 100000;

/// The frames a stretch of `seconds` at `sampleRate` needs: the seconds'
/// frames rounded up, where they are not a whole number within rounding
/// error of the product; never fewer than one.
std::uint64_t StretchFrames(double seconds, std::uint32_t sampleRate);

class SilenceFinder {
 public:
  /// Stretches of at least `minFrames` frames of |x| at or below `level`
  /// (a fraction of full scale) in every channel; not-a-number is no
  /// silence.
  SilenceFinder(const ScanPlan& plan, double level, std::uint64_t minFrames);

  /// The next frames of the scan, in order.
  void Add(const FrameRun& run);
  /// The scan's end: a stretch still open ends after the last frame added.
  void Finish();

  std::size_t Listed() const { return listed_; }
  const Stretch& At(std::size_t i) const { return stretches_[i]; }
  std::uint64_t Unlisted() const { return unlisted_; }

 private:
  /// Add with `silent(i)` saying whether frame i of the run is silent.
  template <typename Silent>
  void AddWith(const FrameRun& run, Silent silent);
  void Close(std::uint64_t end);

  const ScanPlan& plan_;
  double level_;
  std::uint64_t minFrames_;
  bool open_ = false;
  std::uint64_t start_ = 0;  ///< of the open stretch
  std::uint64_t next_ = 0;   ///< the frame after the last added
  std::unique_ptr<Stretch[]> stretches_;
  std::size_t listed_ = 0;
  std::uint64_t unlisted_ = 0;
};

}  // namespace ampdots

#endif  // AMPDOTS_EVENTS_SILENCE_H_
