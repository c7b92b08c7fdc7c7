// The command-line driver: argument rules and the run sequence, kept apart
// from the process so that tests and fuzzers can run it with any file and
// read what it printed and the status it ends with.
#ifndef AMPDOTS_CLI_RUN_H_
#define AMPDOTS_CLI_RUN_H_

#include <cstdint>

#include "io/output.h"
#include "io/source.h"

namespace ampdots {

inline constexpr char kBanner[] = "Ampdots 1.01 by Velbrand";
inline constexpr char kBadIntervalMessage[] = "Stop or start time not set correctly";
inline constexpr char kBadFrameMessage[] = "Unrecognized bit or channel configuration";

/// The arguments after the program name, converted.
struct Arguments {
  const char* path = nullptr;
  float start = 0.0f;
  float stop = 0.0f;
  bool hasResolution = false;
  std::uint32_t resolution = 0;  ///< as given; see ChooseResolution
  float magnification = 1.0f;    ///< already checked by ChooseMagnification
};

/// Decimal text to double as strtod reads it (text that is no number reads
/// 0), then to single precision, past whose range a value becomes infinite.
float ParseSeconds(const char* text);

/// Base-10 integer text as strtoll reads it (saturating at the 64-bit
/// limits), kept modulo 2^32 as unsigned: "-1" is 4294967295, and
/// "-4294967295" is 1.
std::uint32_t ParseResolution(const char* text);

/// Magnification from its text: a value at or below 0, or above 256, is 1.
/// Above 256 means 1, not 256. Not-a-number passes both tests and stays.
float ChooseMagnification(const char* text);

/// Converts `count` (at least three) arguments after the program name.
Arguments ParseArguments(int count, const char* const* args);

/// The frame at `seconds`: the product is formed in single precision and
/// truncated; negative or not-a-number gives 0, past 2^32 - 1 saturates.
std::uint32_t FrameAt(std::uint32_t sampleRate, float seconds);

/// Frames per line: the requested value unless it is absent, 0 or above the
/// sample rate; else a twentieth of a second.
std::uint32_t ChooseResolution(const Arguments& args, std::uint32_t sampleRate);

/// The dB value below which bars are empty: -20 log10(256 x magnification).
float ThresholdDb(float magnification);

/// A peak level in dB against full scale 128; a peak of 0 is minus infinity.
float PeakDb(double peak);

/// What the run may learn of where it prints, for the options that fit the
/// picture to it.
struct Surroundings {
  std::uint32_t columns = 0;  ///< of the terminal on standard output; 0: none
  std::uint32_t rows = 0;
  const char* columnsVariable = nullptr;  ///< $COLUMNS
  bool utf8 = false;                      ///< the locale's characters are UTF-8
};

/// Whether the locale the variables name has UTF-8 characters: the first
/// of LC_ALL, LC_CTYPE and LANG that is set and not empty decides.
bool LocaleIsUtf8(const char* lcAll, const char* lcCtype, const char* lang);

/// The whole run for `argc`/`argv` as main gets them. Prints to `out`, and
/// to `err` what does not belong in the picture: that the options are
/// wrong, that the file could not be read to its end, and, when records for
/// programs are asked for, every message. Returns the exit status: 0 done,
/// 1 usage or argument error, 2 file error.
int Run(int argc, const char* const* argv, Output& out, Output& err, OpenFn open,
        const Surroundings& around = {});

}  // namespace ampdots

#endif  // AMPDOTS_CLI_RUN_H_
