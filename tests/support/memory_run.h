// Runs the whole tool in memory: files are byte vectors registered by path,
// and the output is captured instead of written.
#ifndef AMPDOTS_TESTS_SUPPORT_MEMORY_RUN_H_
#define AMPDOTS_TESTS_SUPPORT_MEMORY_RUN_H_

#include <map>
#include <string>
#include <vector>

#include "cli/run.h"
#include "io/stream.h"
#include "support/wav_builder.h"

namespace ampdots::testing {

inline std::map<std::string, Bytes>& MemoryFiles() {
  static std::map<std::string, Bytes> files;
  return files;
}

inline bool OpenMemoryFile(const char* path, Source& source) {
  const auto it = MemoryFiles().find(path);
  if (it == MemoryFiles().end()) return false;
  source = MemorySource(it->second);
  return true;
}

/// The most bytes one read of a memory stream gives; 0 opens memory files
/// as regular files.
inline std::size_t& StreamPiece() {
  static std::size_t piece = 0;
  return piece;
}

/// Opens a memory file as a file, or as a stream when StreamPiece is set.
inline bool OpenMemoryFileOrStream(const char* path, Source& source) {
  if (StreamPiece() == 0) return OpenMemoryFile(path, source);
  const auto it = MemoryFiles().find(path);
  if (it == MemoryFiles().end()) return false;
  MemoryStream(it->second, StreamPiece(), source);
  return true;
}

struct RunResult {
  std::string out;
  int status;
  std::string err;
};

/// Runs `ampdots ARGS...` with the memory files, as if printing where
/// `around` says.
inline RunResult RunInMemory(const std::vector<std::string>& args,
                             const Surroundings& around = {}) {
  static Output out;
  static Output err;
  out.fd = err.fd = -1;
  out.used = err.used = 0;
  out.dropped = err.dropped = 0;
  std::vector<const char*> argv{"ampdots"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  const int status =
      Run(static_cast<int>(argv.size()), argv.data(), out, err, OpenMemoryFileOrStream, around);
  return {std::string(Text(out)), status, std::string(Text(err))};
}

}  // namespace ampdots::testing

#endif  // AMPDOTS_TESTS_SUPPORT_MEMORY_RUN_H_
