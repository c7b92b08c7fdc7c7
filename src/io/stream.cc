#include "io/stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ampdots {
namespace {

// Where a stream's skipped bytes go: read, and never looked at.
std::uint8_t discard[1 << 16];

// Keeps what a stream just handed out: its first bytes and its last few.
void Keep(Source& s, const std::uint8_t* bytes, std::size_t count) {
  if (s.taken < kStreamHeadBytes) {
    const std::size_t n = std::min(count, kStreamHeadBytes - static_cast<std::size_t>(s.taken));
    std::memcpy(s.head + s.taken, bytes, n);
  }
  if (count >= kStreamTailBytes) {
    std::memcpy(s.tail, bytes + count - kStreamTailBytes, kStreamTailBytes);
    s.tailLength = kStreamTailBytes;
    return;
  }
  const std::size_t old = std::min(s.tailLength, kStreamTailBytes - count);
  std::memmove(s.tail, s.tail + s.tailLength - old, old);
  std::memcpy(s.tail + old, bytes, count);
  s.tailLength = old + count;
}

// One read of the stream's next bytes; 0 at its end or on an error, either
// of which ends it: a stream that failed once is not read again.
std::size_t Pull(Source& s, std::uint8_t* dst, std::size_t count) {
  std::size_t got = 0;
  if (s.fd < 0) {
    got = static_cast<std::size_t>(std::min<std::uint64_t>({count, s.piece, s.length - s.taken}));
    if (got > 0) std::memcpy(dst, s.data + s.taken, got);
  } else {
    ssize_t n;
    do {
      n = read(s.fd, dst, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) s.error = errno;
    got = n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  if (got == 0) {
    s.ended = true;
    return 0;
  }
  Keep(s, dst, got);
  s.taken += got;
  return got;
}

// Bytes at `at`, behind what the stream has handed out, that it kept.
std::size_t ReadKept(const Source& s, std::uint64_t at, std::uint8_t* dst, std::size_t count) {
  const std::uint64_t headEnd = std::min<std::uint64_t>(s.taken, kStreamHeadBytes);
  const std::uint64_t tailStart = s.taken - s.tailLength;
  std::size_t n = 0;
  if (at < headEnd) {
    n = static_cast<std::size_t>(std::min<std::uint64_t>(count, headEnd - at));
    std::memcpy(dst, s.head + at, n);
  } else if (at >= tailStart) {
    n = static_cast<std::size_t>(std::min<std::uint64_t>(count, s.taken - at));
    std::memcpy(dst, s.tail + (at - tailStart), n);
  }
  return n;
}

}  // namespace

void MemoryStream(std::span<const std::uint8_t> bytes, std::size_t piece, Source& source) {
  source = Source{};
  source.data = bytes.data();
  source.length = bytes.size();
  source.stream = true;
  source.piece = std::max<std::size_t>(piece, 1);
}

std::size_t ReadStream(Source& s, std::uint64_t offset, std::uint8_t* dst, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const std::uint64_t at = offset + done;
    std::size_t n;
    if (at < s.taken) {
      n = ReadKept(s, at, dst + done, count - done);
    } else if (s.ended) {
      n = 0;
    } else if (at > s.taken) {
      // Skipped bytes are read and dropped, never stored.
      const auto gap =
          static_cast<std::size_t>(std::min<std::uint64_t>(at - s.taken, sizeof discard));
      if (Pull(s, discard, gap) == 0) break;
      continue;
    } else {
      n = Pull(s, dst + done, count - done);
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

}  // namespace ampdots
