// The header probe over arbitrary bytes: as a file, and as a stream handed
// out in uneven pieces, which must find what the file finds.
#include <cstddef>
#include <cstdint>
#include <span>

#include "io/stream.h"
#include "wav/probe.h"

namespace {

ampdots::Source file;
ampdots::Source stream;

bool SameAttributes(const ampdots::WavAttributes& a, const ampdots::WavAttributes& b) {
  return a.sampleRate == b.sampleRate && a.bytesPerSample == b.bytesPerSample &&
         a.channels == b.channels && a.formatCode == b.formatCode && a.dataOffset == b.dataOffset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  file = ampdots::MemorySource(bytes);
  const ampdots::ProbeResult r = ampdots::ProbeSource(file);
  if (r.status == ampdots::ProbeStatus::kOk) {
    // Only whole frames that lie in the file are counted.
    const ampdots::WavAttributes& a = r.attributes;
    const std::uint64_t align = std::uint64_t{a.channels} * a.bytesPerSample;
    const std::uint64_t present = size > a.dataOffset ? size - a.dataOffset : 0;
    if (align == 0 || a.frameCount * align > present) __builtin_trap();
  }

  ampdots::MemoryStream(bytes, 1 + (size > 0 ? data[size - 1] % 61 : 0), stream);
  const ampdots::ProbeResult s = ampdots::ProbeSource(stream);
  // A stream's walk that went past the head cannot fall back on the search.
  if (stream.taken > ampdots::kHeadBytes && s.status == ampdots::ProbeStatus::kNoDataTag) {
    if (s.formatTagMissing) __builtin_trap();  // no search ran, so nothing to report of it
    return 0;
  }
  if (s.status != r.status || s.formatTagMissing != r.formatTagMissing) __builtin_trap();
  if (r.status != ampdots::ProbeStatus::kOk) return 0;
  if (!SameAttributes(s.attributes, r.attributes)) __builtin_trap();
  // A stream shorter than the head is a file of that length; a longer one
  // keeps its declared frame count, never fewer than the file's.
  if (size < ampdots::kHeadBytes ? s.attributes.frameCount != r.attributes.frameCount
                                 : s.attributes.frameCount < r.attributes.frameCount) {
    __builtin_trap();
  }
  return 0;
}
