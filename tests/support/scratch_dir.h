// A temporary directory for a test's files.
#ifndef AMPDOTS_TESTS_SUPPORT_SCRATCH_DIR_H_
#define AMPDOTS_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "support/wav_builder.h"

namespace ampdots::testing {

/// A directory of the test's own, removed with all it holds when the test
/// ends, whatever its outcome: tests running side by side never collide.
class ScratchDir {
 public:
  ScratchDir() : ScratchDir(::testing::TempDir()) {}
  /// A directory under `base`, which ends with a slash.
  explicit ScratchDir(const std::string& base) {
    // mkdtemp makes the name unique: no two tests share a directory.
    std::string pattern = base + "ampdots_XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    EXPECT_FALSE(path_.empty()) << "mkdtemp failed";
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string Path(const std::string& name) const { return path_ + "/" + name; }

  /// Writes `bytes` to a file of that name and returns its path.
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = Path(name);
    EXPECT_TRUE(WriteFile(path, bytes)) << path;
    return path;
  }

 private:
  std::string path_;
};

}  // namespace ampdots::testing

#endif  // AMPDOTS_TESTS_SUPPORT_SCRATCH_DIR_H_
