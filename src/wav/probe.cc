#include "wav/probe.h"

#include <algorithm>
#include <cstring>

#include "wav/bytes.h"

namespace ampdots {
namespace {

// First even offset from 2 whose bytes spell `tag`, or 0 when none does.
// Bytes past the end of the file are zero and so never match a letter: a
// tag that does not lie wholly inside the file is not found.
std::uint32_t FindTag(const std::uint8_t* head, const char* tag, std::size_t tagLength) {
  for (std::uint32_t at = 2; at <= kLastTagCandidate; at += 2) {
    if (std::memcmp(head + at, tag, tagLength) == 0) return at;
  }
  return 0;
}

}  // namespace

ProbeResult ProbeHeader(std::span<const std::uint8_t> head, std::uint64_t fileLength) {
  std::uint8_t bytes[kHeadBytes] = {};
  std::memcpy(bytes, head.data(), std::min(head.size(), kHeadBytes));

  ProbeResult result;
  WavAttributes& a = result.attributes;
  std::uint32_t format = FindTag(bytes, "fmt", 3);
  result.formatTagFound = format != 0;
  // Without a format tag the fields are still read, as if it stood at the
  // last candidate; the caller reports the miss and the run goes on.
  if (!result.formatTagFound) format = kLastTagCandidate;
  a.channels = Assem2(bytes + format + 10);
  a.bytesPerSample = Assem2(bytes + format + 22) / 8;
  a.sampleRate = Assem4(bytes + format + 12);

  const std::uint32_t data = FindTag(bytes, "data", 4);
  if (data == 0) {
    result.status = ProbeStatus::kNoDataTag;
    return result;
  }
  a.dataOffset = data + 8;
  const std::uint32_t blockAlign = a.channels * a.bytesPerSample;
  if (blockAlign == 0) {
    result.status = ProbeStatus::kZeroWidthFrame;
    return result;
  }
  a.frameCount = Assem4(bytes + data + 4) / blockAlign;
  // Never trust the declared size over the file: a cut-short copy or a
  // writer that never filled the size in keeps only the whole frames present.
  const std::uint64_t available = fileLength > a.dataOffset ? fileLength - a.dataOffset : 0;
  if (std::uint64_t{a.frameCount} * blockAlign > available) {
    a.frameCount = static_cast<std::uint32_t>(available / blockAlign);
  }
  return result;
}

ProbeResult ProbeSource(const Source& source) {
  std::uint8_t head[kHeadBytes];
  const std::size_t got = ReadAt(source, 0, head, sizeof head);
  return ProbeHeader(std::span<const std::uint8_t>(head, got), SourceLength(source));
}

void PutNoFileMessage(Output& out, const char* path) {
  Put(out, "The file called ");
  Put(out, path);
  Put(out, " cannot be found!\n");
}

int GetAttributes(const char* path, OpenFn open, Output& out, WavAttributes& attributes) {
  Source source;
  if (!open(path, source)) {
    PutNoFileMessage(out, path);
    return 2;
  }
  const ProbeResult probe = ProbeSource(source);
  CloseSource(source);
  if (!probe.formatTagFound) PutLine(out, kNoFormatMessage);
  switch (probe.status) {
    case ProbeStatus::kNoDataTag:
      PutLine(out, kNoDataMessage);
      return 2;
    case ProbeStatus::kZeroWidthFrame:
      PutLine(out, kBadFrameMessage);
      return 1;
    case ProbeStatus::kOk:
      break;
  }
  attributes = probe.attributes;
  return 0;
}

}  // namespace ampdots
