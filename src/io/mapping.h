// A regular file's bytes read where they lie: mapped into memory window by
// window, so that the scan neither copies them nor holds more than two
// windows of them resident, and so that any interval of any file fits a
// 32-bit address space.
//
// A mapped page that cannot be read (the file was cut short by another
// process, or the disk fails) raises SIGBUS in the thread that touches it.
// Work that reads mapped bytes therefore runs guarded: such a fault ends the
// work at once and the guard says so; the caller then reads the same bytes
// with pread, which tells a file cut short (fewer bytes) from a failing
// disk (an error).
#ifndef AMPDOTS_IO_MAPPING_H_
#define AMPDOTS_IO_MAPPING_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "io/source.h"

namespace ampdots {

/// Bytes mapped at a time: small enough for a 32-bit address space and for
/// what a small board keeps resident, large enough that mapping costs
/// nothing beside reading.
inline constexpr std::size_t kMapWindowBytes = std::size_t{64} << 20;

/// Lets ViewAt map bytes `from` to `to` of a regular file. Does nothing for
/// other sources.
void MapRange(Source& source, std::uint64_t from, std::uint64_t to);

/// Up to `count` bytes (at most a quarter of kMapWindowBytes) at `offset`,
/// as ReadAt reads them: where they lie in a mapped window, else read into
/// `scratch` (which must hold `count` bytes). A window's pages are brought in
/// when it is mapped; where that fails, its bytes are read with pread, which
/// reports the error. A file that shrank since it was mapped ends where it
/// ends now. A view stays valid until the view after next.
std::span<const std::uint8_t> ViewAt(Source& source, std::uint64_t offset, std::size_t count,
                                     std::uint8_t* scratch);

/// For tests: whether a window's pages are brought in as it is mapped (the
/// default), or left to fault where they are first read, as they are on
/// kernels that cannot bring them in and say which failed.
void SetPagePopulation(bool enabled);

/// Releases every window.
void UnmapWindows(Source& source);

/// Runs `work(arg)` so that a fault in a mapped page ends it and returns
/// false, instead of the signal ending the process. The jump out skips
/// destructors: guarded work must own nothing that has one. Each thread
/// has its own guard.
bool RunGuardedCall(void (*work)(void*), void* arg);

/// RunGuardedCall for any callable.
template <typename Work>
bool RunGuarded(Work& work) {
  return RunGuardedCall([](void* w) { (*static_cast<Work*>(w))(); }, &work);
}

}  // namespace ampdots

#endif  // AMPDOTS_IO_MAPPING_H_
