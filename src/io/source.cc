#include "io/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ampdots {

bool OpenSource(const char* path, Source& source) {
  // O_NONBLOCK keeps a FIFO without a writer from stalling the open; it is
  // cleared again below and has no effect on regular files.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  source = Source{};
  source.fd = fd;
  return true;
}

Source MemorySource(std::span<const std::uint8_t> bytes) {
  Source source;
  source.data = bytes.data();
  source.length = bytes.size();
  return source;
}

void CloseSource(Source& source) {
  if (source.fd >= 0) close(source.fd);
  source = Source{};
}

std::uint64_t SourceLength(const Source& source) {
  if (source.fd < 0) return source.length;
  struct stat info {};
  if (fstat(source.fd, &info) != 0 || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

std::size_t ReadAt(const Source& source, std::uint64_t offset, std::uint8_t* dst,
                   std::size_t count) {
  if (source.fd < 0) {
    if (offset >= source.length) return 0;
    const std::uint64_t left = source.length - offset;
    const std::size_t n = left < count ? static_cast<std::size_t>(left) : count;
    if (n > 0) std::memcpy(dst, source.data + offset, n);
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
      break;  // end of file or a read error: the caller sees a short count
    }
  }
  return done;
}

}  // namespace ampdots
