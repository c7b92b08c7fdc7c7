#include "cli/run.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "scan/scan.h"
#include "wav/probe.h"

namespace ampdots {
namespace {

constexpr const char* kUsage[] = {
    "This program will print a basic waveform image",
    "Run with command line argument 1 being the name of the wavefile",
    "Arguments 2 and 3 are the start/stop times in seconds to scan within the file.",
    "Argument 4 (optional) is resolution in samples.  Default = samplerate / 20 ",
    ("Argument 5 (optional) is magnification: Above 1 magnifies (256 is the max).  "
     "Between 0 and 1 zooms out."),
};

constexpr float kMaxMagnification = 256.0f;

// Rounds to single precision; a value past the largest float (by at least
// half a unit in the last place, where rounding would go) becomes infinite
// explicitly rather than by an out-of-range conversion.
float NarrowToFloat(double value) {
  constexpr double kOverflow = 0x1.ffffffp127;  // FLT_MAX + half an ulp
  if (value >= kOverflow) return std::numeric_limits<float>::infinity();
  if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

}  // namespace

float ParseSeconds(const char* text) { return NarrowToFloat(std::strtod(text, nullptr)); }

std::uint32_t ParseResolution(const char* text) {
  // 64 bits on every host, so that a 32-bit one reads what a 64-bit one does.
  const long long value = std::strtoll(text, nullptr, 10);
  return static_cast<std::uint32_t>(static_cast<unsigned long long>(value));
}

float ChooseMagnification(const char* text) {
  const float value = ParseSeconds(text);
  if (value <= 0.0f) return 1.0f;
  // Out of range means "no magnification", not "the most".
  if (value > kMaxMagnification) return 1.0f;
  return value;
}

Arguments ParseArguments(int count, const char* const* args) {
  Arguments parsed;
  parsed.path = args[0];
  parsed.start = ParseSeconds(args[1]);
  parsed.stop = ParseSeconds(args[2]);
  if (count >= 4) {
    parsed.hasResolution = true;
    parsed.resolution = ParseResolution(args[3]);
  }
  // A magnification counts only as the fifth and last argument.
  if (count == 5) parsed.magnification = ChooseMagnification(args[4]);
  return parsed;
}

std::uint32_t FrameAt(std::uint32_t sampleRate, float seconds) {
  const float frame = static_cast<float>(sampleRate) * seconds;
  if (!(frame > 0.0f)) return 0;
  if (frame >= 4294967296.0f) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(frame);
}

std::uint32_t ChooseResolution(const Arguments& args, std::uint32_t sampleRate) {
  if (args.hasResolution && args.resolution != 0 && args.resolution <= sampleRate) {
    return args.resolution;
  }
  return sampleRate / 20;
}

float ThresholdDb(float magnification) {
  const float scale = 256.0f * magnification;
  return NarrowToFloat(-20.0 * std::log10(static_cast<double>(scale)));
}

float PeakDb(double peak) { return NarrowToFloat(20.0 * std::log10(peak * 0.0078125)); }

namespace {

// A file that could not be read to its end: the picture so far stands, and
// this one line on standard error says why it stops there.
int ReadFailed(const char* path, int error, Output& err) {
  Put(err, "ampdots: cannot read ");
  Put(err, path);
  Put(err, ": ");
  PutLine(err, std::strerror(error));
  return 2;
}

// The interval checks and the scan, for a file the probe has accepted.
// Returns 0 with `peaks` set, or the exit status to end with.
int CheckAndScan(const Arguments& args, const WavAttributes& wav, OpenFn open, Source& source,
                 Output& out, Output& err, Peaks& peaks) {
  const std::uint32_t startFrame = FrameAt(wav.sampleRate, args.start);
  const std::uint32_t stopFrame = FrameAt(wav.sampleRate, args.stop);
  if (startFrame >= stopFrame) {
    PutLine(out, kBadIntervalMessage);
    return 1;
  }
  const std::uint32_t endFrame = std::min(stopFrame, wav.frameCount);
  // Every layout with a decoder is at most 8 bytes a frame; a wider one, or
  // one that no decoder reads, would only draw a picture of nothing.
  const Decoder decoder = DecoderFor(wav.bytesPerSample, wav.channels, wav.formatCode);
  if (decoder == Decoder::kNone) {
    PutLine(out, kBadFrameMessage);
    return 1;
  }
  if (!source.stream && !open(args.path, source)) {
    PutNoFileMessage(out, args.path);
    return 2;
  }
  ScanRequest scan;
  scan.dataOffset = wav.dataOffset;
  scan.bytesPerSample = wav.bytesPerSample;
  scan.channels = wav.channels;
  scan.formatCode = wav.formatCode;
  scan.blockAlign = wav.bytesPerSample * wav.channels;
  scan.startFrame = startFrame;
  scan.endFrame = endFrame;
  scan.resolution = ChooseResolution(args, wav.sampleRate);
  scan.sampleRate = wav.sampleRate;
  scan.magnification = args.magnification;
  scan.secondsPerLine = static_cast<double>(scan.resolution) / wav.sampleRate;
  peaks = endFrame > startFrame ? ScanInterval(source, scan, out) : Peaks{};
  // The end of the data is no error, but a failed read is: a picture cut
  // short by a failing disk must not pass for the whole one.
  if (source.error != 0) return ReadFailed(args.path, source.error, err);
  return 0;
}

}  // namespace

int Run(int argc, const char* const* argv, Output& out, Output& err, OpenFn open) {
  PutLine(out, kBanner);
  const int count = argc - 1;
  if (count < 3) {
    for (const char* line : kUsage) PutLine(out, line);
    return 1;
  }
  const Arguments args = ParseArguments(count, argv + 1);

  WavAttributes wav;
  Source source;  // a stream stays open from the probe to the scan
  if (const int status = GetAttributes(args.path, open, out, wav, source); status != 0) {
    return source.error != 0 ? ReadFailed(args.path, source.error, err) : status;
  }
  Peaks peaks;
  const int status = CheckAndScan(args, wav, open, source, out, err, peaks);
  CloseSource(source);
  if (status != 0) return status;

  PutF(out, "Showing values above %.0f dB\n", static_cast<double>(ThresholdDb(args.magnification)));
  if (wav.channels == 1) {
    PutF(out, "Peak over interval %.1f dB\n", static_cast<double>(PeakDb(peaks.left)));
  } else if (wav.channels == 2) {
    PutF(out, "Peaks over interval %.1f L %.1f R\n", static_cast<double>(PeakDb(peaks.left)),
         static_cast<double>(PeakDb(peaks.right)));
  }
  return 0;
}

}  // namespace ampdots
