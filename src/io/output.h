// Everything the tool prints goes through an Output: a fixed buffer that is
// written to a file descriptor when full, or kept in memory for tests and
// fuzzers (fd -1), where text past the buffer's end is dropped and counted.
#ifndef AMPDOTS_IO_OUTPUT_H_
#define AMPDOTS_IO_OUTPUT_H_

#include <cstddef>
#include <cstring>
#include <string_view>

namespace ampdots {

inline constexpr std::size_t kOutputBufferBytes = 1 << 17;

struct Output {
  int fd = -1;              ///< where Flush writes; -1 keeps text in memory
  std::size_t used = 0;     ///< bytes waiting in `buffer`
  std::size_t dropped = 0;  ///< memory output only: bytes that did not fit
  bool failed = false;      ///< a write to `fd` failed; later text is dropped
  int error = 0;            ///< errno of that failure
  char buffer[kOutputBufferBytes];
};

/// Text that does not fit what is left of the buffer: flushed first, or,
/// for a memory output, cut where the buffer ends (the rest dropped).
void PutSlow(Output& out, std::string_view text);
/// Records are built of many short pieces: those that fit are copied here,
/// where the compiler knows a literal's length.
inline void Put(Output& out, std::string_view text) {
  if (kOutputBufferBytes - out.used >= text.size()) {
    std::memcpy(out.buffer + out.used, text.data(), text.size());
    out.used += text.size();
    return;
  }
  PutSlow(out, text);
}
inline void PutChar(Output& out, char c) {
  if (out.used < kOutputBufferBytes) {
    out.buffer[out.used++] = c;
    return;
  }
  PutSlow(out, std::string_view(&c, 1));
}
/// Prints `text` and one newline.
void PutLine(Output& out, std::string_view text);
void PutRepeated(Output& out, char c, std::size_t count);
void PutF(Output& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// Room for `count` bytes (at most kOutputBufferBytes) at the end of the
/// buffer, flushing first if needed; nullptr when a memory output is full
/// (the bytes are then counted as dropped). Bytes written there count once
/// Commit says how many.
char* ReserveSlow(Output& out, std::size_t count);
inline char* Reserve(Output& out, std::size_t count) {
  if (kOutputBufferBytes - out.used >= count) return out.buffer + out.used;
  return ReserveSlow(out, count);
}
inline void Commit(Output& out, std::size_t count) { out.used += count; }

/// Writes what is buffered to `fd`. Returns false if any write failed.
bool Flush(Output& out);

/// The text held by a memory output.
inline std::string_view Text(const Output& out) { return {out.buffer, out.used}; }

/// Text made ready aside, by another thread, to be put out later in one
/// piece. Once it is full, text that does not fit is refused.
inline constexpr std::size_t kTextBlockBytes = 1 << 23;

struct TextBlock {
  std::size_t used = 0;
  bool full = false;  ///< some text did not fit: the block is incomplete
  char text[kTextBlockBytes];
};

inline char* Reserve(TextBlock& block, std::size_t count) {
  if (kTextBlockBytes - block.used >= count) return block.text + block.used;
  block.full = true;
  return nullptr;
}
inline void Commit(TextBlock& block, std::size_t count) { block.used += count; }

/// Puts out what `block` holds: written straight from it to a file
/// descriptor (after what `out` holds), copied into a memory output.
void PutBlock(Output& out, const TextBlock& block);

}  // namespace ampdots

#endif  // AMPDOTS_IO_OUTPUT_H_
