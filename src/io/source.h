// Where the bytes of a WAV file come from: an open regular file or a block
// of memory. The probe and the scan read only through ReadAt, so tests and
// fuzzers can hand them bytes without touching the file system.
#ifndef AMPDOTS_IO_SOURCE_H_
#define AMPDOTS_IO_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace ampdots {

struct Source {
  int fd = -1;                         ///< open file, or -1 for memory
  const std::uint8_t* data = nullptr;  ///< memory bytes when fd is -1
  std::uint64_t length = 0;            ///< memory length when fd is -1
};

/// Opens a regular file (or a link to one) for reading. Directories,
/// FIFOs and devices are refused without blocking: the tool seeks in its
/// input and reads it twice, which only a regular file allows.
bool OpenSource(const char* path, Source& source);

/// A source over bytes the caller keeps alive.
Source MemorySource(std::span<const std::uint8_t> bytes);

void CloseSource(Source& source);

/// The current length of the source in bytes.
std::uint64_t SourceLength(const Source& source);

/// Reads up to `count` bytes at `offset`. Returns how many were read; fewer
/// than asked means the end of the data (or a read error) was reached.
std::size_t ReadAt(const Source& source, std::uint64_t offset, std::uint8_t* dst,
                   std::size_t count);

/// How a run reaches the file named on its command line.
using OpenFn = bool (*)(const char* path, Source& source);

}  // namespace ampdots

#endif  // AMPDOTS_IO_SOURCE_H_
