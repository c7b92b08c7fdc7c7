// Silent stretches and runs of clipped samples, as the picture lists them
// after its lines and as JSON records.
#ifndef AMPDOTS_REPORT_EVENTS_H_
#define AMPDOTS_REPORT_EVENTS_H_

#include "events/clips.h"
#include "events/silence.h"
#include "io/output.h"
#include "scan/plan.h"

namespace ampdots {

/// "Silence 12.300000 to 14.850000 s (2.550000 s)", a line per stretch,
/// then how many more were found than listed, if any.
void PutSilenceLines(Output& out, const ScanPlan& plan, const SilenceFinder& silence);

/// "Clipped channel 1 at 12.300000 s: 3 samples", a line per listed run,
/// then how many more there are, if any.
void PutClipLines(Output& out, const ScanPlan& plan, const ClipFinder& clips);

/// {"type":"silence","start":12.3,"end":14.85} per stretch; a record of
/// the count of any more.
void PutJsonSilences(Output& out, const ScanPlan& plan, const SilenceFinder& silence);

/// {"type":"clip","channel":1,"time":12.3,"frame":590400,"samples":3} per
/// listed run; then {"type":"clip_runs","total":N}.
void PutJsonClips(Output& out, const ScanPlan& plan, const ClipFinder& clips);

}  // namespace ampdots

#endif  // AMPDOTS_REPORT_EVENTS_H_
