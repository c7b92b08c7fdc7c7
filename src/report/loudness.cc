#include "report/loudness.h"

#include <cmath>

namespace ampdots {
namespace {

// One decimal; "-inf" for loudness of silence, "-" for a figure that does
// not exist.
void PutFigure(Output& out, double value) {
  if (std::isnan(value)) {
    Put(out, "-");
  } else if (std::isinf(value)) {
    Put(out, value > 0 ? "inf" : "-inf");
  } else {
    // -0.04 rounds to 0.0, not "-0.0".
    PutF(out, "%.1f", std::fabs(value) < 0.05 ? 0.0 : value);
  }
}

}  // namespace

void PutLoudnessLines(Output& out, const ScanPlan& plan, const LoudnessFigures& figures) {
  Put(out, "Integrated loudness ");
  PutFigure(out, figures.integrated);
  Put(out, " LUFS\nLoudness range ");
  PutFigure(out, figures.range.range);
  Put(out, " LU (");
  PutFigure(out, figures.range.low);
  Put(out, " to ");
  PutFigure(out, figures.range.high);
  Put(out, " LUFS)\nMaximum momentary loudness ");
  PutFigure(out, figures.maxMomentary);
  Put(out, " LUFS\nMaximum short-term loudness ");
  PutFigure(out, figures.maxShortTerm);
  Put(out, " LUFS\nTrue peak");
  for (std::uint32_t c = 0; c < plan.channels; ++c) {
    PutChar(out, ' ');
    PutFigure(out, figures.truePeak[c]);
    if (plan.channels == 2) Put(out, c == 0 ? " L" : " R");
  }
  Put(out, " dBTP\n");
}

}  // namespace ampdots
