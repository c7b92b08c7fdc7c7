#include "cli/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

namespace ampdots {

const char* const kHelpText =
    "Usage: ampdots [OPTION]... FILE START STOP [RESOLUTION [MAGNIFICATION]]\n"
    "Print a text picture of the loudness of a WAV file between START and STOP\n"
    "seconds: a line per RESOLUTION frames (default: a twentieth of a second),\n"
    "its bar as long as the line's mean magnitude times MAGNIFICATION (default 1),\n"
    "then the threshold and peak lines. FILE '-' is standard input.\n"
    "\n"
    "Picture:\n"
    "  --level=mean|peak|rms|momentary|short-term  what a bar measures (default\n"
    "             mean; rms with --db or --split): the line's mean magnitude, its\n"
    "             peak or RMS, or its loudness over 400 ms or 3 s (in LUFS, as\n"
    "             with --db)\n"
    "  --db[=FLOOR]  a dot per dB above FLOOR dBFS (default -60, from -200 to -1),\n"
    "             times MAGNIFICATION\n"
    "  --width=COLUMNS|auto  full scale fills the line to COLUMNS; a bar past it\n"
    "             ends in '>' (auto: the terminal, else $COLUMNS, else 80)\n"
    "  --lines=N|auto  at most N lines for the interval, however long they are\n"
    "             (auto: the terminal's height, else 50); no RESOLUTION with it\n"
    "  --split    a line per channel, its number after the time\n"
    "  --unicode  bars of eighth blocks (in a UTF-8 locale)\n"
    "  --silence[=DB[:SECONDS]]  after the picture, every stretch of at least\n"
    "             SECONDS (default 2) with every channel at or below DB dBFS\n"
    "             (default -60)\n"
    "  --clips    a bar with a clipped sample ends in '!'; after the picture,\n"
    "             the first 20 runs of clipped samples and their count\n"
    "\n"
    "Loudness (ITU-R BS.1770, EBU R128):\n"
    "  --loudness  after the picture, integrated loudness, loudness range,\n"
    "             maximum momentary and short-term loudness and true peak; with\n"
    "             --json and --csv, in the records\n"
    "  --dual-mono  a mono file's loudness counted as two channels (+3.01 dB)\n"
    "\n"
    "Numbers:\n"
    "  --summary  after the picture, a table of each channel's peak and its time,\n"
    "             RMS, crest factor, DC offset and clipped samples; with --csv,\n"
    "             that table as CSV instead of a row per line\n"
    "  --json     JSON Lines instead of the picture: a file record, a block record\n"
    "             per line of the picture, silence and clip records with those\n"
    "             options, a summary record\n"
    "  --csv      CSV instead of the picture: a header row, then a row per line\n"
    "  --help     print this help and exit\n"
    "  --version  print the version line and exit\n"
    "  --         end of the options (for a FILE whose name starts with --)\n"
    "\n"
    "With --json and --csv, standard output holds the data alone; every message\n"
    "goes to standard error. Exit status: 0 done, 1 usage or argument error,\n"
    "2 file error.\n";

namespace {

constexpr char kUnknown[] = "unrecognized option";
constexpr char kNoValue[] = "this option takes no value:";
constexpr char kNeedsValue[] = "this option needs a value:";
constexpr char kBadValue[] = "invalid value:";
constexpr char kJsonAndCsv[] = "--json and --csv cannot be combined";
constexpr char kPictureOnly[] = "this option shapes the picture, not --json or --csv:";
constexpr char kNotCsv[] = "this option cannot be combined with --csv:";
constexpr char kMeanSplit[] = "--level=mean cannot be split by channel";
constexpr char kLoudnessSplit[] = "a loudness is of all channels together: it cannot be split:";
constexpr char kDualMonoAlone[] =
    "--dual-mono weighs loudness: it needs --loudness or a loudness --level";

constexpr double kLowestFloor = -200.0;
constexpr double kHighestFloor = -1.0;
constexpr std::uint32_t kFewestColumns = 20;
constexpr std::uint32_t kMostColumns = 10000;
constexpr double kLongestSilence = 1e7;  // seconds: more than any 32-bit interval

// `text` as a whole decimal number, nothing else around it.
bool ReadNumber(std::string_view text, double& value) {
  if (text.empty() || text.size() > 64) return false;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  value = std::strtod(copy.c_str(), &end);
  return end == copy.c_str() + copy.size() && errno == 0 && std::isfinite(value);
}

// A count from `lowest` to `highest`, or "auto".
bool ReadFit(std::string_view text, std::uint32_t lowest, std::uint32_t highest, Fit& fit) {
  if (text == "auto") {
    fit.automatic = true;
    return true;
  }
  double value = 0;
  if (text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  if (!ReadNumber(text, value) || value < lowest || value > highest) return false;
  fit.count = static_cast<std::uint32_t>(value);
  return true;
}

// DB[:SECONDS]
bool ReadSilence(std::string_view text, Options& options) {
  const std::size_t colon = text.find(':');
  if (!ReadNumber(text.substr(0, colon), options.silenceDb)) return false;
  if (options.silenceDb < kLowestFloor || options.silenceDb > 0.0) return false;
  if (colon == std::string_view::npos) return true;
  return ReadNumber(text.substr(colon + 1), options.silenceSeconds) &&
         options.silenceSeconds > 0.0 && options.silenceSeconds <= kLongestSilence;
}

enum class Valued { kNever, kMaybe, kAlways };

struct OptionInfo {
  std::string_view name;
  Valued value;
  bool pictureOnly;  ///< shapes the bars, so means nothing to --json or --csv
  bool notCsv;       ///< adds records CSV has no place for
};

constexpr OptionInfo kOptions[] = {
    {"--summary", Valued::kNever, false, false},   {"--json", Valued::kNever, false, false},
    {"--csv", Valued::kNever, false, false},       {"--help", Valued::kNever, false, false},
    {"--version", Valued::kNever, false, false},   {"--level", Valued::kAlways, true, true},
    {"--db", Valued::kMaybe, true, true},          {"--width", Valued::kAlways, true, true},
    {"--lines", Valued::kAlways, false, false},    {"--split", Valued::kNever, true, true},
    {"--unicode", Valued::kNever, true, true},     {"--silence", Valued::kMaybe, false, true},
    {"--clips", Valued::kNever, false, true},      {"--loudness", Valued::kNever, false, false},
    {"--dual-mono", Valued::kNever, false, false},
};

// Sets option `name` from `value` (present or not, as its entry allows).
// False when the value is not one it takes.
bool SetOption(std::string_view name, bool hasValue, std::string_view value, Options& options,
               bool& levelGiven) {
  BarStyle& style = options.style;
  if (name == "--summary") {
    options.summary = true;
  } else if (name == "--json") {
    options.mode = OutputMode::kJson;
  } else if (name == "--csv") {
    options.mode = OutputMode::kCsv;
  } else if (name == "--help") {
    options.help = true;
  } else if (name == "--version") {
    options.version = true;
  } else if (name == "--level") {
    levelGiven = true;
    if (value == "mean") {
      style.level = BarLevel::kMean;
    } else if (value == "peak") {
      style.level = BarLevel::kPeak;
    } else if (value == "rms") {
      style.level = BarLevel::kRms;
    } else if (value == "momentary") {
      style.level = BarLevel::kMomentary;
    } else if (value == "short-term") {
      style.level = BarLevel::kShortTerm;
    } else {
      return false;
    }
  } else if (name == "--db") {
    style.db = true;
    if (hasValue) {
      return ReadNumber(value, style.floor) && style.floor >= kLowestFloor &&
             style.floor <= kHighestFloor;
    }
  } else if (name == "--width") {
    return ReadFit(value, kFewestColumns, kMostColumns, options.width);
  } else if (name == "--lines") {
    return ReadFit(value, 1, UINT32_MAX, options.lines);
  } else if (name == "--split") {
    style.split = true;
  } else if (name == "--unicode") {
    style.unicode = true;
  } else if (name == "--silence") {
    options.silence = true;
    if (hasValue) return ReadSilence(value, options);
  } else if (name == "--clips") {
    style.clips = true;
  } else if (name == "--loudness") {
    options.loudness = true;
  } else if (name == "--dual-mono") {
    options.dualMono = true;
  }
  return true;
}

Options Failed(Options options, const char* error, const char* word) {
  options.error = error;
  options.errorWord = word;
  return options;
}

}  // namespace

bool DrawsFromRecords(const Options& options) {
  const BarStyle& style = options.style;
  return style.level != BarLevel::kMean || style.db || options.width.count != 0 ||
         options.width.automatic || style.split || style.unicode || options.silence ||
         style.clips || options.lines.count != 0 || options.lines.automatic;
}

bool MetersLoudness(const Options& options) {
  return options.loudness || IsLoudness(options.style.level);
}

Options ParseOptions(int argc, const char* const* argv) {
  Options options;
  bool json = false;
  bool csv = false;
  bool levelGiven = false;
  const char* pictureOnly = nullptr;  // the first option that only the picture takes
  const char* notCsv = nullptr;       // the first option that CSV cannot carry
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") {
      ++i;
      break;
    }
    if (word.substr(0, 2) != "--") break;
    const std::size_t equals = word.find('=');
    const std::string_view name = word.substr(0, equals);
    const OptionInfo* info =
        std::find_if(std::begin(kOptions), std::end(kOptions),
                     [&](const OptionInfo& known) { return known.name == name; });
    if (info == std::end(kOptions)) return Failed(options, kUnknown, argv[i]);
    const bool hasValue = equals != std::string_view::npos;
    if (hasValue && info->value == Valued::kNever) return Failed(options, kNoValue, argv[i]);
    if (!hasValue && info->value == Valued::kAlways) return Failed(options, kNeedsValue, argv[i]);
    const std::string_view value = hasValue ? word.substr(equals + 1) : std::string_view{};
    if (!SetOption(name, hasValue, value, options, levelGiven)) {
      return Failed(options, kBadValue, argv[i]);
    }
    json = json || name == "--json";
    csv = csv || name == "--csv";
    if (info->pictureOnly && pictureOnly == nullptr) pictureOnly = argv[i];
    if (info->notCsv && notCsv == nullptr) notCsv = argv[i];
  }
  options.firstArgument = i;
  if (json && csv) return Failed(options, kJsonAndCsv, "");
  if ((json || csv) && pictureOnly != nullptr) return Failed(options, kPictureOnly, pictureOnly);
  if (csv && notCsv != nullptr) return Failed(options, kNotCsv, notCsv);
  BarStyle& style = options.style;
  if (!levelGiven && (style.db || style.split)) style.level = BarLevel::kRms;
  if (style.split && style.level == BarLevel::kMean) return Failed(options, kMeanSplit, "");
  // A loudness is drawn in its own unit, LUFS, as dots above the floor.
  if (IsLoudness(style.level)) {
    if (style.split) return Failed(options, kLoudnessSplit, "--split");
    style.db = true;
  }
  if (options.dualMono && !MetersLoudness(options)) return Failed(options, kDualMonoAlone, "");
  return options;
}

}  // namespace ampdots
