// The scan exactly as the rules state it, one sample at a time through the
// per-sample decoders and printf: the yardstick the fast scan is tested
// against, and the path for lines too long for its exact integer sums.
#include <algorithm>
#include <cstdio>

#include "scan/decode.h"
#include "scan/scan.h"

namespace ampdots {
namespace {

constexpr std::uint32_t kReferenceChunkFrames = 4096;

Level DecodeSample(Decoder decoder, const std::uint8_t* bytes) {
  switch (decoder) {
    case Decoder::kPcm8:
      return DecodePcm8(bytes);
    case Decoder::kMuLaw:
      return DecodeMuLaw(bytes);
    case Decoder::kALaw:
      return DecodeALaw(bytes);
    case Decoder::kPcm16:
      return DecodePcm16(bytes);
    case Decoder::kPcm24:
      return DecodePcm24(bytes);
    case Decoder::kPcm32:
      return DecodePcm32(bytes);
    case Decoder::kFloat32:
      return DecodeFloat32(bytes);
    case Decoder::kNone:
      break;
  }
  return {0.0, 0.0};
}

void ReferenceWaveform(std::int64_t t, std::uint32_t sampleRate, double length,
                       double secondsPerLine, Output& out) {
  const float time = static_cast<float>(t) / static_cast<float>(sampleRate);
  if (secondsPerLine >= 0.025) {
    PutF(out, "%.2f\t", static_cast<double>(time));
  } else if (secondsPerLine > 0.001) {
    PutF(out, "%.3f\t", static_cast<double>(time));
  } else {
    PutF(out, "%.3f\t%lld\t", static_cast<double>(time), static_cast<long long>(t));
  }
  PutRepeated(out, '.', BarDots(length));
  PutChar(out, '\n');
}

}  // namespace

Peaks ScanIntervalReference(Source& source, const ScanRequest& request, Output& out) {
  const Decoder decoder = DecoderFor(request.bytesPerSample, request.channels, request.formatCode);
  const std::uint32_t align = request.blockAlign;
  std::uint8_t frames[kReferenceChunkFrames * kMaxBlockAlign];

  Peaks peaks;
  double lineSum = 0.0;
  std::uint32_t count = 0;
  std::uint64_t s = request.startFrame;
  std::uint64_t remaining = request.endFrame - request.startFrame;
  while (remaining > 0) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kReferenceChunkFrames));
    const std::uint64_t at = request.dataOffset + std::uint64_t{align} * s;
    // Whole frames only: a frame is never decoded from stale buffer bytes.
    const std::size_t got = ReadAt(source, at, frames, wanted * align) / align;
    for (std::size_t h = 0; h < got; ++h, ++s) {
      const std::uint8_t* frame = frames + h * align;
      if (decoder != Decoder::kNone) {
        const Level left = DecodeSample(decoder, frame);
        CheckPeak(peaks.left, left.level);
        lineSum += left.contribution;
        if (request.channels == 2) {
          const Level right = DecodeSample(decoder, frame + request.bytesPerSample);
          CheckPeak(peaks.right, right.level);
          lineSum += right.contribution;
        }
      }
      if (++count == request.resolution) {
        // Stamped at the line's first frame + ceil(resolution / 2).
        const auto t = static_cast<std::int64_t>(s + 1 - count / 2);
        if (request.channels == 2) lineSum *= 0.5;
        const double length =
            static_cast<double>(request.magnification) * (lineSum / request.resolution);
        ReferenceWaveform(t, request.sampleRate, length, request.secondsPerLine, out);
        lineSum = 0.0;
        count = 0;
      }
    }
    if (got < wanted) break;
    remaining -= got;
  }
  return peaks;
}

}  // namespace ampdots
