// The WAV header probe. It does not walk the RIFF chunks: it looks for the
// "fmt" and "data" tags at even offsets near the start of the file and reads
// the fields at fixed distances from them.
#ifndef AMPDOTS_WAV_PROBE_H_
#define AMPDOTS_WAV_PROBE_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "io/output.h"
#include "io/source.h"

namespace ampdots {

/// Tags are looked for at the even offsets 2 to this one; the whole search
/// and every field read from it lie in the first kHeadBytes of the file.
inline constexpr std::uint32_t kLastTagCandidate = 15000;
/// Enough for the fields of a format tag found at the last candidate.
inline constexpr std::size_t kHeadBytes = kLastTagCandidate + 24;

inline constexpr char kNoFormatMessage[] = "Can't find format chunk in wave file!";
inline constexpr char kNoDataMessage[] = "Can't find data block in wave file!";
inline constexpr char kBadFrameMessage[] = "Unrecognized bit or channel configuration";

struct WavAttributes {
  std::uint32_t sampleRate = 0;
  std::uint32_t bytesPerSample = 0;  ///< of one channel's sample
  std::uint32_t channels = 0;
  std::uint32_t dataOffset = 0;  ///< file offset of the first frame
  std::uint32_t frameCount = 0;  ///< whole frames present in the file
};

enum class ProbeStatus {
  kOk,
  kNoDataTag,       ///< no "data" tag among the candidates
  kZeroWidthFrame,  ///< channels x bytesPerSample is 0: no frame to count
};

struct ProbeResult {
  ProbeStatus status = ProbeStatus::kOk;
  bool formatTagFound = false;
  WavAttributes attributes;
};

/// Probes the first bytes of a file (`head`, at most kHeadBytes are looked
/// at; bytes past its end count as zero) given the file's whole length.
ProbeResult ProbeHeader(std::span<const std::uint8_t> head, std::uint64_t fileLength);

/// Reads the head of `source` once and probes it.
ProbeResult ProbeSource(const Source& source);

/// Prints that the file at `path` cannot be read. The path may be of any
/// length, so it is never formatted into a bounded buffer.
void PutNoFileMessage(Output& out, const char* path);

/// Opens `path`, probes it and prints the probe's messages. Returns 0 with
/// `attributes` set when the run can go on, else the exit status to end with.
int GetAttributes(const char* path, OpenFn open, Output& out, WavAttributes& attributes);

}  // namespace ampdots

#endif  // AMPDOTS_WAV_PROBE_H_
