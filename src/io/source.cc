#include "io/source.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ampdots {
namespace {

// Where a stream's skipped bytes go: read, and never looked at.
std::uint8_t discard[1 << 16];

enum class Kind { kRefused, kFile, kStream };

Kind KindOf(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return Kind::kRefused;
  if (S_ISREG(info.st_mode)) return Kind::kFile;
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return Kind::kStream;
  return Kind::kRefused;  // directories, terminals and other devices
}

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

// One read of the stream's next bytes; 0 at its end or on an error.
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

// A read of a mapped page whose file was cut short raises SIGBUS in the
// thread that read it. While that thread runs guarded work, the handler
// jumps back out of it; at any other time the signal does what it would
// have done.
thread_local sigjmp_buf faultJump;
thread_local volatile sig_atomic_t guarded = 0;

void OnFault(int signal) {
  if (guarded != 0) {
    guarded = 0;
    siglongjmp(faultJump, 1);
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void InstallFaultHandler() {
  static bool installed = false;
  if (installed) return;
  struct sigaction action {};
  action.sa_handler = OnFault;
  action.sa_flags = SA_NODEFER;  // the jump leaves the handler: do not leave SIGBUS blocked
  sigemptyset(&action.sa_mask);
  installed = sigaction(SIGBUS, &action, nullptr) == 0;
}

}  // namespace

bool OpenSource(const char* path, Source& source) {
  const bool standardInput = std::strcmp(path, "-") == 0;
  // O_NONBLOCK keeps the open from waiting before the kind of file is known.
  int fd = standardInput ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                         : open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  Kind kind = KindOf(fd);
  if (kind == Kind::kStream && !standardInput) {
    // A FIFO is opened again as cat opens it, waiting for a writer: opened
    // without one, it would read as already ended.
    close(fd);
    fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    kind = KindOf(fd);
  }
  if (kind == Kind::kRefused) {
    close(fd);
    return false;
  }
  if (!standardInput) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  source = Source{};
  source.fd = fd;
  source.stream = kind == Kind::kStream;
  return true;
}

Source MemorySource(std::span<const std::uint8_t> bytes) {
  Source source{};
  source.data = bytes.data();
  source.length = bytes.size();
  return source;
}

void MemoryStream(std::span<const std::uint8_t> bytes, std::size_t piece, Source& source) {
  source = Source{};
  source.data = bytes.data();
  source.length = bytes.size();
  source.stream = true;
  source.piece = std::max<std::size_t>(piece, 1);
}

void CloseSource(Source& source) {
  if (source.map != nullptr) munmap(const_cast<std::uint8_t*>(source.map), source.mapLength);
  source.map = nullptr;
  source.mapOffset = 0;
  source.mapLength = 0;
  if (source.fd >= 0) close(source.fd);
  source.fd = -1;
  source.data = nullptr;
  source.length = 0;
  source.stream = false;
}

std::uint64_t SourceLength(const Source& source) {
  if (source.stream) return source.ended ? source.taken : kUnknownLength;
  if (source.fd < 0) return source.length;
  struct stat info {};
  if (fstat(source.fd, &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

std::size_t ReadAt(Source& source, std::uint64_t offset, std::uint8_t* dst, std::size_t count) {
  if (source.stream) return ReadStream(source, offset, dst, count);
  if (source.fd < 0) {
    const std::uint64_t end = std::min(source.length, source.failAt);
    std::size_t n = 0;
    if (offset < end) n = static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, count));
    if (n > 0) std::memcpy(dst, source.data + offset, n);
    if (n < count && end < source.length) source.error = EIO;
    return n;
  }
  std::size_t done = 0;
  while (done < count) {
    const off_t at = static_cast<off_t>(offset + done);
    const ssize_t got = pread(source.fd, dst + done, count - done, at);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      if (got < 0) source.error = errno;
      break;  // end of file or a read error: the caller sees a short count
    }
  }
  return done;
}

void MapRange(Source& source, std::uint64_t from, std::uint64_t to) {
  if (source.stream || source.fd < 0 || source.map != nullptr) return;
  to = std::min(to, SourceLength(source));
  const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  from -= from % page;
  if (from >= to) return;
  void* at = mmap(nullptr, to - from, PROT_READ, MAP_SHARED | MAP_POPULATE, source.fd,
                  static_cast<off_t>(from));
  if (at == MAP_FAILED) return;
  InstallFaultHandler();
  source.map = static_cast<const std::uint8_t*>(at);
  source.mapOffset = from;
  source.mapLength = to - from;
}

std::span<const std::uint8_t> ViewAt(Source& source, std::uint64_t offset, std::size_t count,
                                     std::uint8_t* scratch) {
  const std::uint64_t mapEnd = source.mapOffset + source.mapLength;
  if (source.map == nullptr || offset < source.mapOffset || offset >= mapEnd) {
    return {scratch, ReadAt(source, offset, scratch, count)};
  }
  // Never past the file's end now: a file cut short ends the read there.
  const std::uint64_t end = std::min(mapEnd, SourceLength(source));
  const std::size_t n =
      offset < end ? static_cast<std::size_t>(std::min<std::uint64_t>(count, end - offset)) : 0;
  return {source.map + (offset - source.mapOffset), n};
}

bool RunGuarded(void (*work)(void*), void* arg) {
  if (sigsetjmp(faultJump, 0) != 0) return false;
  guarded = 1;
  work(arg);
  guarded = 0;
  return true;
}

}  // namespace ampdots
