#include "scan/scan.h"

#include <algorithm>
#include <cmath>

#include "scan/decode.h"

namespace ampdots {
namespace {

enum class Decoder { kNone, kPcm16, kPcm24, kFloat32 };

Decoder DecoderFor(std::uint32_t bytesPerSample, std::uint32_t channels) {
  if (channels != 1 && channels != 2) return Decoder::kNone;
  switch (bytesPerSample) {
    case 2:
      return Decoder::kPcm16;
    case 3:
      return Decoder::kPcm24;
    case 4:
      return Decoder::kFloat32;  // the format code is not read: 32 bits means float
    default:
      return Decoder::kNone;
  }
}

Level DecodeSample(Decoder decoder, const std::uint8_t* bytes) {
  switch (decoder) {
    case Decoder::kPcm16:
      return DecodePcm16(bytes);
    case Decoder::kPcm24:
      return DecodePcm24(bytes);
    case Decoder::kFloat32:
      return DecodeFloat32(bytes);
    case Decoder::kNone:
      break;
  }
  return {0.0, 0.0};
}

}  // namespace

std::size_t BarDots(double length) {
  if (!(length >= 1.0)) return 0;
  if (length >= static_cast<double>(kMaxDots)) return kMaxDots;
  return static_cast<std::size_t>(length);
}

void Waveform(std::int64_t t, std::uint32_t sampleRate, double length, double secondsPerLine,
              Output& out) {
  // The time is worked in single precision, as the stamps always have been.
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

Peaks ScanInterval(const Source& source, const ScanRequest& request, Output& out) {
  const Decoder decoder = DecoderFor(request.bytesPerSample, request.channels);
  const std::uint32_t align = request.blockAlign;
  std::uint8_t frames[kChunkFrames * kMaxBlockAlign];

  Peaks peaks;
  double lineSum = 0.0;
  std::uint32_t count = 0;
  std::uint64_t s = request.startFrame;
  std::uint64_t remaining = request.endFrame - request.startFrame;
  while (remaining > 0) {
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkFrames));
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
        const std::int64_t t = static_cast<std::int64_t>(s + 1 - count / 2);
        if (request.channels == 2) lineSum *= 0.5;
        const double length =
            static_cast<double>(request.magnification) * (lineSum / request.resolution);
        Waveform(t, request.sampleRate, length, request.secondsPerLine, out);
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
