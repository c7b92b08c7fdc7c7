// The scan's inner loops over runs of whole frames. They give exactly what
// the per-sample decoders give, summed in an order-free form where that is
// exact (PCM) and in the original order where it is not (float).
#ifndef AMPDOTS_SCAN_KERNELS_H_
#define AMPDOTS_SCAN_KERNELS_H_

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "io/bytes.h"
#include "scan/decode.h"
#include "scan/plan.h"

namespace ampdots {

/// PCM line sums and peaks in units of the format's lowest bit (2^-8 of a
/// level for 16-bit and the one-byte formats, 2^-16 for 24-bit, 2^-24 for
/// 32-bit). Every contribution is such a multiple and at most 128 in
/// magnitude, so the double sum of a line is exact while its magnitude stays
/// below 2^53 units, and equals this integer sum.
struct PcmTotals {
  std::int64_t sum = 0;
  std::uint32_t max[kMaxChannels] = {};  ///< largest |sample| of each channel
};

/// A little-endian 16-bit, 24-bit or 32-bit sample's signed value.
inline std::int32_t Pcm16Value(const std::uint8_t* b) {
  return static_cast<std::int16_t>(Assem2(b));
}

inline std::int32_t Pcm24Value(const std::uint8_t* b) {
  return static_cast<std::int32_t>(Assem3(b) << 8) >> 8;  // sign-extend from bit 23
}

inline std::int32_t Pcm32Value(const std::uint8_t* b) {
  return static_cast<std::int32_t>(Assem4(b));
}

/// One-byte samples as the 16-bit values they stand for: unsigned 8-bit
/// PCM's offset from 128 times 256, and the G.711 expansions.
using ByteValues = std::array<std::int16_t, 256>;
template <std::int32_t (*kExpand)(std::uint8_t)>
constexpr ByteValues MakeByteValues() {
  ByteValues values{};
  for (std::size_t b = 0; b < 256; ++b) {
    values[b] = static_cast<std::int16_t>(kExpand(static_cast<std::uint8_t>(b)));
  }
  return values;
}
constexpr std::int32_t Pcm8Expand(std::uint8_t b) { return (b - 128) * 256; }
inline constexpr ByteValues kPcm8Values = MakeByteValues<Pcm8Expand>();
inline constexpr ByteValues kMuLawValues = MakeByteValues<MuLawValue>();
inline constexpr ByteValues kALawValues = MakeByteValues<ALawValue>();

/// A PCM sample layout: its width, the value of its lowest top-byte bit
/// (2^(bits - 8), which is also the number of lowest bits to one level) and
/// how its value is read.
template <std::size_t kBytes, std::int32_t kTopByteBit, std::int32_t (*kRead)(const std::uint8_t*)>
struct PcmLayout {
  static constexpr std::size_t kWidth = kBytes;
  static constexpr std::int32_t kTopByteOne = kTopByteBit;
  static std::int32_t Value(const std::uint8_t* b) { return kRead(b); }
};
template <const ByteValues& kValues>
inline std::int32_t ByteValue(const std::uint8_t* b) {
  return kValues[b[0]];
}
/// A one-byte layout, whose table of values the vector loops read too.
template <const ByteValues& kTable>
struct ByteLayout : PcmLayout<1, 256, ByteValue<kTable>> {
  static constexpr const ByteValues& kValues = kTable;
};
using Pcm8Layout = ByteLayout<kPcm8Values>;
using MuLawLayout = ByteLayout<kMuLawValues>;
using ALawLayout = ByteLayout<kALawValues>;
using Pcm16Layout = PcmLayout<2, 256, Pcm16Value>;
using Pcm24Layout = PcmLayout<3, 65536, Pcm24Value>;
using Pcm32Layout = PcmLayout<4, (1 << 24), Pcm32Value>;

/// A PCM contribution is signed by the top byte: added when it is above 0
/// (value >= kTopByteOne, 2^(bits - 8)), subtracted otherwise. 32-bit
/// values are negated in 64 bits, where -2^31 has a positive counterpart.
template <std::int32_t kTopByteOne>
inline auto PcmContribution(std::int32_t v) {
  if constexpr (kTopByteOne > 65536) {
    const std::int64_t wide = v;
    return wide >= kTopByteOne ? wide : -wide;
  } else {
    return v >= kTopByteOne ? v : -v;
  }
}

inline std::uint32_t PcmMagnitude(std::int32_t v) {
  return v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
}

/// One sample into the line sum and its channel's peak.
template <std::int32_t kTopByteOne>
inline void AddPcmSample(std::int32_t v, std::size_t channel, PcmTotals& totals) {
  totals.sum += PcmContribution<kTopByteOne>(v);
  totals.max[channel] = std::max(totals.max[channel], PcmMagnitude(v));
}

/// Adds `samples` channel-interleaved samples starting with a mono or left
/// one (`stereo` says whether they alternate left and right), in the vector
/// loop where `vector` asks for it and the processor has one.
void AccumulatePcm16(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                     bool vector);
void AccumulatePcm24(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                     bool vector);
void AccumulatePcm32(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                     bool vector);
/// One-byte samples, each standing for the 16-bit value of its table.
void AccumulatePcm8(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                    bool vector);
void AccumulateMuLaw(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                     bool vector);
void AccumulateALaw(const std::uint8_t* bytes, std::size_t samples, bool stereo, PcmTotals& totals,
                    bool vector);
/// Whole lines of `perLine` mono or stereo samples of a PCM format, one
/// after another: each line's sum into `sums` (as the format's loop above
/// gives it for the line alone), each channel's peak into `totals`, whose
/// sum is left as it was.
void PcmLineSums(Decoder decoder, const std::uint8_t* bytes, std::size_t lines, std::size_t perLine,
                 bool stereo, std::int64_t* sums, PcmTotals& totals, bool vector);

/// Float samples: each level's magnitude, which is both its contribution
/// and what its peak keeps, written to `magnitudes`; the largest magnitude
/// of each channel is kept as its level's bit pattern less the sign, whose
/// order as an integer is the order of the magnitudes.
struct FloatPeaks {
  std::int64_t max[kMaxChannels] = {-1, -1, -1, -1, -1, -1, -1, -1};  ///< -1: none seen yet
};
void FloatMagnitudes(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                     double* magnitudes, FloatPeaks& peaks, bool vector);

/// Whole lines of 32-bit float samples, `perLine` samples each, one after
/// another: each line's sum of magnitudes into `sums`, added sample by
/// sample in order (so the same double as adding what FloatMagnitudes
/// writes), and the peaks, with no magnitude ever stored.
void FloatLineSums(const std::uint8_t* bytes, std::size_t lines, std::size_t perLine, bool stereo,
                   double* sums, FloatPeaks& peaks, bool vector);

/// The same for 64-bit float lines: each line's sum of |128 x value|, in
/// order, and the peaks as Float64Magnitudes keeps them.
void Float64LineSums(const std::uint8_t* bytes, std::size_t lines, std::size_t perLine, bool stereo,
                     double* sums, FloatPeaks& peaks, bool vector);

/// 64-bit float samples: each level's magnitude, |128 x value|, into
/// `magnitudes` (not-a-number stays not-a-number); the largest of each
/// channel, not-a-numbers aside, kept as its bit pattern.
void Float64Magnitudes(const std::uint8_t* bytes, std::size_t samples, bool stereo,
                       double* magnitudes, FloatPeaks& peaks, bool vector);

/// The magnitude of a 64-bit float sample's level, |128 x value|.
inline double Float64Magnitude(const std::uint8_t* b) { return std::fabs(DecodeFloat64(b).level); }

/// The magnitude bits of a 64-bit float sample's level, or -1 for a
/// not-a-number, which is never a peak.
inline std::int64_t Float64PeakBits(const std::uint8_t* b) {
  const double magnitude = Float64Magnitude(b);
  return magnitude == magnitude ? std::bit_cast<std::int64_t>(magnitude) : -1;
}

/// Frames of 3 to kMaxChannels channels of a PCM layout: their line sum
/// and each channel's peak.
void AccumulateChannels(Decoder decoder, const std::uint8_t* bytes, std::size_t frames,
                        std::uint32_t channels, PcmTotals& totals, bool vector);

/// The peaks of each of `channels` (3 to kMaxChannels) channels of float
/// frames, whose magnitudes the float loops give as if mono.
void FloatChannelPeaks(Decoder decoder, const std::uint8_t* bytes, std::size_t frames,
                       std::uint32_t channels, FloatPeaks& peaks);

/// Whether this processor has the vector loops. Each loop above takes
/// `vector`, the plan's choice: the vector loop where it is true and the
/// processor has one, else the portable one.
bool VectorLoopsAvailable();

/// The level magnitude of a float sample given its bits less the sign:
/// 128 x (1 + f) x 2^(e - 127), the leading 1 kept for every exponent, zero
/// and 255 included, so the double's exponent is e - 120 (biased by 1023).
inline double FloatMagnitudeLevel(std::uint32_t magnitudeBits) {
  constexpr std::uint64_t kExponentShift = std::uint64_t{1023 - 120} << 52;
  return std::bit_cast<double>((std::uint64_t{magnitudeBits} << 29) + kExponentShift);
}

}  // namespace ampdots

#endif  // AMPDOTS_SCAN_KERNELS_H_
