#include "picture/bars.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "scan/scan.h"
#include "stats/stats.h"

namespace ampdots {
namespace {

constexpr std::size_t kTabStop = 8;
constexpr std::size_t kEighths = 8;
// U+2588 FULL BLOCK, then U+2589 (seven eighths) down to U+258F (one
// eighth): the last byte of the UTF-8 of k eighths is 0x90 - k.
constexpr char kBlockLead[] = "\xE2\x96";
constexpr unsigned char kNoEighths = 0x90;

// A log that lands a hair off a whole number of dB (20 log10(0.1) is not
// quite -20) must not lose a dot for it.
constexpr double kDbSlack = 1e-9;

double ChannelValue(BarLevel level, const Stats& stats, std::uint32_t c) {
  const ChannelStats& channel = stats.channel[c];
  if (level == BarLevel::kPeak) return std::max(channel.peak, 0.0);
  if (stats.frames == 0) return 0.0;
  return std::sqrt(channel.squares / static_cast<double>(stats.frames));
}

}  // namespace

double BarUnits(const BarStyle& style, const ScanPlan& plan, const BlockRecord& block,
                int channel) {
  // The plain picture's own length, untouched, so that its bars come out
  // to the dot.
  if (style.level == BarLevel::kMean) return block.length;
  const double full = 128.0 * static_cast<double>(plan.magnification);
  // A loudness stands as the level whose dB it is.
  if (style.level == BarLevel::kMomentary) return std::pow(10.0, block.momentary / 20.0) * full;
  if (style.level == BarLevel::kShortTerm) return std::pow(10.0, block.shortTerm / 20.0) * full;
  double loudest = 0.0;
  for (std::uint32_t c = 0; c < plan.channels; ++c) {
    if (channel < 0 || static_cast<std::uint32_t>(channel) == c) {
      loudest = std::max(loudest, ChannelValue(style.level, block.stats, c));
    }
  }
  return loudest * full;
}

BarCells CellsOf(const BarStyle& style, const ScanPlan& plan, double level, std::size_t area) {
  const auto magnification = static_cast<double>(plan.magnification);
  double units = level;  // dots at a dot per unit
  double full = 128.0 * magnification;
  if (style.db) {
    const double db = Decibels(level / full);
    units = db > style.floor ? (db - style.floor) * magnification * (1.0 + kDbSlack) : 0.0;
    full = -style.floor * magnification;
  }
  BarCells cells;
  if (!(units > 0.0)) return cells;
  const std::size_t steps = style.unicode ? kEighths : 1;
  double length = units;
  std::size_t most = kMaxDots;
  if (style.width != 0) {
    length = units * static_cast<double>(area) / full;
    if (length > static_cast<double>(area) * (1.0 + kDbSlack)) {
      cells.over = true;
      return cells;
    }
    most = area;
  }
  const double stepped = length * static_cast<double>(steps);
  const double cap = static_cast<double>(most * steps);
  cells.steps = stepped >= cap ? most * steps : static_cast<std::size_t>(stepped);
  return cells;
}

std::size_t Columns(const char* text, std::size_t length) {
  std::size_t column = 0;
  for (std::size_t i = 0; i < length; ++i) {
    column = text[i] == '\t' ? (column / kTabStop + 1) * kTabStop : column + 1;
  }
  return column;
}

BarPicture::BarPicture(Output& out, const ScanPlan& plan, const BarStyle& style)
    : out_(out),
      plan_(plan),
      style_(style),
      printer_(MakeLinePrinter(plan.sampleRate, plan.time)) {}

void BarPicture::Block(const BlockRecord& block) {
  const std::int64_t t = LineStamp(block.frame, plan_.resolution);
  if (!style_.split) {
    Line(t, -1, block);
    return;
  }
  for (std::uint32_t c = 0; c < plan_.channels; ++c) Line(t, static_cast<int>(c), block);
}

void BarPicture::Line(std::int64_t t, int channel, const BlockRecord& block) {
  char stamp[kMaxStampText + 2];
  std::size_t stampLength = FormatStamp(printer_, t, stamp);
  if (channel >= 0) {
    stamp[stampLength++] = static_cast<char>('1' + channel);
    stamp[stampLength++] = '\t';
  }
  bool clipped = false;
  for (std::uint32_t c = 0; c < plan_.channels; ++c) {
    if (channel < 0 || static_cast<std::uint32_t>(channel) == c) {
      clipped = clipped || block.stats.channel[c].clipped > 0;
    }
  }
  const bool mark = style_.clips && clipped;
  std::size_t area = 0;
  if (style_.width != 0) {
    const std::size_t used = Columns(stamp, stampLength) + (style_.clips ? 1 : 0);
    area = style_.width > used ? style_.width - used : 0;
  }
  const BarCells cells = CellsOf(style_, plan_, BarUnits(style_, plan_, block, channel), area);
  std::size_t whole = style_.unicode ? cells.steps / kEighths : cells.steps;
  std::size_t part = style_.unicode ? cells.steps % kEighths : 0;
  if (cells.over) {
    whole = area > 0 ? area - 1 : 0;
    part = 0;
  }
  // A cell is three bytes at most; then a part, the marks and the newline.
  char* const line = Reserve(out_, stampLength + 3 * (whole + 1) + 3);
  if (line == nullptr) return;
  std::memcpy(line, stamp, stampLength);
  char* at = line + stampLength;
  for (std::size_t i = 0; i < whole; ++i) {
    if (style_.unicode) {
      std::memcpy(at, kBlockLead, 2);
      at[2] = static_cast<char>(kNoEighths - kEighths);
      at += 3;
    } else {
      *at++ = '.';
    }
  }
  if (part > 0) {
    std::memcpy(at, kBlockLead, 2);
    at[2] = static_cast<char>(kNoEighths - part);
    at += 3;
  }
  if (cells.over && area > 0) *at++ = '>';
  if (mark) *at++ = '!';
  *at++ = '\n';
  Commit(out_, static_cast<std::size_t>(at - line));
}

}  // namespace ampdots
