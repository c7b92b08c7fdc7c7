// The loudness figures as the picture prints them, after its summary.
#ifndef AMPDOTS_REPORT_LOUDNESS_H_
#define AMPDOTS_REPORT_LOUDNESS_H_

#include "io/output.h"
#include "loudness/meter.h"
#include "scan/plan.h"

namespace ampdots {

/// "Integrated loudness -23.0 LUFS", the loudness range with its ends, the
/// maximum momentary and short-term loudness and each channel's true peak,
/// a line each, one decimal. Loudness of nothing is "-inf"; a range of no
/// values is "-".
void PutLoudnessLines(Output& out, const ScanPlan& plan, const LoudnessFigures& figures);

}  // namespace ampdots

#endif  // AMPDOTS_REPORT_LOUDNESS_H_
