// Every sample format the scan reads, described once: how its samples are
// read and decoded, what the lowest bit of its kernels' integers is worth,
// which loops add it up, what records call it. One specialization per
// format, and one switch (VisitFormat) that turns a plan's decoder into it:
// a new format is a row here and its loops, not a case in every file.
#ifndef AMPDOTS_SCAN_SAMPLE_FORMATS_H_
#define AMPDOTS_SCAN_SAMPLE_FORMATS_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "io/bytes.h"
#include "scan/decode.h"
#include "scan/kernels.h"
#include "scan/plan.h"

namespace ampdots {

/// Float samples as stored, for the figures (the picture's levels come
/// from the decoders instead).
struct Float32Sample {
  using Value = float;
  static constexpr std::size_t kWidth = 4;
  static float Read(const std::uint8_t* b) { return std::bit_cast<float>(Assem4(b)); }
};

struct Float64Sample {
  using Value = double;
  static constexpr std::size_t kWidth = 8;
  static double Read(const std::uint8_t* b) { return std::bit_cast<double>(Assem8(b)); }
};

using PcmAccumulate = void (*)(const std::uint8_t*, std::size_t, bool, PcmTotals&, bool);
using FloatMagnitudesLoop = void (*)(const std::uint8_t*, std::size_t, bool, double*, FloatPeaks&,
                                     bool);

/// An integer format: `Layout` reads its values (one-byte formats as the
/// 16-bit values they stand for); `kMaxRows` rows of lanes keep each `Sum`
/// lane of the picture's loops in range; `kExpand`, for G.711, gives each
/// code's 16-bit value, whose largest magnitudes are its rails.
template <typename L, std::string_view const& kN, Level (*kD)(const std::uint8_t*),
          PcmAccumulate kA, std::size_t kRows, typename S = std::int32_t,
          std::int32_t (*kE)(std::uint8_t) = nullptr, bool kC = false>
struct IntegerFormat {
  using Layout = L;
  using Sum = S;
  static constexpr bool kFloat = false;
  static constexpr std::string_view kName = kN;
  static constexpr auto kDecode = kD;
  static constexpr auto kAccumulate = kA;
  static constexpr std::size_t kMaxRows = kRows;
  static constexpr auto kExpand = kE;
  /// G.711: rails at the largest expansions (said apart from kExpand, since
  /// a function's address is no constant for every build).
  static constexpr bool kCompanded = kC;
  /// A level per lowest bit: a power of two, so multiplying by it is exact.
  static constexpr double kUnit = 1.0 / L::kTopByteOne;
  /// Lines of fewer samples than this keep a double sum of lowest bits
  /// below 2^53, so exact: a sample is at most 2^(bits - 1) of them.
  static constexpr std::uint64_t kExactLineSamples =
      (std::uint64_t{1} << 53) / (std::uint64_t{128} * L::kTopByteOne);
};

/// A float format: `kMagnitudes` gives each sample's level magnitude and
/// keeps each channel's largest as bits, which `kPeakLevel` turns back
/// into a level.
template <typename Sm, Level (*kD)(const std::uint8_t*), FloatMagnitudesLoop kM,
          double (*kP)(std::int64_t)>
struct FloatFormat {
  using Sample = Sm;
  static constexpr bool kFloat = true;
  static constexpr std::string_view kName = "float";
  static constexpr auto kDecode = kD;
  static constexpr auto kMagnitudes = kM;
  static constexpr auto kPeakLevel = kP;
};

inline double Float32PeakLevel(std::int64_t bits) {
  return FloatMagnitudeLevel(static_cast<std::uint32_t>(bits));
}
inline double Float64PeakLevel(std::int64_t bits) { return std::bit_cast<double>(bits); }

inline constexpr std::string_view kPcmName = "pcm";
inline constexpr std::string_view kMuLawName = "mulaw";
inline constexpr std::string_view kALawName = "alaw";

// The formats. |contribution| <= 2^15 for 16-bit values: 32767 rows stay
// below 2^31 in 32-bit lanes; 2^23 for 24-bit: 255 rows; 32-bit values are
// summed in 64-bit lanes, with no row limit in reach.
using Pcm8Format = IntegerFormat<Pcm8Layout, kPcmName, DecodePcm8, AccumulatePcm8, 32767>;
using MuLawFormat = IntegerFormat<MuLawLayout, kMuLawName, DecodeMuLaw, AccumulateMuLaw, 32767,
                                  std::int32_t, MuLawValue, true>;
using ALawFormat = IntegerFormat<ALawLayout, kALawName, DecodeALaw, AccumulateALaw, 32767,
                                 std::int32_t, ALawValue, true>;
using Pcm16Format = IntegerFormat<Pcm16Layout, kPcmName, DecodePcm16, AccumulatePcm16, 32767>;
using Pcm24Format = IntegerFormat<Pcm24Layout, kPcmName, DecodePcm24, AccumulatePcm24, 255>;
using Pcm32Format =
    IntegerFormat<Pcm32Layout, kPcmName, DecodePcm32, AccumulatePcm32, SIZE_MAX, std::int64_t>;
using Float32Format = FloatFormat<Float32Sample, DecodeFloat32, FloatMagnitudes, Float32PeakLevel>;
using Float64Format =
    FloatFormat<Float64Sample, DecodeFloat64, Float64Magnitudes, Float64PeakLevel>;

/// Calls `visit` with the format of `decoder` (a value of one of the types
/// above) and returns what it returns; for no decoder, which no scan is
/// given, a value-initialized result.
template <typename Visitor>
auto VisitFormat(Decoder decoder, Visitor&& visit) {
  switch (decoder) {
    case Decoder::kPcm8:
      return visit(Pcm8Format{});
    case Decoder::kMuLaw:
      return visit(MuLawFormat{});
    case Decoder::kALaw:
      return visit(ALawFormat{});
    case Decoder::kPcm16:
      return visit(Pcm16Format{});
    case Decoder::kPcm24:
      return visit(Pcm24Format{});
    case Decoder::kPcm32:
      return visit(Pcm32Format{});
    case Decoder::kFloat32:
      return visit(Float32Format{});
    case Decoder::kFloat64:
      return visit(Float64Format{});
    case Decoder::kNone:
      break;
  }
  using Result = decltype(visit(Pcm16Format{}));
  if constexpr (std::is_void_v<Result>) {
    return;
  } else {
    return Result{};
  }
}

/// Whether `decoder` reads float samples.
inline bool IsFloat(Decoder decoder) {
  return VisitFormat(decoder, [](auto format) { return decltype(format)::kFloat; });
}

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_SAMPLE_FORMATS_H_
