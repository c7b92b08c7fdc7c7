#include "wav/probe.h"

#include <algorithm>
#include <cstring>

#include "io/bytes.h"

namespace ampdots {
namespace {

// The format chunk's fields from its code at +8 to the end of the
// sub-format code at +34: code, channels, rate, byte rate, block align,
// bits, extension size, valid bits, channel mask, sub-format.
constexpr std::size_t kFormatFieldsBytes = kFormatFieldsEnd - 8;

// Where the format and data chunks are, however they were found.
struct Located {
  std::uint8_t fields[kFormatFieldsBytes] = {};  // bytes past the end read as zero
  std::uint64_t data = 0;                        // offset of the data chunk's header
  std::uint64_t dataSize = 0;
};

bool IsTag(const std::uint8_t* bytes, const char* tag) { return std::memcmp(bytes, tag, 4) == 0; }

// First even offset from 2 whose bytes spell `tag`, or 0 when none does.
// Bytes past the end of the file are zero and so never match a letter: a
// tag that does not lie wholly inside the file is not found.
std::uint32_t FindTag(const std::uint8_t* head, const char* tag, std::size_t tagLength) {
  for (std::uint32_t at = 2; at <= kLastTagCandidate; at += 2) {
    if (std::memcmp(head + at, tag, tagLength) == 0) return at;
  }
  return 0;
}

// Reads for the chunk walk: from the head already read, else through a
// small window over a file, so that a file of many tiny chunks costs one
// read per window rather than one per chunk. A stream is read exactly as
// far as asked: bytes read ahead of the data would be lost to the scan.
struct WalkReader {
  Source* source = nullptr;
  std::span<const std::uint8_t> head;
  std::uint64_t windowAt = 0;
  std::size_t windowLength = 0;
  std::uint8_t window[4096];
};

std::size_t ReadWalk(WalkReader& r, std::uint64_t at, std::uint8_t* dst, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const std::uint64_t pos = at + done;
    const std::uint8_t* from;
    std::uint64_t available;
    if (pos < r.head.size()) {
      from = r.head.data() + pos;
      available = r.head.size() - pos;
    } else if (pos >= r.windowAt && pos - r.windowAt < r.windowLength) {
      from = r.window + (pos - r.windowAt);
      available = r.windowLength - (pos - r.windowAt);
    } else if (r.source->stream) {
      return done + ReadAt(*r.source, pos, dst + done, count - done);
    } else {
      r.windowAt = pos;
      r.windowLength = ReadAt(*r.source, pos, r.window, sizeof r.window);
      if (r.windowLength == 0) break;
      continue;
    }
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(available, count - done));
    std::memcpy(dst + done, from, n);
    done += n;
  }
  return done;
}

// Walks the chunks from offset 12 to the first "data" chunk. Succeeds when a
// "fmt " chunk of at least 16 bytes came before it; fails on a file that is
// not RIFF WAVE, a chunk header cut by the end, a chunk that runs past the
// end, or data before any format.
bool WalkChunks(WalkReader& reader, std::uint64_t length, Located& found) {
  const std::uint8_t* head = reader.head.data();
  if (reader.head.size() < 12 ||
      !(IsTag(head, "RIFF") || IsTag(head, "RF64") || IsTag(head, "BW64")) ||
      !IsTag(head + 8, "WAVE")) {
    return false;
  }
  bool haveFormat = false;
  for (std::uint64_t at = 12;;) {
    std::uint8_t header[8];
    if (ReadWalk(reader, at, header, sizeof header) < sizeof header) return false;
    const std::uint32_t size = Assem4(header + 4);
    if (IsTag(header, "data")) {
      found.data = at;
      found.dataSize = size;
      return haveFormat;
    }
    // RIFF pads every chunk to an even length.
    const std::uint64_t next = at + 8 + size + (size & 1);
    if (length != kUnknownLength && next > length) return false;
    if (!haveFormat && IsTag(header, "fmt ") && size >= 16) {
      haveFormat = true;
      // Read now, whatever the chunk's size: a stream cannot come back.
      ReadWalk(reader, at + 8, found.fields, sizeof found.fields);
    }
    at = next;
  }
}

// The tag search over the first kHeadBytes of the file (zero past its end).
// Without a format tag the fields are still read, as if it stood at the
// last candidate; the caller reports the miss and the run goes on.
bool SearchTags(const std::uint8_t* head, Located& found, bool& formatTagFound) {
  std::uint32_t format = FindTag(head, "fmt", 3);
  formatTagFound = format != 0;
  if (!formatTagFound) format = kLastTagCandidate;
  std::memcpy(found.fields, head + format + 8, sizeof found.fields);
  const std::uint32_t data = FindTag(head, "data", 4);
  if (data == 0) return false;
  found.data = data;
  found.dataSize = Assem4(head + data + 4);
  return true;
}

// RF64 and BW64 files hold data past 4 GiB: the data chunk's own size is
// then 0xFFFFFFFF, and the real one is the 64-bit dataSize of the ds64
// chunk, which must come first (riffSize at byte 20, dataSize at 28).
std::uint64_t LongDataSize(std::span<const std::uint8_t> head, std::uint64_t dataSize) {
  constexpr std::size_t kDs64DataSize = 28;
  if (dataSize != 0xFFFFFFFF || head.size() < kDs64DataSize + 8) return dataSize;
  const std::uint8_t* h = head.data();
  if (!(IsTag(h, "RF64") || IsTag(h, "BW64")) || !IsTag(h + 12, "ds64") || Assem4(h + 16) < 24) {
    return dataSize;
  }
  return Assem8(h + kDs64DataSize);
}

// Samples narrower than a whole number of bytes are stored in the next
// whole byte up (12 bits in 2 bytes); below 8 bits there is no such frame.
std::uint32_t BytesPerSample(std::uint32_t bits) { return bits < 8 ? 0 : (bits + 7) / 8; }

// The bits that carry a sample: the extensible header's valid bits where it
// gives a number that fits its container, else the bits per sample.
std::uint32_t ValidBits(std::uint32_t bits, std::uint32_t valid, std::uint32_t bytesPerSample) {
  const std::uint32_t container = 8 * bytesPerSample;
  if (valid > 0 && valid <= container) return valid;
  return std::min(bits, container);
}

ProbeResult Attributes(const Located& found, std::uint64_t length) {
  const std::uint8_t* f = found.fields;  // f[k] is the byte at format + 8 + k
  ProbeResult result;
  WavAttributes& a = result.attributes;
  a.formatCode = Assem2(f);
  if (a.formatCode == kFormatExtensible) a.formatCode = Assem2(f + 24);
  a.channels = Assem2(f + 2);
  a.sampleRate = Assem4(f + 4);
  a.bytesPerSample = BytesPerSample(Assem2(f + 14));
  const bool extensible = Assem2(f) == kFormatExtensible;
  a.validBits = ValidBits(Assem2(f + 14), extensible ? Assem2(f + 18) : 0, a.bytesPerSample);
  if (extensible) a.channelMask = Assem4(f + 20);
  a.dataOffset = found.data + 8;
  const std::uint32_t blockAlign = a.channels * a.bytesPerSample;
  if (blockAlign == 0) {
    result.status = ProbeStatus::kZeroWidthFrame;
    return result;
  }
  // Frames are counted in 32 bits: past that many, the rest is not shown.
  std::uint64_t frames = std::min<std::uint64_t>(found.dataSize / blockAlign, 0xFFFFFFFF);
  // Never trust the declared size over the file: a cut-short copy or a
  // writer that never filled the size in keeps only the whole frames
  // present. A stream's length is not known yet: the scan ends where it does.
  if (length != kUnknownLength) {
    const std::uint64_t available = length > a.dataOffset ? length - a.dataOffset : 0;
    frames = std::min(frames, available / blockAlign);
  }
  a.frameCount = static_cast<std::uint32_t>(frames);
  return result;
}

}  // namespace

namespace {

ProbeResult ProbeReadable(Source& source) {
  std::uint8_t head[kHeadBytes] = {};
  const std::size_t got = ReadAt(source, 0, head, sizeof head);
  const std::uint64_t length = SourceLength(source);

  Located found;
  WalkReader reader;
  reader.source = &source;
  reader.head = std::span<const std::uint8_t>(head, got);
  if (WalkChunks(reader, length, found)) {
    found.dataSize = LongDataSize(reader.head, found.dataSize);
    return Attributes(found, length);
  }

  ProbeResult result;
  // A stream whose walk went past the head cannot search it again.
  if (source.stream && source.taken > kHeadBytes) {
    result.status = ProbeStatus::kNoDataTag;
    return result;
  }
  found = Located{};
  bool formatTagFound = false;
  if (!SearchTags(head, found, formatTagFound)) {
    result.status = ProbeStatus::kNoDataTag;
  } else {
    result = Attributes(found, length);
  }
  result.formatTagMissing = !formatTagFound;
  return result;
}

}  // namespace

ProbeResult ProbeSource(Source& source) {
  ProbeResult result = ProbeReadable(source);
  // Bytes that failed to read are not the end of the file: nothing found
  // in them, or missed for them, may be believed.
  if (source.error != 0) {
    result = ProbeResult{};
    result.status = ProbeStatus::kReadError;
  }
  return result;
}

ProbeResult GetAttributes(const char* path, OpenFn open, Source& source) {
  if (!open(path, source)) {
    ProbeResult result;
    result.status = ProbeStatus::kNoFile;
    return result;
  }
  return ProbeSource(source);
}

}  // namespace ampdots
