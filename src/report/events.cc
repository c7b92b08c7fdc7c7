#include "report/events.h"

namespace ampdots {
namespace {

double Seconds(const ScanPlan& plan, std::uint64_t frame) {
  return static_cast<double>(frame) / plan.sampleRate;
}

unsigned long long Count(std::uint64_t n) { return static_cast<unsigned long long>(n); }

}  // namespace

void PutSilenceLines(Output& out, const ScanPlan& plan, const SilenceFinder& silence) {
  for (std::size_t i = 0; i < silence.Listed(); ++i) {
    const Stretch& s = silence.At(i);
    PutF(out, "Silence %.6f to %.6f s (%.6f s)\n", Seconds(plan, s.start), Seconds(plan, s.end),
         Seconds(plan, s.end - s.start));
  }
  if (silence.Unlisted() > 0) {
    PutF(out, "Silence: %llu more stretches not listed\n", Count(silence.Unlisted()));
  }
}

void PutClipLines(Output& out, const ScanPlan& plan, const ClipFinder& clips) {
  for (std::size_t i = 0; i < clips.Listed(); ++i) {
    const ClipRun& run = clips.At(i);
    PutF(out, "Clipped channel %u at %.6f s: %llu sample%s\n", run.channel + 1,
         Seconds(plan, run.frame), Count(run.samples), run.samples == 1 ? "" : "s");
  }
  if (clips.Total() > clips.Listed()) {
    PutF(out, "Clipped: %llu more runs not listed\n", Count(clips.Total() - clips.Listed()));
  }
}

void PutJsonSilences(Output& out, const ScanPlan& plan, const SilenceFinder& silence) {
  for (std::size_t i = 0; i < silence.Listed(); ++i) {
    const Stretch& s = silence.At(i);
    PutF(out, "{\"type\":\"silence\",\"start\":%.6f,\"end\":%.6f}\n", Seconds(plan, s.start),
         Seconds(plan, s.end));
  }
  if (silence.Unlisted() > 0) {
    PutF(out, "{\"type\":\"silence_unlisted\",\"count\":%llu}\n", Count(silence.Unlisted()));
  }
}

void PutJsonClips(Output& out, const ScanPlan& plan, const ClipFinder& clips) {
  for (std::size_t i = 0; i < clips.Listed(); ++i) {
    const ClipRun& run = clips.At(i);
    PutF(out, "{\"type\":\"clip\",\"channel\":%u,\"time\":%.6f,\"frame\":%llu,\"samples\":%llu}\n",
         run.channel + 1, Seconds(plan, run.frame), Count(run.frame), Count(run.samples));
  }
  PutF(out, "{\"type\":\"clip_runs\",\"total\":%llu}\n", Count(clips.Total()));
}

}  // namespace ampdots
