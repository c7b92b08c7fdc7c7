#include "scan/line_printer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "scan/scan.h"

namespace ampdots {
namespace {

// Short bars are copied as one fixed-size block, which the compiler turns
// into a few stores; the line's length then counts only the dots wanted.
constexpr std::size_t kDotBlock = 64;
constexpr std::size_t kShortStamp = 32;

constexpr std::array<char, kMaxDots> kDots = [] {
  std::array<char, kMaxDots> dots{};
  dots.fill('.');
  return dots;
}();

// Rebuilds the kept part of the stamp: the time when it changed (`time`, or
// `scaled` when it scaled), then the frame index less its last digit.
void MakeStamp(LinePrinter& p, bool timeChanged, float time, bool isScaled, std::uint64_t scaled,
               std::int64_t t) {
  if (timeChanged) {
    std::size_t n = isScaled ? FormatScaled(scaled, p.decimals, p.stamp)
                             : FormatFixed(time, p.decimals, p.stamp);
    p.stamp[n++] = '\t';
    p.timeLength = n;
    p.timeScaled = isScaled ? scaled : ~std::uint64_t{0};
  }
  std::size_t n = p.timeLength;
  if (p.withFrame) {
    p.frameTens = t / 10;
    if (p.frameTens > 0) n += FormatInteger(p.frameTens, p.stamp + n);
  }
  p.stampLength = n;
}

}  // namespace

LinePrinter MakeLinePrinter(std::uint32_t sampleRate, double secondsPerLine) {
  LinePrinter p;
  p.sampleRate = sampleRate;
  p.decimals = secondsPerLine >= 0.025 ? 2 : 3;
  p.withFrame = secondsPerLine <= 0.001;
  return p;
}

void PrintLine(LinePrinter& p, std::int64_t t, double length, Output& out) {
  const std::size_t dots = BarDots(length);
  char* const line = Reserve(out, sizeof p.stamp + kMaxNumberText + std::max(dots, kDotBlock) + 1);
  if (line == nullptr) return;

  // The time is worked in single precision, as the stamps always have been.
  const float time = static_cast<float>(t) / static_cast<float>(p.sampleRate);
  std::uint64_t scaled = 0;
  const bool isScaled = ScaleFixed(time, p.decimals, scaled);
  const bool timeChanged = !isScaled || scaled != p.timeScaled;
  const bool frameChanged = p.withFrame && (t < 0 || t / 10 != p.frameTens);
  if (timeChanged || frameChanged) MakeStamp(p, timeChanged, time, isScaled, scaled, t);

  char* at = line;
  // A short stamp is copied as one fixed-size block, like a short bar.
  if (p.stampLength <= kShortStamp) {
    std::memcpy(at, p.stamp, kShortStamp);
  } else {
    std::memcpy(at, p.stamp, sizeof p.stamp);
  }
  at += p.stampLength;
  if (p.withFrame) {
    if (t >= 0) {
      *at++ = static_cast<char>('0' + t % 10);
    } else {
      at += FormatInteger(t, at);  // no tens kept for a negative index
    }
    *at++ = '\t';
  }
  std::memcpy(at, kDots.data(), dots <= kDotBlock ? kDotBlock : dots);
  at += dots;
  *at++ = '\n';
  Commit(out, static_cast<std::size_t>(at - line));
}

}  // namespace ampdots
