// A stream read once from front to back: a pipe, FIFO or socket, or bytes
// in memory handed out piece by piece as a pipe hands them out.
#ifndef AMPDOTS_IO_STREAM_H_
#define AMPDOTS_IO_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "io/source.h"

namespace ampdots {

/// The same bytes as a stream that hands out at most `piece` bytes a read,
/// as a pipe hands out what its writer has written so far.
void MemoryStream(std::span<const std::uint8_t> bytes, std::size_t piece, Source& source);

/// Reads up to `count` bytes at `offset`, forward only, dropping the bytes
/// it skips; of the bytes behind it, only its first kStreamHeadBytes and
/// last kStreamTailBytes can be read again. A failed read ends the stream
/// and sets `error`.
std::size_t ReadStream(Source& source, std::uint64_t offset, std::uint8_t* dst, std::size_t count);

}  // namespace ampdots

#endif  // AMPDOTS_IO_STREAM_H_
