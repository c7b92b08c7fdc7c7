#include "events/clips.h"

#include "stats/stats.h"

namespace ampdots {

ClipFinder::ClipFinder(const ScanPlan& plan) : plan_(plan), next_(plan.startFrame) {}

void ClipFinder::Close(std::uint32_t channel, std::uint64_t end) {
  open_[channel] = false;
  ++total_;
  const ClipRun run{start_[channel], end - start_[channel], channel};
  const auto before = [](const ClipRun& a, const ClipRun& b) {
    return a.frame < b.frame || (a.frame == b.frame && a.channel < b.channel);
  };
  // Runs end out of the order they start in (a long one ends after shorter
  // ones that start later), so each finds its place among the earliest.
  std::size_t at = listed_;
  if (listed_ == kListedClipRuns) {
    if (!before(run, runs_[listed_ - 1])) return;
    --at;
  } else {
    ++listed_;
  }
  while (at > 0 && before(run, runs_[at - 1])) {
    runs_[at] = runs_[at - 1];
    --at;
  }
  runs_[at] = run;
}

void ClipFinder::Add(const FrameRun& run) {
  const std::uint64_t first = run.firstFrame;
  next_ = first + run.frames;
  for (std::uint32_t c = 0; c < plan_.channels; ++c) {
    if (run.stats.channel[c].clipped == 0) {
      if (open_[c]) Close(c, first);
      continue;
    }
    const std::uint8_t* sample = run.bytes + c * plan_.bytesPerSample;
    for (std::size_t i = 0; i < run.frames; ++i, sample += plan_.frameBytes) {
      const bool clips = ReadReference(plan_, sample).clips;
      if (clips && !open_[c]) {
        open_[c] = true;
        start_[c] = first + i;
      } else if (!clips && open_[c]) {
        Close(c, first + i);
      }
    }
  }
}

void ClipFinder::Finish() {
  for (std::uint32_t c = 0; c < plan_.channels; ++c) {
    if (open_[c]) Close(c, next_);
  }
}

}  // namespace ampdots
