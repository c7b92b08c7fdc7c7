#include "events/silence.h"

#include <cmath>

#include "scan/sample_formats.h"
#include "stats/stats.h"

namespace ampdots {

std::uint64_t StretchFrames(double seconds, std::uint32_t sampleRate) {
  const double frames = seconds * sampleRate;
  if (!(frames > 1.0)) return 1;
  if (frames >= 1e18) return std::uint64_t{1000000000000000000};
  // 0.1 s at 44100 Hz is 4410.000000000001 in doubles, and means 4410.
  const double nearest = std::nearbyint(frames);
  if (std::fabs(frames - nearest) <= 1e-9 * frames) return static_cast<std::uint64_t>(nearest);
  return static_cast<std::uint64_t>(std::ceil(frames));
}

SilenceFinder::SilenceFinder(const ScanPlan& plan, double level, std::uint64_t minFrames)
    : plan_(plan),
      level_(level),
      minFrames_(minFrames < 1 ? 1 : minFrames),
      next_(plan.startFrame),
      stretches_(new Stretch[kMaxStretches]) {}

namespace {

// |x| of a sample of format F, as the figures read it.
template <typename F>
double Magnitude(const std::uint8_t* sample) {
  if constexpr (F::kFloat) {
    return std::fabs(static_cast<double>(F::Sample::Read(sample)));
  } else {
    return std::fabs(F::kDecode(sample).level / 128);
  }
}

}  // namespace

template <typename Silent>
void SilenceFinder::AddWith(const FrameRun& run, Silent silent) {
  const std::size_t n = run.frames;
  if (n == 0) return;
  const std::uint64_t first = run.firstFrame;
  next_ = first + n;
  bool allSilent = true;
  for (std::uint32_t c = 0; c < plan_.channels; ++c) {
    const ChannelStats& channel = run.stats.channel[c];
    allSilent = allSilent && channel.nan == 0 && channel.peak <= level_;
  }
  if (allSilent) {
    if (!open_) start_ = first;
    open_ = true;
    return;
  }
  // The figures say some frame is loud: the first and the last bound what
  // goes on from before and what goes on after.
  std::size_t firstLoud = 0;
  while (firstLoud < n && silent(firstLoud)) ++firstLoud;
  if (firstLoud == n) {  // figures and samples disagree only on a fault; samples decide
    if (!open_) start_ = first;
    open_ = true;
    return;
  }
  std::size_t lastLoud = n - 1;
  while (silent(lastLoud)) --lastLoud;
  if (firstLoud > 0 && !open_) {
    start_ = first;
    open_ = true;
  }
  if (open_) Close(first + firstLoud);
  // Between them, a stretch of minFrames holds a frame at firstLoud + k x
  // minFrames: only those are looked at, and around the silent ones.
  std::uint64_t probe = firstLoud + minFrames_;
  while (probe < lastLoud) {
    const auto p = static_cast<std::size_t>(probe);  // below n
    if (!silent(p)) {
      probe += minFrames_;
      continue;
    }
    std::size_t from = p;
    while (silent(from - 1)) --from;  // firstLoud is loud
    std::size_t to = p + 1;
    while (silent(to)) ++to;  // lastLoud is loud
    start_ = first + from;
    Close(first + to);
    probe = to + minFrames_;
  }
  if (lastLoud + 1 < n) {
    start_ = first + lastLoud + 1;
    open_ = true;
  }
}

void SilenceFinder::Add(const FrameRun& run) {
  VisitFormat(plan_.decoder, [&](auto format) {
    using F = decltype(format);
    const std::uint32_t channels = plan_.channels;
    const std::size_t width = plan_.bytesPerSample;
    // Not-a-number compares false: no silence.
    const auto silent = [&](std::size_t i) {
      const std::uint8_t* frame = run.bytes + i * plan_.frameBytes;
      for (std::uint32_t c = 0; c < channels; ++c) {
        if (!(Magnitude<F>(frame + c * width) <= level_)) return false;
      }
      return true;
    };
    AddWith(run, silent);
  });
}

void SilenceFinder::Close(std::uint64_t end) {
  open_ = false;
  if (end - start_ < minFrames_) return;
  if (listed_ < kMaxStretches) {
    stretches_[listed_++] = Stretch{start_, end};
  } else {
    ++unlisted_;
  }
}

void SilenceFinder::Finish() {
  if (open_) Close(next_);
}

}  // namespace ampdots
