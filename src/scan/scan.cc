#include "scan/scan.h"

#include <algorithm>

#include "scan/kernels.h"
#include "scan/line_printer.h"

namespace ampdots {
namespace {

// Lines of at most this many frames are summed sample by sample.
constexpr std::uint32_t kFineResolution = 16;

// A line's sum, added up one double at a time as the rules have it, is
// exact (and so equal to the integer sum) while every partial sum stays
// below 2^53 lowest bits: lines of fewer than 2^30 24-bit samples (2^23
// each) or 2^22 32-bit ones (2^31 each). 16-bit and one-byte samples never
// come near. Longer lines go to the reference scan.
bool LineSumIsExact(Decoder decoder, std::uint64_t samplesPerLine) {
  if (decoder == Decoder::kPcm24) return samplesPerLine < (std::uint64_t{1} << 30);
  if (decoder == Decoder::kPcm32) return samplesPerLine < (std::uint64_t{1} << 22);
  return true;
}

// A level per lowest bit of a PCM decoder's integers: a power of two, so
// multiplying by it is exact.
double PcmUnit(Decoder decoder) {
  switch (decoder) {
    case Decoder::kPcm24:
      return 1.0 / 65536;
    case Decoder::kPcm32:
      return 1.0 / 16777216;
    default:
      return 1.0 / 256;  // 16-bit, and one-byte samples as 16-bit values
  }
}

// The buffers of the one scan a process runs: fixed, and too large for the stack.
std::uint8_t frameBuffer[kChunkFrames * kMaxBlockAlign];
double magnitudeBuffer[kChunkFrames * 2];
double lineLengths[kChunkFrames];

// Frames to read next: as many as fit, ending on a line boundary when at
// least one whole line fits, so that whole lines can be summed side by side.
std::size_t NextChunk(std::uint64_t remaining, std::uint32_t count, std::uint32_t resolution) {
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkFrames));
  if (resolution == 0 || resolution > kChunkFrames) return want;
  const std::size_t toLineEnd = resolution - count;
  if (want > toLineEnd) want = toLineEnd + (want - toLineEnd) / resolution * resolution;
  return want;
}

// The line being built and the peaks of the interval so far.
struct ScanState {
  const ScanRequest* request = nullptr;
  Decoder decoder = Decoder::kNone;
  bool stereo = false;
  std::uint64_t frame = 0;  // index of the next frame to add
  std::uint32_t count = 0;  // frames in the current line
  PcmTotals pcm;            // PCM: line sum and peaks in units of the lowest bit
  double floatSum = 0.0;    // float: line sum
  FloatPeaks floatPeaks;
  LinePrinter printer;
};

// The bar length of a whole line of `lineSum`.
double LineLength(const ScanState& state, double lineSum) {
  const ScanRequest& r = *state.request;
  if (r.channels == 2) lineSum *= 0.5;
  return static_cast<double>(r.magnification) * (lineSum / r.resolution);
}

void EndLine(ScanState& state, double lineSum, Output& out) {
  // Stamped at the line's first frame + ceil(resolution / 2).
  const auto t = static_cast<std::int64_t>(state.frame - state.count / 2);
  PrintLine(state.printer, t, LineLength(state, lineSum), out);
  state.count = 0;
}

// Adds `frames` frames (never past the end of the current line).
void AddPcm(ScanState& state, const std::uint8_t* bytes, std::size_t frames, Output& out) {
  const std::size_t samples = frames * (state.stereo ? 2 : 1);
  const bool stereo = state.stereo;
  switch (state.decoder) {
    case Decoder::kPcm8:
      AccumulatePcm8(bytes, samples, stereo, state.pcm);
      break;
    case Decoder::kMuLaw:
      AccumulateMuLaw(bytes, samples, stereo, state.pcm);
      break;
    case Decoder::kALaw:
      AccumulateALaw(bytes, samples, stereo, state.pcm);
      break;
    case Decoder::kPcm16:
      AccumulatePcm16(bytes, samples, stereo, state.pcm);
      break;
    case Decoder::kPcm24:
      AccumulatePcm24(bytes, samples, stereo, state.pcm);
      break;
    default:
      AccumulatePcm32(bytes, samples, stereo, state.pcm);
      break;
  }
  state.frame += frames;
  state.count += static_cast<std::uint32_t>(frames);
  if (state.count == state.request->resolution) {
    EndLine(state, static_cast<double>(state.pcm.sum) * PcmUnit(state.decoder), out);
    state.pcm.sum = 0;
  }
}

// Lines of a few frames each: the vector loops would cost more to start
// than they save, so each sample is taken on its own, in integers.
template <typename Layout>
void AddFinePcm(ScanState& state, const std::uint8_t* bytes, std::size_t frames, Output& out) {
  constexpr std::size_t kWidth = Layout::kWidth;
  constexpr std::int32_t kTopByteOne = Layout::kTopByteOne;
  constexpr double kUnit = 1.0 / kTopByteOne;  // a power of two: exact as a factor
  const std::uint32_t resolution = state.request->resolution;
  const std::size_t perFrame = state.stereo ? 2 : 1;
  if (state.count == 0 && frames >= resolution) {
    // Whole lines: every bar first, then all their lines in one go.
    const std::size_t lines = frames / resolution;
    if (resolution == 1 && perFrame == 1) {
      // A line per mono sample: LineLength's arithmetic for such a line,
      // written so that the loop vectorizes (the mean of one sample is itself).
      const auto magnification = static_cast<double>(state.request->magnification);
      std::uint32_t peak = state.pcm.maxLeft;
      for (std::size_t j = 0; j < lines; ++j) {
        const std::int32_t v = Layout::Value(bytes + j * kWidth);
        lineLengths[j] =
            magnification * (static_cast<double>(PcmContribution<kTopByteOne>(v)) * kUnit);
        peak = std::max(peak, PcmMagnitude(v));
      }
      state.pcm.maxLeft = peak;
      bytes += lines * kWidth;
    } else {
      for (std::size_t j = 0; j < lines; ++j) {
        for (std::size_t i = 0; i < resolution * perFrame; ++i, bytes += kWidth) {
          AddPcmSample<kTopByteOne>(Layout::Value(bytes), perFrame == 2 && i % 2 == 1, state.pcm);
        }
        lineLengths[j] = LineLength(state, static_cast<double>(state.pcm.sum) * kUnit);
        state.pcm.sum = 0;
      }
    }
    // Each stamped at its first frame + ceil(resolution / 2).
    const auto t = static_cast<std::int64_t>(state.frame + resolution - resolution / 2);
    PrintLines(state.printer, t, resolution, lineLengths, lines, out);
    state.frame += lines * resolution;
    frames -= lines * resolution;
  }
  while (frames > 0) {
    const std::size_t run = std::min<std::size_t>(frames, resolution - state.count);
    for (std::size_t i = 0; i < run * perFrame; ++i, bytes += kWidth) {
      AddPcmSample<kTopByteOne>(Layout::Value(bytes), perFrame == 2 && i % 2 == 1, state.pcm);
    }
    frames -= run;
    state.frame += run;
    state.count += static_cast<std::uint32_t>(run);
    if (state.count == resolution) {
      EndLine(state, static_cast<double>(state.pcm.sum) * kUnit, out);
      state.pcm.sum = 0;
    }
  }
}

void AddFinePcmChunk(ScanState& state, const std::uint8_t* bytes, std::size_t frames, Output& out) {
  switch (state.decoder) {
    case Decoder::kPcm8:
      return AddFinePcm<Pcm8Layout>(state, bytes, frames, out);
    case Decoder::kMuLaw:
      return AddFinePcm<MuLawLayout>(state, bytes, frames, out);
    case Decoder::kALaw:
      return AddFinePcm<ALawLayout>(state, bytes, frames, out);
    case Decoder::kPcm16:
      return AddFinePcm<Pcm16Layout>(state, bytes, frames, out);
    case Decoder::kPcm24:
      return AddFinePcm<Pcm24Layout>(state, bytes, frames, out);
    default:
      return AddFinePcm<Pcm32Layout>(state, bytes, frames, out);
  }
}

// Sums kLines whole lines of `perLine` magnitudes each, side by side: each
// line is still summed in its own order, which fixes its rounding, but the
// additions of different lines overlap in the processor.
template <std::size_t kLines>
void SumLines(const double* magnitudes, std::size_t perLine, double (&sums)[8]) {
  double s[kLines] = {};
  for (std::size_t i = 0; i < perLine; ++i) {
    for (std::size_t j = 0; j < kLines; ++j) s[j] += magnitudes[j * perLine + i];
  }
  for (std::size_t j = 0; j < kLines; ++j) sums[j] = s[j];
}

void AddFloat(ScanState& state, const std::uint8_t* bytes, std::size_t frames, Output& out) {
  const std::size_t perFrame = state.stereo ? 2 : 1;
  FloatMagnitudes(bytes, frames * perFrame, state.stereo, magnitudeBuffer, state.floatPeaks);
  const double* magnitudes = magnitudeBuffer;
  const std::uint32_t resolution = state.request->resolution;
  while (frames > 0) {
    const std::size_t whole = resolution == 0 ? 0 : frames / resolution;
    if (state.count == 0 && whole >= 2) {
      const std::size_t lines = whole >= 8 ? 8 : whole >= 4 ? 4 : 2;
      const std::size_t perLine = std::size_t{resolution} * perFrame;
      double sums[8];
      if (lines == 8) SumLines<8>(magnitudes, perLine, sums);
      if (lines == 4) SumLines<4>(magnitudes, perLine, sums);
      if (lines == 2) SumLines<2>(magnitudes, perLine, sums);
      for (std::size_t j = 0; j < lines; ++j) {
        state.frame += resolution;
        state.count = resolution;
        EndLine(state, sums[j], out);
      }
      magnitudes += lines * perLine;
      frames -= lines * resolution;
      continue;
    }
    const std::size_t run =
        resolution == 0 ? frames : std::min<std::size_t>(frames, resolution - state.count);
    for (std::size_t i = 0; i < run * perFrame; ++i) state.floatSum += magnitudes[i];
    magnitudes += run * perFrame;
    frames -= run;
    state.frame += run;
    state.count += static_cast<std::uint32_t>(run);
    if (state.count == resolution) {
      EndLine(state, state.floatSum, out);
      state.floatSum = 0.0;
    }
  }
}

// Frames without a decoder still make up lines, with empty sums.
void AddSilent(ScanState& state, std::size_t frames, Output& out) {
  state.frame += frames;
  state.count += static_cast<std::uint32_t>(frames);
  if (state.count == state.request->resolution) EndLine(state, 0.0, out);
}

void AddChunk(ScanState& state, const std::uint8_t* bytes, std::size_t frames, Output& out) {
  if (state.decoder == Decoder::kFloat32) return AddFloat(state, bytes, frames, out);
  const std::uint32_t resolution = state.request->resolution;
  if (state.decoder != Decoder::kNone && resolution != 0 && resolution <= kFineResolution) {
    return AddFinePcmChunk(state, bytes, frames, out);
  }
  const std::uint32_t align = state.request->blockAlign;
  while (frames > 0) {
    const std::size_t run =
        resolution == 0 ? frames : std::min<std::size_t>(frames, resolution - state.count);
    if (state.decoder == Decoder::kNone) {
      AddSilent(state, run, out);
    } else {
      AddPcm(state, bytes, run, out);
    }
    bytes += run * align;
    frames -= run;
  }
}

Peaks FinalPeaks(const ScanState& state) {
  Peaks peaks;
  switch (state.decoder) {
    case Decoder::kNone:
      break;
    case Decoder::kFloat32: {
      const auto level = [](std::int64_t bits) {
        return bits < 0 ? 0.0 : FloatMagnitudeLevel(static_cast<std::uint32_t>(bits));
      };
      peaks.left = level(state.floatPeaks.maxLeft);
      peaks.right = level(state.floatPeaks.maxRight);
      break;
    }
    default:
      peaks.left = state.pcm.maxLeft * PcmUnit(state.decoder);
      peaks.right = state.pcm.maxRight * PcmUnit(state.decoder);
      break;
  }
  return peaks;
}

}  // namespace

Decoder DecoderFor(std::uint32_t bytesPerSample, std::uint32_t channels, std::uint32_t formatCode) {
  if (channels != 1 && channels != 2) return Decoder::kNone;
  switch (bytesPerSample) {
    case 1:
      return formatCode == kFormatPcm     ? Decoder::kPcm8
             : formatCode == kFormatALaw  ? Decoder::kALaw
             : formatCode == kFormatMuLaw ? Decoder::kMuLaw
                                          : Decoder::kNone;
    case 2:
      return Decoder::kPcm16;
    case 3:
      return Decoder::kPcm24;
    case 4:
      // Integer PCM only when the header says so; any other code is float.
      return formatCode == kFormatPcm ? Decoder::kPcm32 : Decoder::kFloat32;
    default:
      return Decoder::kNone;
  }
}

void Waveform(std::int64_t t, std::uint32_t sampleRate, double length, double secondsPerLine,
              Output& out) {
  LinePrinter printer = MakeLinePrinter(sampleRate, secondsPerLine);
  PrintLine(printer, t, length, out);
}

Peaks ScanInterval(Source& source, const ScanRequest& request, Output& out) {
  ScanState state;
  state.request = &request;
  state.decoder = DecoderFor(request.bytesPerSample, request.channels, request.formatCode);
  state.stereo = request.channels == 2;
  state.frame = request.startFrame;
  state.printer = MakeLinePrinter(request.sampleRate, request.secondsPerLine);
  if (!LineSumIsExact(state.decoder, std::uint64_t{request.resolution} * request.channels)) {
    return ScanIntervalReference(source, request, out);
  }
  const std::uint32_t align = request.blockAlign;
  std::uint64_t remaining = request.endFrame - request.startFrame;
  while (remaining > 0) {
    const std::size_t wanted = NextChunk(remaining, state.count, request.resolution);
    const std::uint64_t at = request.dataOffset + std::uint64_t{align} * state.frame;
    // Whole frames only: a frame is never decoded from stale buffer bytes,
    // and a file that shrank since it was probed ends the scan there.
    const std::size_t got = ReadAt(source, at, frameBuffer, wanted * align) / align;
    AddChunk(state, frameBuffer, got, out);
    // Nothing more can be shown once standard output has failed.
    if (got < wanted || out.failed) break;
    remaining -= got;
  }
  return FinalPeaks(state);
}

}  // namespace ampdots
