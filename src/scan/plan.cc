#include "scan/plan.h"

#include "scan/decode.h"
#include "scan/kernels.h"

namespace ampdots {

Decoder DecoderFor(std::uint32_t bytesPerSample, std::uint32_t channels, std::uint32_t formatCode) {
  if (channels < 1 || channels > kMaxChannels) return Decoder::kNone;
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
    case 8:
      return formatCode == kFormatFloat ? Decoder::kFloat64 : Decoder::kNone;
    default:
      return Decoder::kNone;
  }
}

TimeColumn TimeColumnFor(double secondsPerLine) {
  TimeColumn column;
  column.decimals = secondsPerLine >= 0.025 ? 2 : 3;
  column.withFrame = secondsPerLine <= 0.001;
  return column;
}

ScanPlan MakePlan(const WavAttributes& wav, std::uint32_t startFrame, std::uint32_t endFrame,
                  std::uint32_t resolution, float magnification) {
  ScanPlan plan;
  plan.decoder = DecoderFor(wav.bytesPerSample, wav.channels, wav.formatCode);
  plan.bytesPerSample = wav.bytesPerSample;
  plan.validBits = wav.validBits;
  plan.channels = wav.channels;
  plan.frameBytes = wav.bytesPerSample * wav.channels;
  plan.dataOffset = wav.dataOffset;
  plan.startFrame = startFrame;
  plan.endFrame = endFrame;
  plan.resolution = resolution;
  plan.sampleRate = wav.sampleRate;
  plan.magnification = magnification;
  plan.secondsPerLine = static_cast<double>(resolution) / wav.sampleRate;
  plan.time = TimeColumnFor(plan.secondsPerLine);
  plan.chunkFrames = plan.frameBytes == 0 ? 0 : kChunkBytes / plan.frameBytes;
  plan.vector = VectorLoopsAvailable();
  return plan;
}

}  // namespace ampdots
