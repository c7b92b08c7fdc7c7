// Where the bytes of a WAV file come from: an open regular file, a stream
// (a pipe, FIFO or socket, read once from front to back), or a block of
// memory. The probe and the scan read only through ReadAt, so tests and
// fuzzers can hand them bytes without touching the file system.
#ifndef AMPDOTS_IO_SOURCE_H_
#define AMPDOTS_IO_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace ampdots {

/// A stream keeps its first bytes, so that a header read at its start can be
/// read again, and its last few, so that a reader may step just behind
/// where it got to (a field that ends past the next chunk's header).
inline constexpr std::size_t kStreamHeadBytes = 16384;
inline constexpr std::size_t kStreamTailBytes = 64;

/// What SourceLength says of a stream that has not ended yet.
inline constexpr std::uint64_t kUnknownLength = std::numeric_limits<std::uint64_t>::max();

struct Source {
  int fd = -1;                         ///< open file or stream, or -1 for memory
  const std::uint8_t* data = nullptr;  ///< memory bytes when fd is -1
  std::uint64_t length = 0;            ///< memory length when fd is -1
  int error = 0;                       ///< errno of a failed read, else 0
  /// Memory only: reads fail with EIO from this offset on, as a failing
  /// disk would, so that tests can meet a read error.
  std::uint64_t failAt = kUnknownLength;

  // The part of a regular file mapped by MapRange, so that the scan reads
  // the file's pages where they are instead of copying them.
  const std::uint8_t* map = nullptr;
  std::uint64_t mapOffset = 0;  ///< file offset of map[0], a multiple of the page size
  std::uint64_t mapLength = 0;

  // A stream: bytes come in order, once.
  bool stream = false;
  std::size_t piece = 0;    ///< memory streams: the most bytes one read gives
  std::uint64_t taken = 0;  ///< bytes taken from the stream so far
  bool ended = false;       ///< the stream has no more bytes
  std::uint8_t head[kStreamHeadBytes];
  std::uint8_t tail[kStreamTailBytes];  ///< the bytes just before `taken`
  std::size_t tailLength = 0;
};

/// Opens `path` for reading: "-" is standard input. A regular file (or a
/// link to one, or standard input redirected from one) is read at any
/// offset; a pipe, FIFO or socket becomes a stream, and opening a FIFO waits
/// for its writer, as cat does. Directories and devices are refused.
bool OpenSource(const char* path, Source& source);

/// A source over bytes the caller keeps alive.
Source MemorySource(std::span<const std::uint8_t> bytes);

/// The same bytes as a stream that hands out at most `piece` bytes a read,
/// as a pipe hands out what its writer has written so far.
void MemoryStream(std::span<const std::uint8_t> bytes, std::size_t piece, Source& source);

void CloseSource(Source& source);

/// The length of the source in bytes; kUnknownLength for a stream until it ends.
std::uint64_t SourceLength(const Source& source);

/// Reads up to `count` bytes at `offset`. Returns how many were read; fewer
/// than asked means the end of the data or a read error (then `error` is
/// set). A stream reads forward, dropping the bytes it skips; of the bytes
/// behind it, only its first kStreamHeadBytes and last kStreamTailBytes can
/// be read again.
std::size_t ReadAt(Source& source, std::uint64_t offset, std::uint8_t* dst, std::size_t count);

/// Maps bytes `from` to `to` of a regular file (its pages made ready at
/// once), for ViewAt to hand out where they lie. Does nothing for other
/// sources, or where the file cannot be mapped.
void MapRange(Source& source, std::uint64_t from, std::uint64_t to);

/// Up to `count` bytes at `offset`, as ReadAt reads them: where they lie in
/// the mapped range, else read into `scratch` (which must hold `count`
/// bytes). A file that shrank since it was mapped ends where it ends now.
std::span<const std::uint8_t> ViewAt(Source& source, std::uint64_t offset, std::size_t count,
                                     std::uint8_t* scratch);

/// Runs `work(arg)`, which reads what ViewAt gave. Should the file be cut
/// short by another process while `work` reads it, the read of a page that
/// is gone ends `work` at once, and this returns false, instead of the
/// signal ending the process.
bool RunGuarded(void (*work)(void*), void* arg);

/// How a run reaches the file named on its command line.
using OpenFn = bool (*)(const char* path, Source& source);

}  // namespace ampdots

#endif  // AMPDOTS_IO_SOURCE_H_
