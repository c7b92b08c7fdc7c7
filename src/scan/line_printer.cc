#include "scan/line_printer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "scan/scan.h"

namespace ampdots {
namespace {

// Bars are copied in fixed-size blocks, which the compiler turns into a few
// stores each; the line's length then counts only the dots wanted.
constexpr std::size_t kDotBlock = 64;
constexpr std::size_t kShortStamp = 32;

constexpr std::array<char, kDotBlock> kDots = [] {
  std::array<char, kDotBlock> dots{};
  dots.fill('.');
  return dots;
}();

// The smallest time bits above `bits` whose stamp differs from `scaled`.
// Stamps never decrease as positive floats grow, so every time between
// `bits` and it prints the same stamp.
std::uint32_t NextStampChange(std::uint32_t bits, std::uint64_t scaled, int decimals) {
  const auto differs = [&](std::uint32_t candidate) {
    std::uint64_t other;
    return !ScaleFixed(std::bit_cast<float>(candidate), decimals, other) || other != scaled;
  };
  // Start near where rounding turns up, then settle on the exact float.
  const double turn =
      (static_cast<double>(scaled) + 0.5) / static_cast<double>(kFixedPow10[decimals]);
  std::uint32_t next = std::max(std::bit_cast<std::uint32_t>(static_cast<float>(turn)), bits + 1);
  while (next > bits + 1 && differs(next - 1)) --next;
  while (!differs(next)) ++next;
  return next;
}

// The time of frame `t`, worked in single precision, as the stamps always
// have been.
inline float TimeOf(std::int64_t t, std::uint32_t sampleRate) {
  return static_cast<float>(t) / static_cast<float>(sampleRate);
}

// How many frames from `t` on have times below the time whose bits are
// `high`; at least one (`t` itself). Times never decrease as frames grow,
// so these frames are a run.
std::uint64_t FramesBefore(std::uint32_t high, std::uint32_t sampleRate, std::int64_t t) {
  const auto below = [&](std::int64_t frame) {
    return std::bit_cast<std::uint32_t>(TimeOf(frame, sampleRate)) < high;
  };
  // Start near where the time reaches `high`, then settle on the exact frame.
  const double reach = std::ceil(static_cast<double>(std::bit_cast<float>(high)) * sampleRate);
  std::int64_t end = t + 1;
  if (reach > static_cast<double>(end) && reach < 0x1p62) end = static_cast<std::int64_t>(reach);
  while (end > t + 1 && !below(end - 1)) --end;
  while (below(end)) ++end;
  return static_cast<std::uint64_t>(end - t);
}

// Adds one to the frame digits at the end of the stamp, unless that would
// make them longer (then they are written anew).
// Adds one to the decimal digits stamp[from, to), unless that would make
// them longer.
bool IncrementDigits(char* stamp, std::size_t from, std::size_t to) {
  for (std::size_t i = to; i-- > from;) {
    if (stamp[i] != '9') {
      ++stamp[i];
      return true;
    }
    stamp[i] = '0';
  }
  return false;
}

// Rebuilds the kept part of the stamp: the time, when it changed, then the
// frame index less its last digit. Written where it stands: a copy built
// aside and stored whole cost more, reading back its own narrow stores,
// than the next line's wide read of them does.
void MakeStamp(LinePrinter& p, bool timeChanged, float time, std::int64_t t) {
  // Most often only the frame index's tens move on: they are counted up
  // where they stand, which a copy of the whole stamp would cost more than.
  if (!timeChanged && p.withFrame && t >= 0) {
    const std::int64_t base = t - t % 10;
    if (base == p.frameBase + 10 && p.frameBase >= 10) {
      if (!IncrementDigits(p.stamp, p.timeLength, p.timeLength + p.frameDigits)) {
        p.frameDigits = FormatInteger(t / 10, p.stamp + p.timeLength);  // one digit longer
      }
      p.stampLength = p.timeLength + p.frameDigits;
      p.frameBase = base;
      return;
    }
  }
  char* const stamp = p.stamp;
  if (timeChanged) {
    std::uint64_t scaled;
    std::size_t n;
    const auto bits = std::bit_cast<std::uint32_t>(time);
    p.frameSpan = 0;
    if (!ScaleFixed(time, p.decimals, scaled)) {
      n = FormatFixed(time, p.decimals, stamp);
      stamp[n++] = '\t';
      p.timeLength = n;
      p.timeLow = p.timeHigh = 0;  // kept for no other time
      p.timeScaledKept = false;
    } else if (p.timeScaledKept && scaled == p.timeScaled) {
      // The stamp outlasts a line: where it ends is worth finding, so that
      // the lines up to there take it without a look at their time.
      p.timeLow = bits;
      p.timeHigh = NextStampChange(bits, scaled, p.decimals);
      p.frameLow = t;
      p.frameSpan = FramesBefore(p.timeHigh, p.sampleRate, t);
    } else {
      // Lines whose stamps differ each time cost one scaling a line, not
      // the search for where each stamp ends: this stamp is kept for its
      // time alone until the next line shows it lasting.
      const std::uint64_t unit = kFixedPow10[p.decimals];
      if (p.timeScaledKept && scaled - p.timeWhole < unit) {
        // The same whole units as the stamp there: only its decimals,
        // before the tab, are written anew.
        FormatDecimalsOf(scaled - p.timeWhole, p.decimals,
                         stamp + p.timeLength - 1 - static_cast<std::size_t>(p.decimals));
      } else {
        n = FormatScaled(scaled, p.decimals, stamp);
        stamp[n++] = '\t';
        p.timeLength = n;
        p.timeWhole = scaled - scaled % unit;
      }
      p.timeLow = bits;
      p.timeHigh = bits + 1;
      p.timeScaled = scaled;
      p.timeScaledKept = true;
    }
  }
  p.stampLength = p.timeLength;
  if (p.withFrame) {
    // The tens written whole (counting on was taken above). A negative
    // index (never from a scan) is printed whole every time.
    p.frameDigits = t >= 10 ? FormatInteger(t / 10, stamp + p.timeLength) : 0;
    p.stampLength += p.frameDigits;
    p.frameBase = t >= 0 ? t - t % 10 : -1;
  }
}

// Writes the stamp of frame `t` at `at`, which has room for kMaxStampText
// bytes; returns its end.
inline char* WriteStamp(LinePrinter& p, std::int64_t t, char* at) {
  float time = 0.0f;
  bool timeKept =
      static_cast<std::uint64_t>(t) - static_cast<std::uint64_t>(p.frameLow) < p.frameSpan;
  if (!timeKept) {
    time = TimeOf(t, p.sampleRate);
    const auto bits = std::bit_cast<std::uint32_t>(time);
    timeKept = bits - p.timeLow < p.timeHigh - p.timeLow;
  }
  const bool frameKept = !p.withFrame || (t >= 0 && t >= p.frameBase && t - p.frameBase < 10);
  if (!timeKept || !frameKept) MakeStamp(p, !timeKept, time, t);

  // A short stamp is copied as one fixed-size block, like a short bar.
  if (p.stampLength <= kShortStamp) {
    std::memcpy(at, p.stamp, kShortStamp);
  } else {
    std::memcpy(at, p.stamp, sizeof p.stamp);
  }
  at += p.stampLength;
  if (p.withFrame) {
    if (t >= 0) {
      *at++ = static_cast<char>('0' + (t - p.frameBase));
    } else {
      at += FormatInteger(t, at);  // no tens kept for a negative index
    }
    *at++ = '\t';
  }
  return at;
}

}  // namespace

std::size_t FormatStamp(LinePrinter& printer, std::int64_t t, char* out) {
  return static_cast<std::size_t>(WriteStamp(printer, t, out) - out);
}

LinePrinter MakeLinePrinter(std::uint32_t sampleRate, TimeColumn column) {
  LinePrinter p;
  p.sampleRate = sampleRate;
  p.decimals = column.decimals;
  p.withFrame = column.withFrame;
  return p;
}

void Waveform(std::int64_t t, std::uint32_t sampleRate, double length, double secondsPerLine,
              Output& out) {
  LinePrinter printer = MakeLinePrinter(sampleRate, TimeColumnFor(secondsPerLine));
  PrintLine(printer, t, length, out);
}

namespace {

// The lines into an Output or a TextBlock, whose Reserve gives room for a
// line or nullptr when there is none.
template <typename Sink>
void PrintLinesTo(LinePrinter& p, std::int64_t t, std::int64_t step, const double* lengths,
                  std::size_t count, Sink& out) {
  for (std::size_t i = 0; i < count; ++i, t += step) {
    const std::size_t dots = BarDots(lengths[i]);
    char* const line = Reserve(out, kMaxStampText + dots + kDotBlock + 1);
    if (line == nullptr) return;
    char* at = WriteStamp(p, t, line);
    // Whole blocks, so that every copy has a fixed size and none is a call.
    for (std::size_t done = 0; done < dots; done += kDotBlock) {
      std::memcpy(at + done, kDots.data(), kDotBlock);
    }
    at += dots;
    *at++ = '\n';
    Commit(out, static_cast<std::size_t>(at - line));
  }
}

}  // namespace

void PrintLines(LinePrinter& printer, std::int64_t t, std::int64_t step, const double* lengths,
                std::size_t count, Output& out) {
  PrintLinesTo(printer, t, step, lengths, count, out);
}

void PrintLines(LinePrinter& printer, std::int64_t t, std::int64_t step, const double* lengths,
                std::size_t count, TextBlock& block) {
  PrintLinesTo(printer, t, step, lengths, count, block);
}

}  // namespace ampdots
