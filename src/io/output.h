// Everything the tool prints goes through an Output: a fixed buffer that is
// written to a file descriptor when full, or kept in memory for tests and
// fuzzers (fd -1), where text past the buffer's end is dropped and counted.
#ifndef AMPDOTS_IO_OUTPUT_H_
#define AMPDOTS_IO_OUTPUT_H_

#include <cstddef>
#include <string_view>

namespace ampdots {

inline constexpr std::size_t kOutputBufferBytes = 1 << 16;

struct Output {
  int fd = -1;              ///< where Flush writes; -1 keeps text in memory
  std::size_t used = 0;     ///< bytes waiting in `buffer`
  std::size_t dropped = 0;  ///< memory output only: bytes that did not fit
  bool failed = false;      ///< a write to `fd` failed
  char buffer[kOutputBufferBytes];
};

void Put(Output& out, std::string_view text);
void PutChar(Output& out, char c);
/// Prints `text` and one newline.
void PutLine(Output& out, std::string_view text);
void PutRepeated(Output& out, char c, std::size_t count);
void PutF(Output& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// Writes what is buffered to `fd`. Returns false if any write failed.
bool Flush(Output& out);

/// The text held by a memory output.
inline std::string_view Text(const Output& out) { return {out.buffer, out.used}; }

}  // namespace ampdots

#endif  // AMPDOTS_IO_OUTPUT_H_
