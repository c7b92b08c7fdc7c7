#include "io/output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ampdots {
namespace {

// Makes room for at least one byte; false when a memory output is full.
bool MakeRoom(Output& out) {
  if (out.used < kOutputBufferBytes) return true;
  if (out.fd < 0) return false;
  Flush(out);
  return true;
}

// Writes `count` bytes to `out.fd` unless a write has failed; a failure is
// kept in `out`, and later text is dropped.
void WriteAll(Output& out, const char* text, std::size_t count) {
  std::size_t done = 0;
  while (done < count && !out.failed) {
    const ssize_t n = write(out.fd, text + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      out.failed = true;
      out.error = n < 0 ? errno : EIO;
    }
  }
}

}  // namespace

void PutSlow(Output& out, std::string_view text) {
  while (!text.empty()) {
    if (!MakeRoom(out)) {
      out.dropped += text.size();
      return;
    }
    const std::size_t n = std::min(text.size(), kOutputBufferBytes - out.used);
    std::memcpy(out.buffer + out.used, text.data(), n);
    out.used += n;
    text.remove_prefix(n);
  }
}

void PutLine(Output& out, std::string_view text) {
  Put(out, text);
  PutChar(out, '\n');
}

void PutRepeated(Output& out, char c, std::size_t count) {
  while (count > 0) {
    if (!MakeRoom(out)) {
      out.dropped += count;
      return;
    }
    const std::size_t n = std::min(count, kOutputBufferBytes - out.used);
    std::memset(out.buffer + out.used, c, n);
    out.used += n;
    count -= n;
  }
}

void PutF(Output& out, const char* format, ...) {
  // Every formatted piece the tool prints (a message with its path aside)
  // is a number or two; the path goes through Put.
  char text[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n > 0)
    Put(out, std::string_view(text, std::min(static_cast<std::size_t>(n), sizeof text - 1)));
}

char* ReserveSlow(Output& out, std::size_t count) {
  if (out.fd < 0) {
    out.dropped += count;
    return nullptr;
  }
  Flush(out);
  return out.buffer + out.used;
}

void PutBlock(Output& out, const TextBlock& block) {
  // A block that fits in the buffer's room is copied there, as any text
  // is; a larger one is written straight from where it lies.
  if (out.fd < 0 || block.used <= kOutputBufferBytes - out.used) {
    return Put(out, std::string_view(block.text, block.used));
  }
  Flush(out);
  WriteAll(out, block.text, block.used);
}

bool Flush(Output& out) {
  if (out.fd < 0) return true;
  WriteAll(out, out.buffer, out.used);
  out.used = 0;
  return !out.failed;
}

}  // namespace ampdots
