#include "cli/run.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "events/clips.h"
#include "events/silence.h"
#include "loudness/meter.h"
#include "picture/bars.h"
#include "report/events.h"
#include "report/loudness.h"
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
constexpr char kFloorFormat[] = "Showing values above %g dB\n";
constexpr char kUnicodeLocale[] = "--unicode needs a UTF-8 locale";
constexpr char kLinesAndResolution[] = "--lines and a RESOLUTION argument cannot be combined";
constexpr char kLoudnessRate[] = "loudness is measured at sample rates from 8000 to 384000 Hz";
constexpr char kDualMonoChannels[] = "--dual-mono is for a file of one channel";
constexpr char kLoudnessFloorFormat[] = "Showing values above %g LUFS\n";
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

void PutPeaks(const ScanPlan& plan, const Peaks& peaks, Output& out);

void PutSummary(const ScanPlan& plan, const Peaks& peaks, Output& out) {
  PutF(out, kThresholdFormat, static_cast<double>(ThresholdDb(plan.magnification)));
  PutPeaks(plan, peaks, out);
}

void PutPeaks(const ScanPlan& plan, const Peaks& peaks, Output& out) {
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

// Records that only feed the summary: they stand alone, writing nothing
// to the run's output.
class NoBlocks final : public BlockSink {
 public:
  explicit NoBlocks(Output& out) : out_(out) {}
  void Block(const BlockRecord&) override {}
  Output* Standalone() override { return &out_; }

 private:
  Output& out_;
};

// Records on to `inner`, and every frame to the finders of silence and
// clips and the loudness meter that the run asks for; each record then
// carries the meter's windows that end with it.
class WithEvents final : public BlockSink {
 public:
  WithEvents(BlockSink& inner, SilenceFinder* silence, ClipFinder* clips, LoudnessMeter* meter)
      : inner_(inner), silence_(silence), clips_(clips), meter_(meter) {}
  void Block(const BlockRecord& block) override {
    if (meter_ == nullptr) {
      inner_.Block(block);
      return;
    }
    BlockRecord measured = block;
    measured.momentary = meter_->Momentary();
    measured.shortTerm = meter_->ShortTerm();
    inner_.Block(measured);
  }
  void Frames(const FrameRun& run) override {
    if (silence_ != nullptr) silence_->Add(run);
    if (clips_ != nullptr) clips_->Add(run);
    if (meter_ != nullptr) meter_->Add(run);
  }
  bool Failed() const override { return inner_.Failed(); }
  // What the finders and the meter take must come in order, through here.
  Output* Standalone() override {
    const bool events = silence_ != nullptr || clips_ != nullptr || meter_ != nullptr;
    return events ? nullptr : inner_.Standalone();
  }
  void Write(const BlockRecord& block, Output& text) const override { inner_.Write(block, text); }

 private:
  BlockSink& inner_;
  SilenceFinder* silence_;
  ClipFinder* clips_;
  LoudnessMeter* meter_;
};

// The finders and meter a run asks for, fed by its scan.
struct Events {
  std::optional<SilenceFinder> silence;
  std::optional<ClipFinder> clips;
  std::optional<LoudnessMeter> meter;
  ChannelWeights weights;

  Events(const Options& options, const ScanPlan& plan, const WavAttributes& wav) {
    if (options.silence) {
      silence.emplace(plan, std::pow(10.0, options.silenceDb / 20.0),
                      StretchFrames(options.silenceSeconds, plan.sampleRate));
    }
    if (options.style.clips) clips.emplace(plan);
    if (MetersLoudness(options)) {
      weights = WeightsFor(plan.channels, wav.channelMask, options.dualMono);
      meter.emplace(plan, weights, plan.vector);
    }
  }
  WithEvents Around(BlockSink& inner) {
    return WithEvents(inner, silence ? &*silence : nullptr, clips ? &*clips : nullptr,
                      meter ? &*meter : nullptr);
  }
  /// The loudness figures where the meter runs and the run prints them.
  std::optional<LoudnessFigures> Loudness(const Options& options) const {
    if (!meter || !options.loudness) return std::nullopt;
    return meter->Figures();
  }
  void Finish() {
    if (silence) silence->Finish();
    if (clips) clips->Finish();
  }
};

// The picture drawn from the scan's records, with the lists of silences
// and clips after it. Returns the exit status.
int DrawFromRecords(const Options& options, const Arguments& args, const WavAttributes& wav,
                    const ScanPlan& linesPlan, const BarStyle& style, Source& source, Output& out,
                    Output& err) {
  ScanPlan plan = linesPlan;
  plan.lineLengths = style.level == BarLevel::kMean;
  BarPicture picture(out, plan, style);
  Events events(options, plan, wav);
  WithEvents sink = events.Around(picture);
  Peaks peaks;
  Stats stats;
  if (plan.endFrame > plan.startFrame) stats = ScanBlocks(source, plan, sink, &peaks);
  if (source.error != 0) return ReadFailed(args.path, source.error, err);
  events.Finish();
  if (events.silence) PutSilenceLines(out, plan, *events.silence);
  if (events.clips) PutClipLines(out, plan, *events.clips);
  if (style.db) {
    PutF(out, IsLoudness(style.level) ? kLoudnessFloorFormat : kFloorFormat, style.floor);
    PutPeaks(plan, peaks, out);
  } else {
    PutSummary(plan, peaks, out);
  }
  if (options.summary) PutStatsTable(out, plan, stats);
  if (const auto loudness = events.Loudness(options)) PutLoudnessLines(out, plan, *loudness);
  return 0;
}

// The columns --width asks for.
std::uint32_t WidthFor(const Fit& width, const Surroundings& around) {
  constexpr std::uint32_t kMost = 10000;
  constexpr std::uint32_t kDefault = 80;
  if (!width.automatic) return width.count;
  if (around.columns > 0) return std::min(around.columns, kMost);
  if (around.columnsVariable != nullptr) {
    char* end = nullptr;
    const long long value = std::strtoll(around.columnsVariable, &end, 10);
    if (end != around.columnsVariable && *end == '\0' && value > 0) {
      return static_cast<std::uint32_t>(std::min<long long>(value, kMost));
    }
  }
  return kDefault;
}

// The lines --lines asks for: with auto, the terminal's rows less those
// the banner, the threshold and peak lines and the table take.
std::uint32_t LinesFor(const Options& options, const Surroundings& around, std::uint32_t channels) {
  constexpr std::uint32_t kDefault = 50;
  if (!options.lines.automatic) return options.lines.count;
  if (around.rows == 0) return kDefault;
  std::uint32_t taken = 3;
  if (options.summary) taken += 8;  // a header and a row per figure
  const std::uint32_t perLine = options.style.split ? channels : 1;
  return std::max<std::uint32_t>(1, (around.rows - std::min(around.rows, taken)) / perLine);
}

// The scan and what follows it, in the mode the options ask for. Returns
// the exit status.
int ScanAndShow(const Options& options, const Arguments& args, const WavAttributes& wav,
                const ScanPlan& plan, Source& source, Output& out, Output& err,
                const Surroundings& around) {
  const bool any = plan.endFrame > plan.startFrame;
  Stats stats;
  if (options.mode == OutputMode::kPicture && DrawsFromRecords(options)) {
    BarStyle style = options.style;
    style.width = WidthFor(options.width, around);
    return DrawFromRecords(options, args, wav, plan, style, source, out, err);
  }
  if (options.mode == OutputMode::kPicture && options.loudness) {
    // The plain picture with the meter beside it: its bars are the records'
    // mean, to the dot.
    return DrawFromRecords(options, args, wav, plan, options.style, source, out, err);
  }
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
  Events events(options, plan, wav);
  if (options.mode == OutputMode::kJson) {
    PutJsonFile(out, RunFacts{args.path, wav, plan, events.meter ? &events.weights : nullptr});
    JsonBlocks blocks(out, plan, options.loudness);
    WithEvents sink = events.Around(blocks);
    if (any) stats = ScanBlocks(source, plan, sink);
    if (source.error != 0) return ReadFailed(args.path, source.error, err);
    events.Finish();
    if (events.silence) PutJsonSilences(out, plan, *events.silence);
    if (events.clips) PutJsonClips(out, plan, *events.clips);
    const std::optional<LoudnessFigures> figures = events.Loudness(options);
    PutJsonSummary(out, plan, stats, figures ? &*figures : nullptr);
    return 0;
  }
  if (options.summary) {
    NoBlocks none(out);
    WithEvents sink = events.Around(none);
    if (any) stats = ScanBlocks(source, plan, sink);
    if (source.error != 0) return ReadFailed(args.path, source.error, err);
    const std::optional<LoudnessFigures> figures = events.Loudness(options);
    PutCsvSummary(out, plan, stats, figures ? &*figures : nullptr);
    return 0;
  }
  PutCsvHeader(out, plan, options.loudness);
  CsvBlocks blocks(out, plan, options.loudness);
  WithEvents sink = events.Around(blocks);
  if (any) ScanBlocks(source, plan, sink);
  if (source.error != 0) return ReadFailed(args.path, source.error, err);
  return 0;
}

// The run once the probe has accepted the file: the interval and layout
// checks, then the scan. Messages go to `talk`. Returns the exit status.
int CheckAndScan(const Options& options, const Arguments& args, const WavAttributes& wav,
                 OpenFn open, Source& source, Output& out, Output& err, Output& talk,
                 const Surroundings& around) {
  const std::uint32_t startFrame = FrameAt(wav.sampleRate, args.start);
  const std::uint32_t stopFrame = FrameAt(wav.sampleRate, args.stop);
  if (startFrame >= stopFrame) {
    PutLine(talk, kBadIntervalMessage);
    return 1;
  }
  const std::uint32_t endFrame = std::min(stopFrame, wav.frameCount);
  std::uint32_t resolution = ChooseResolution(args, wav.sampleRate);
  if (options.lines.count != 0 || options.lines.automatic) {
    // As few frames a line as keep the interval within the lines, however
    // long that makes them.
    const std::uint32_t lines = LinesFor(options, around, std::max<std::uint32_t>(1, wav.channels));
    const std::uint32_t frames = endFrame > startFrame ? endFrame - startFrame : 1;
    resolution = frames / lines + (frames % lines != 0 ? 1 : 0);
  }
  const ScanPlan plan = MakePlan(wav, startFrame, endFrame, resolution, args.magnification);
  // A layout that no decoder reads would only draw a picture of nothing.
  if (plan.decoder == Decoder::kNone) {
    PutLine(talk, kBadFrameMessage);
    return 1;
  }
  if (MetersLoudness(options)) {
    const char* problem = nullptr;
    if (wav.sampleRate < kLowestLoudnessRate || wav.sampleRate > kHighestLoudnessRate) {
      problem = kLoudnessRate;
    } else if (options.dualMono && wav.channels != 1) {
      problem = kDualMonoChannels;
    }
    if (problem != nullptr) {
      Put(err, "ampdots: ");
      PutLine(err, problem);
      return 1;
    }
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
  return ScanAndShow(options, args, wav, plan, source, out, err, around);
}

}  // namespace

bool LocaleIsUtf8(const char* lcAll, const char* lcCtype, const char* lang) {
  const char* const names[] = {lcAll, lcCtype, lang};
  const char* const* set = std::find_if(std::begin(names), std::end(names), [](const char* name) {
    return name != nullptr && name[0] != '\0';
  });
  if (set == std::end(names)) return false;
  const char* name = *set;
  // The codeset follows a dot, before any modifier: "en_US.UTF-8@euro".
  std::string_view codeset(name);
  const std::size_t dot = codeset.find('.');
  if (dot == std::string_view::npos) return false;
  codeset = codeset.substr(dot + 1);
  codeset = codeset.substr(0, codeset.find('@'));
  std::string lower;
  for (const char c : codeset) {
    lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return lower == "utf-8" || lower == "utf8";
}

int Run(int argc, const char* const* argv, Output& out, Output& err, OpenFn open,
        const Surroundings& around) {
  Options options = ParseOptions(argc, argv);
  if (options.error == nullptr && options.style.unicode && !around.utf8) {
    options.error = kUnicodeLocale;
  }
  if (options.error == nullptr && (options.lines.count != 0 || options.lines.automatic) &&
      argc - options.firstArgument >= 4) {
    options.error = kLinesAndResolution;
  }
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
    status = CheckAndScan(options, args, probe.attributes, open, source, out, err, talk, around);
  } else if (source.error != 0) {
    status = ReadFailed(args.path, source.error, err);
  }
  CloseSource(source);
  return status;
}

}  // namespace ampdots
