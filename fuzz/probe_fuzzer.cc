// The header probe over arbitrary bytes: any first bytes of a file, with
// the file as long as the bytes or longer.
#include <cstddef>
#include <cstdint>
#include <span>

#include "wav/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const ampdots::ProbeResult r = ampdots::ProbeHeader(bytes, size);
  if (r.status == ampdots::ProbeStatus::kOk) {
    // Only whole frames that lie in the file are counted.
    const ampdots::WavAttributes& a = r.attributes;
    const std::uint64_t align = std::uint64_t{a.channels} * a.bytesPerSample;
    const std::uint64_t present = size > a.dataOffset ? size - a.dataOffset : 0;
    if (align == 0 || a.frameCount * align > present) __builtin_trap();
  }
  // A longer file than the head read: the declared size may then count.
  ampdots::ProbeHeader(bytes, std::uint64_t{size} * 3 + 4096);
  return 0;
}
