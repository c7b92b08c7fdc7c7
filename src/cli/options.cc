#include "cli/options.h"

#include <string_view>

namespace ampdots {

const char* const kHelpText =
    "Usage: ampdots [OPTION]... FILE START STOP [RESOLUTION [MAGNIFICATION]]\n"
    "Print a text picture of the loudness of a WAV file between START and STOP\n"
    "seconds: a line per RESOLUTION frames (default: a twentieth of a second),\n"
    "its bar as long as the line's mean magnitude times MAGNIFICATION (default 1),\n"
    "then the threshold and peak lines. FILE '-' is standard input.\n"
    "\n"
    "  --summary  after the picture, a table of each channel's peak and its time,\n"
    "             RMS, crest factor, DC offset and clipped samples; with --csv,\n"
    "             that table as CSV instead of a row per line\n"
    "  --json     JSON Lines instead of the picture: a file record, a block record\n"
    "             per line of the picture, a summary record\n"
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
constexpr char kJsonAndCsv[] = "--json and --csv cannot be combined";

// Sets the option `name`; false when there is none by that name.
bool SetOption(std::string_view name, Options& options) {
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
  } else {
    return false;
  }
  return true;
}

}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
  Options options;
  bool json = false;
  bool csv = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") {
      ++i;
      break;
    }
    if (word.substr(0, 2) != "--") break;
    const std::string_view name = word.substr(0, word.find('='));
    if (!SetOption(name, options)) {
      options.error = kUnknown;
      options.errorWord = argv[i];
      return options;
    }
    if (name.size() != word.size()) {
      options.error = kNoValue;
      options.errorWord = argv[i];
      return options;
    }
    json = json || name == "--json";
    csv = csv || name == "--csv";
  }
  options.firstArgument = i;
  if (json && csv) options.error = kJsonAndCsv;
  return options;
}

}  // namespace ampdots
