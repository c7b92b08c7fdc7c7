// Where the bytes of a WAV file come from: an open regular file, a stream
// (a pipe, FIFO or socket, read once from front to back), or a block of
// memory. The probe and the scan read only through ReadAt, so tests and
// fuzzers can hand them bytes without touching the file system.
#ifndef AMPDOTS_IO_SOURCE_H_
#define AMPDOTS_IO_SOURCE_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace ampdots {

// Offsets stay 64-bit on every host: the build asks for 64-bit file
// offsets, so a 32-bit one reads files past 2 GiB.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");

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
  /// Memory of `length` bytes read by a reader of the caller's instead
  /// (tests fail reads this way, as a failing disk does): it returns the
  /// bytes read and sets `error` when it fails.
  std::size_t (*reader)(const Source& source, std::uint64_t offset, std::uint8_t* dst,
                        std::size_t count, int& error) = nullptr;

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

/// For tests: called between finding that a path is a FIFO and opening it
/// for reading, where a loaded machine may pause for long.
void SetFifoOpenPause(void (*pause)());

/// A source over bytes the caller keeps alive.
Source MemorySource(std::span<const std::uint8_t> bytes);

/// Closes the file or stream; `error` stays, for the caller to report.
void CloseSource(Source& source);

/// The length of the source in bytes; kUnknownLength for a stream until it ends.
std::uint64_t SourceLength(const Source& source);

/// Reads up to `count` bytes at `offset`. Returns how many were read; fewer
/// than asked means the end of the data or a read error (then `error` is
/// set). A stream reads forward (io/stream.h).
std::size_t ReadAt(Source& source, std::uint64_t offset, std::uint8_t* dst, std::size_t count);

/// How a run reaches the file named on its command line.
using OpenFn = bool (*)(const char* path, Source& source);

}  // namespace ampdots

#endif  // AMPDOTS_IO_SOURCE_H_
