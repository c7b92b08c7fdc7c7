// The options that come before FILE, parsed into one plain struct before
// anything else runs; the run never looks at them as text again.
#ifndef AMPDOTS_CLI_OPTIONS_H_
#define AMPDOTS_CLI_OPTIONS_H_

#include <cstdint>

#include "picture/bars.h"

namespace ampdots {

/// What standard output carries: the picture (with its banner, messages
/// and summary lines), or records for programs, with every message on
/// standard error.
enum class OutputMode { kPicture, kJson, kCsv };

/// A count the terminal may decide: a number, or "auto".
struct Fit {
  std::uint32_t count = 0;  ///< 0: not asked for
  bool automatic = false;
};

struct Options {
  OutputMode mode = OutputMode::kPicture;
  bool summary = false;  ///< the statistics table; with --csv, rows per channel
  bool help = false;
  bool version = false;

  // The picture's bars. `style.level` is rms where --db or --split is
  // given without --level; `style.clips` also lists the clipped runs.
  BarStyle style;
  Fit width;  ///< --width: columns
  Fit lines;  ///< --lines: lines for the whole interval

  bool loudness = false;  ///< the loudness figures after the picture, or in the records
  bool dualMono = false;  ///< a mono file's loudness counted as two channels

  bool silence = false;
  double silenceDb = -60.0;
  double silenceSeconds = 2.0;

  int firstArgument = 1;  ///< argv index of FILE: the first word after the options
  /// Set when the options cannot be run: what is wrong, and the word it is
  /// about (may be empty).
  const char* error = nullptr;
  const char* errorWord = "";
};

/// Whether the run draws its picture from records (any option that shapes
/// the bars or lists events) rather than as the plain scan.
bool DrawsFromRecords(const Options& options);

/// Whether the run needs a loudness meter beside the scan.
bool MetersLoudness(const Options& options);

/// Reads argv[1] on: each word that starts with "--" is an option, "--"
/// alone ends them, and the first other word is FILE.
Options ParseOptions(int argc, const char* const* argv);

/// The text --help prints.
extern const char* const kHelpText;

}  // namespace ampdots

#endif  // AMPDOTS_CLI_OPTIONS_H_
