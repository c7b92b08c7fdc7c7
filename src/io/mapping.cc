#include "io/mapping.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

// Older C libraries lack the name; kernels before 5.14 lack the advice and
// refuse it with EINVAL.
#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#endif

namespace ampdots {
namespace {

// A read of a mapped page that cannot be read raises SIGBUS in the thread
// that read it. While that thread runs guarded work, the handler jumps back
// out of it; at any other time the signal does what it would have done.
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

std::uint64_t PageSize() {
  static const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  return page;
}

bool populate = true;

// Brings a window's pages in now, or says that some cannot be read. Asked
// of the mapping call itself (MAP_POPULATE), the kernel would retry a page
// that fails to read for as long as the process lives.
bool Populate(const std::uint8_t* at, std::size_t length) {
  void* const start = const_cast<std::uint8_t*>(at);
  if (populate) {
    int result;
    do {
      result = madvise(start, length, MADV_POPULATE_READ);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return true;
    if (errno != EINVAL) return false;
    populate = false;
  }
  // Read ahead in the background instead; a page that fails to read then
  // faults in the guarded work that touches it.
  madvise(start, length, MADV_WILLNEED);
  return true;
}

void Release(MapWindow& window) {
  if (window.at != nullptr) munmap(const_cast<std::uint8_t*>(window.at), window.length);
  window = MapWindow{};
}

// The window from the page that holds `offset` on, as far as the range
// and the file reach.
MapWindow MapWindowAt(Source& source, std::uint64_t offset) {
  MapWindow window;
  window.offset = offset - offset % PageSize();
  const std::uint64_t end = std::min(source.mapTo, SourceLength(source));
  if (window.offset >= end) return window;
  window.length =
      static_cast<std::size_t>(std::min<std::uint64_t>(end - window.offset, kMapWindowBytes));
  window.reachesEnd = window.offset + window.length == end;
  // The offset is below the file's length, which off_t holds.
  void* at = mmap(nullptr, window.length, PROT_READ, MAP_SHARED, source.fd,
                  static_cast<off_t>(window.offset));
  if (at == MAP_FAILED) {
    window.readInstead = true;
    return window;
  }
  InstallFaultHandler();
  window.at = static_cast<const std::uint8_t*>(at);
  if (!Populate(window.at, window.length)) {
    munmap(at, window.length);
    window.at = nullptr;
    window.readInstead = true;
  }
  return window;
}

// Whether `window` serves a view of `count` bytes at `offset`: it starts in
// it, and ends in it or past the end of what was to be mapped.
bool Serves(const MapWindow& window, std::uint64_t offset, std::size_t count) {
  if (window.at == nullptr && !window.readInstead) return false;
  if (offset < window.offset || offset - window.offset >= window.length) return false;
  return window.reachesEnd || count <= window.length - (offset - window.offset);
}

}  // namespace

void MapRange(Source& source, std::uint64_t from, std::uint64_t to) {
  if (source.stream || source.fd < 0) return;
  UnmapWindows(source);
  source.mapFrom = from;
  source.mapTo = std::max(from, to);
}

std::span<const std::uint8_t> ViewAt(Source& source, std::uint64_t offset, std::size_t count,
                                     std::uint8_t* scratch) {
  const MapWindow* window = nullptr;
  if (offset >= source.mapFrom && offset < source.mapTo) {
    // Views go forward: the newest window serves most of them.
    const auto* const found =
        std::find_if(std::begin(source.windows), std::end(source.windows),
                     [&](const MapWindow& w) { return Serves(w, offset, count); });
    if (found != std::end(source.windows)) window = found;
    if (window == nullptr) {
      Release(source.windows[1]);
      source.windows[1] = source.windows[0];
      source.windows[0] = MapWindowAt(source, offset);
      if (Serves(source.windows[0], offset, count)) window = &source.windows[0];
    }
  }
  if (window == nullptr || window->at == nullptr) {
    return {scratch, ReadAt(source, offset, scratch, count)};
  }
  // Never past the file's end now: a file cut short ends the view there.
  const std::uint64_t end = std::min(window->offset + window->length, SourceLength(source));
  const std::size_t n =
      offset < end ? static_cast<std::size_t>(std::min<std::uint64_t>(count, end - offset)) : 0;
  return {window->at + (offset - window->offset), n};
}

void SetPagePopulation(bool enabled) { populate = enabled; }

void UnmapWindows(Source& source) {
  for (MapWindow& window : source.windows) Release(window);
}

bool RunGuardedCall(void (*work)(void*), void* arg) {
  if (sigsetjmp(faultJump, 0) != 0) return false;
  guarded = 1;
  work(arg);
  guarded = 0;
  return true;
}

}  // namespace ampdots
