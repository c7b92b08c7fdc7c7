// A whole run (arguments, probe, interval checks, scan, summary) over
// arbitrary bytes: the input is up to five NUL-terminated arguments, then
// the file. The path argument names the file, except an empty one, which
// names no file. The first byte also says whether the file comes as a
// stream, and in pieces of how many bytes. Output goes to memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "cli/options.h"
#include "cli/run.h"
#include "io/stream.h"

namespace {

std::span<const std::uint8_t> file;
std::size_t streamPiece = 0;  // 0: a regular file

bool OpenFuzzFile(const char* path, ampdots::Source& source) {
  if (path[0] == '\0') return false;
  if (streamPiece == 0) {
    source = ampdots::MemorySource(file);
  } else {
    ampdots::MemoryStream(file, streamPiece, source);
  }
  return true;
}

ampdots::Output out;
ampdots::Output err;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // First byte: how many arguments (0 to 6), and with its top bit set, a
  // stream in pieces of 1 to 3841 bytes; then each argument up to its NUL.
  const int count = (data[0] & 0x07) % 7;
  streamPiece =
      (data[0] & 0x80) != 0 ? 1 + static_cast<std::size_t>((data[0] >> 3) & 0x0F) * 256 : 0;
  std::size_t at = 1;
  char args[6][32] = {};
  const char* argv[7] = {"ampdots"};
  for (int i = 0; i < count; ++i) {
    std::size_t n = 0;
    while (at < size && data[at] != 0 && n < sizeof args[i] - 1)
      args[i][n++] = static_cast<char>(data[at++]);
    if (at < size) ++at;  // the NUL, or the character past the length limit
    argv[i + 1] = args[i];
  }
  file = std::span<const std::uint8_t>(data + at, size - at);
  out.fd = err.fd = -1;
  out.used = err.used = 0;
  out.dropped = err.dropped = 0;
  // A UTF-8 terminal of 100 x 30, so that --unicode and the auto sizes run.
  ampdots::Surroundings around;
  around.columns = 100;
  around.rows = 30;
  around.utf8 = true;
  const int status = ampdots::Run(count + 1, argv, out, err, OpenFuzzFile, around);
  if (status < 0 || status > 2) __builtin_trap();
  const std::string_view text = ampdots::Text(out);
  const ampdots::Options options = ampdots::ParseOptions(count + 1, argv);
  if (options.error != nullptr) {
    // Refused options: nothing on standard output, the reason on standard error.
    if (status != 1 || !text.empty() || ampdots::Text(err).empty()) __builtin_trap();
    return 0;
  }
  if (options.help || options.version) {
    if (status != 0) __builtin_trap();
    return 0;
  }
  // Options refused once the arguments are counted (--lines with a
  // RESOLUTION): the same.
  if (status == 1 && text.empty() && !ampdots::Text(err).empty()) return 0;
  if (out.dropped != 0) return 0;
  switch (options.mode) {
    case ampdots::OutputMode::kPicture:
      // The picture starts with the banner and ends its text with a newline.
      if (text.rfind(ampdots::kBanner, 0) != 0 || text.back() != '\n') __builtin_trap();
      break;
    case ampdots::OutputMode::kJson:
      // Records alone: every line an object (or nothing, after a message).
      for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos || text[at] != '{' || text[end - 1] != '}') {
          __builtin_trap();
        }
        at = end + 1;
      }
      break;
    case ampdots::OutputMode::kCsv:
      if (!text.empty() && (text.size() < 2 || text.substr(text.size() - 2) != "\r\n")) {
        __builtin_trap();
      }
      break;
  }
  return 0;
}
