// The picture's summary table, for people: a column per channel.
#include <cmath>
#include <cstdio>

#include "report/records.h"

namespace ampdots {
namespace {

constexpr int kLabelWidth = 10;
constexpr int kColumnWidth = 10;

// Each cell is a space and a right-aligned figure, so that a figure as
// wide as the column (a peak time past 100 s, to 6 decimals) stays apart
// from the one before it.
constexpr int kCellWidth = kColumnWidth - 1;

// A figure in its cell: "-inf" for silence, "-" where there is none.
void PutCell(Output& out, double value, int decimals) {
  char text[32];
  if (std::isnan(value)) {
    std::snprintf(text, sizeof text, "-");
  } else if (std::isinf(value)) {
    std::snprintf(text, sizeof text, value > 0 ? "inf" : "-inf");
  } else if (std::fabs(value) < 1e15) {
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
  } else {
    std::snprintf(text, sizeof text, "%.3g", value);
  }
  PutChar(out, ' ');
  PutF(out, "%*s", kCellWidth, text);
}

}  // namespace

void PutStatsTable(Output& out, const ScanPlan& plan, const Stats& interval) {
  const ChannelFigures figures = FiguresOf(interval, plan);
  bool anyNan = false;
  for (std::uint32_t c = 0; c < plan.channels; ++c) anyNan = anyNan || figures.channel[c].nan > 0;
  PutF(out, "%-*s", kLabelWidth, "Channel");
  for (std::uint32_t c = 1; c <= plan.channels; ++c) {
    PutChar(out, ' ');
    PutF(out, "%*u", kCellWidth, c);
  }
  PutChar(out, '\n');
  const auto row = [&](const char* label, double Figures::*field, int decimals) {
    PutF(out, "%-*s", kLabelWidth, label);
    for (std::uint32_t c = 0; c < plan.channels; ++c)
      PutCell(out, figures.channel[c].*field, decimals);
    PutChar(out, '\n');
  };
  const auto countRow = [&](const char* label, std::uint64_t Figures::*field) {
    PutF(out, "%-*s", kLabelWidth, label);
    for (std::uint32_t c = 0; c < plan.channels; ++c) {
      PutChar(out, ' ');
      PutF(out, "%*llu", kCellWidth, static_cast<unsigned long long>(figures.channel[c].*field));
    }
    PutChar(out, '\n');
  };
  row("Peak dBFS", &Figures::peakDb, 2);
  row("Peak time", &Figures::peakTime, 6);
  row("RMS dBFS", &Figures::rmsDb, 2);
  row("Crest dB", &Figures::crestDb, 2);
  row("DC", &Figures::dc, 6);
  countRow("Clipped", &Figures::clipped);
  if (anyNan) countRow("NaN", &Figures::nan);
}

}  // namespace ampdots
