#include "cli/run.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "cli/options.h"
#include "report/records.h"
#include "scan/blocks.h"
#include "scan/plan.h"
#include "scan/scan.h"
#include "wav/probe.h"

namespace ampdots {
namespace {

// What the run prints of its own, besides the banner, the probe's messages
// and the picture: every text and format in one place.
constexpr const char* kUsage[] = {
    "This program will print a basic waveform image",
    "Run with command line argument 1 being the name of the wavefile",
    "Arguments 2 and 3 are the start/stop times in seconds to scan within the file.",
    "Argument 4 (optional) is resolution in samples.  Default = samplerate / 20 ",
    ("Argument 5 (optional) is magnification: Above 1 magnifies (256 is the max).  "
     "Between 0 and 1 zooms out."),
};
constexpr char kNoFormatMessage[] = "Can't find format chunk in wave file!";
constexpr char kNoDataMessage[] = "Can't find data block in wave file!";
constexpr char kNoFileStart[] = "The file called ";
constexpr char kNoFileEnd[] = " cannot be found!\n";
constexpr char kReadErrorText[] = "ampdots: cannot read ";
constexpr char kMissingArguments[] = "FILE, START and STOP are needed";
constexpr char kTryHelp[] = "Try 'ampdots --help'.";
constexpr char kThresholdFormat[] = "Showing values above %.0f dB\n";
constexpr char kMonoPeakFormat[] = "Peak over interval %.1f dB\n";
constexpr char kStereoPeaksFormat[] = "Peaks over interval %.1f L %.1f R\n";
constexpr char kPeaksText[] = "Peaks over interval";
constexpr char kChannelPeakFormat[] = " %.1f";
constexpr char kPeaksEnd[] = " dB";

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
  Put(err, kReadErrorText);
  Put(err, path);
  Put(err, ": ");
  PutLine(err, std::strerror(error));
  return 2;
}

// Options that cannot be run: what is wrong, and where help is.
int OptionError(const Options& options, Output& err) {
  Put(err, "ampdots: ");
  Put(err, options.error);
  if (options.errorWord[0] != '\0') {
    Put(err, " '");
    Put(err, options.errorWord);
    Put(err, "'");
  }
  PutChar(err, '\n');
  PutLine(err, kTryHelp);
  return 1;
}

// The probe's findings as messages on `talk`. Returns 0 when the run goes
// on, else the status to end with (a read error is reported by the caller).
int ReportProbe(const ProbeResult& probe, const char* path, Output& talk) {
  if (probe.status == ProbeStatus::kNoFile) {
    // The path may be of any length: never formatted into a bounded buffer.
    Put(talk, kNoFileStart);
    Put(talk, path);
    Put(talk, kNoFileEnd);
    return 2;
  }
  if (probe.formatTagMissing) PutLine(talk, kNoFormatMessage);  // never with a read error
  switch (probe.status) {
    case ProbeStatus::kNoDataTag:
      PutLine(talk, kNoDataMessage);
      return 2;
    case ProbeStatus::kZeroWidthFrame:
      PutLine(talk, kBadFrameMessage);
      return 1;
    case ProbeStatus::kReadError:
    case ProbeStatus::kNoFile:
      return 2;
    case ProbeStatus::kOk:
      break;
  }
  return 0;
}

void PutSummary(const ScanPlan& plan, const Peaks& peaks, Output& out) {
  PutF(out, kThresholdFormat, static_cast<double>(ThresholdDb(plan.magnification)));
  const auto db = [&](std::uint32_t c) { return static_cast<double>(PeakDb(peaks.channel[c])); };
  if (plan.channels == 1) {
    PutF(out, kMonoPeakFormat, db(0));
  } else if (plan.channels == 2) {
    PutF(out, kStereoPeaksFormat, db(0), db(1));
  } else {
    Put(out, kPeaksText);
    for (std::uint32_t c = 0; c < plan.channels; ++c) PutF(out, kChannelPeakFormat, db(c));
    PutLine(out, kPeaksEnd);
  }
}

// Records that only feed the summary.
class NoBlocks final : public BlockSink {
 public:
  void Block(const BlockRecord&) override {}
};

// The scan and what follows it, in the mode the options ask for. Returns
// the exit status.
int ScanAndShow(const Options& options, const Arguments& args, const WavAttributes& wav,
                const ScanPlan& plan, Source& source, Output& out, Output& err) {
  const bool any = plan.endFrame > plan.startFrame;
  Stats stats;
  if (options.mode == OutputMode::kPicture) {
    const Peaks peaks =
        any ? ScanInterval(source, plan, out, options.summary ? &stats : nullptr) : Peaks{};
    // The end of the data is no error, but a failed read is: a picture cut
    // short by a failing disk must not pass for the whole one.
    if (source.error != 0) return ReadFailed(args.path, source.error, err);
    PutSummary(plan, peaks, out);
    if (options.summary) PutStatsTable(out, plan, stats);
    return 0;
  }
  if (options.mode == OutputMode::kJson) {
    PutJsonFile(out, RunFacts{args.path, wav, plan});
    JsonBlocks blocks(out, plan);
    if (any) stats = ScanBlocks(source, plan, blocks);
    if (source.error != 0) return ReadFailed(args.path, source.error, err);
    PutJsonSummary(out, plan, stats);
    return 0;
  }
  if (options.summary) {
    NoBlocks none;
    if (any) stats = ScanBlocks(source, plan, none);
    if (source.error != 0) return ReadFailed(args.path, source.error, err);
    PutCsvSummary(out, plan, stats);
    return 0;
  }
  PutCsvHeader(out, plan);
  CsvBlocks blocks(out, plan);
  if (any) ScanBlocks(source, plan, blocks);
  if (source.error != 0) return ReadFailed(args.path, source.error, err);
  return 0;
}

// The run once the probe has accepted the file: the interval and layout
// checks, then the scan. Messages go to `talk`. Returns the exit status.
int CheckAndScan(const Options& options, const Arguments& args, const WavAttributes& wav,
                 OpenFn open, Source& source, Output& out, Output& err, Output& talk) {
  const std::uint32_t startFrame = FrameAt(wav.sampleRate, args.start);
  const std::uint32_t stopFrame = FrameAt(wav.sampleRate, args.stop);
  if (startFrame >= stopFrame) {
    PutLine(talk, kBadIntervalMessage);
    return 1;
  }
  const ScanPlan plan = MakePlan(wav, startFrame, std::min(stopFrame, wav.frameCount),
                                 ChooseResolution(args, wav.sampleRate), args.magnification);
  // A layout that no decoder reads would only draw a picture of nothing.
  if (plan.decoder == Decoder::kNone) {
    PutLine(talk, kBadFrameMessage);
    return 1;
  }
  // A file is opened again for the scan, as it was for the probe; a stream
  // can be read only once, and goes on from where the probe stopped.
  if (!source.stream) {
    CloseSource(source);
    if (!open(args.path, source)) {
      ProbeResult gone;
      gone.status = ProbeStatus::kNoFile;
      return ReportProbe(gone, args.path, talk);
    }
  }
  return ScanAndShow(options, args, wav, plan, source, out, err);
}

}  // namespace

int Run(int argc, const char* const* argv, Output& out, Output& err, OpenFn open) {
  const Options options = ParseOptions(argc, argv);
  if (options.error != nullptr) return OptionError(options, err);
  if (options.help) {
    Put(out, kHelpText);
    return 0;
  }
  if (options.version) {
    PutLine(out, kBanner);
    return 0;
  }
  // Records for programs keep standard output to themselves.
  const bool picture = options.mode == OutputMode::kPicture;
  Output& talk = picture ? out : err;
  if (picture) PutLine(out, kBanner);
  const int count = argc - options.firstArgument;
  if (count < 3) {
    if (!picture) {
      Options missing;
      missing.error = kMissingArguments;
      return OptionError(missing, err);
    }
    for (const char* line : kUsage) PutLine(out, line);
    return 1;
  }
  const Arguments args = ParseArguments(count, argv + options.firstArgument);
  Source source;
  const ProbeResult probe = GetAttributes(args.path, open, source);
  int status = ReportProbe(probe, args.path, talk);
  if (status == 0) {
    status = CheckAndScan(options, args, probe.attributes, open, source, out, err, talk);
  } else if (source.error != 0) {
    status = ReadFailed(args.path, source.error, err);
  }
  CloseSource(source);
  return status;
}

}  // namespace ampdots
