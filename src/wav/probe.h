// The WAV header probe. It walks the RIFF chunks to the "fmt " and "data"
// chunks; where the chunks cannot be walked (no RIFF header, sizes that run
// past the end, data before the format), it looks for the "fmt" and "data"
// tags at even offsets near the start of the file instead. Either way it
// reads the fields at fixed distances from them.
#ifndef AMPDOTS_WAV_PROBE_H_
#define AMPDOTS_WAV_PROBE_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "io/source.h"

namespace ampdots {

/// Tags are looked for at the even offsets 2 to this one.
inline constexpr std::uint32_t kLastTagCandidate = 15000;
/// The farthest field read from a format tag: the sub-format code at +32.
inline constexpr std::uint32_t kFormatFieldsEnd = 34;
/// The search and every field read from it lie in the first kHeadBytes.
inline constexpr std::size_t kHeadBytes = kLastTagCandidate + kFormatFieldsEnd;
static_assert(kHeadBytes <= kStreamHeadBytes, "a stream must keep the whole head");

/// The format code of a header whose real code is its sub-format's.
inline constexpr std::uint32_t kFormatExtensible = 0xFFFE;

struct WavAttributes {
  std::uint32_t sampleRate = 0;
  std::uint32_t bytesPerSample = 0;  ///< of one channel's sample, in its container
  /// Bits of a sample that carry it, from the top of its container: the
  /// extensible header's valid bits, else its bits per sample; never more
  /// than the container holds.
  std::uint32_t validBits = 0;
  std::uint32_t channels = 0;
  std::uint32_t formatCode = 0;  ///< the sub-format's code for an extensible header
  /// Speaker positions of an extensible header's channels, one bit each in
  /// the channels' order; 0 where the header gives none.
  std::uint32_t channelMask = 0;
  std::uint64_t dataOffset = 0;  ///< file offset of the first frame
  std::uint32_t frameCount = 0;  ///< whole frames present (declared, for a stream)
};

enum class ProbeStatus {
  kOk,
  kNoFile,          ///< the path could not be opened
  kNoDataTag,       ///< no "data" tag among the candidates, or a stream's walk failed
  kZeroWidthFrame,  ///< channels x bytesPerSample is 0: no frame to count
  kReadError,       ///< a read of the header failed; the source holds its error
};

struct ProbeResult {
  ProbeStatus status = ProbeStatus::kOk;
  bool formatTagMissing = false;  ///< the tag search ran and found no "fmt"
  WavAttributes attributes;
};

/// Probes `source` from its first byte. A regular file or memory is read at
/// the offsets the header calls for; a stream is read forward only, and is
/// left where the probe stopped, so that the scan can go on from there.
ProbeResult ProbeSource(Source& source);

/// Opens `path` into `source` and probes it. It decides and never prints:
/// the caller reports what the result says. The source is left open,
/// whatever the outcome, for the caller to close; after a read error
/// `source.error` tells the error.
ProbeResult GetAttributes(const char* path, OpenFn open, Source& source);

}  // namespace ampdots

#endif  // AMPDOTS_WAV_PROBE_H_
