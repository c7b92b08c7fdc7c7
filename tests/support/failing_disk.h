// A disk that fails: a small FUSE filesystem of the tests' own
// (support/failing_fs.cc) serving one file whose bytes from some offset on
// fail to read with EIO.
#ifndef AMPDOTS_TESTS_SUPPORT_FAILING_DISK_H_
#define AMPDOTS_TESTS_SUPPORT_FAILING_DISK_H_

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_dir.h"

namespace ampdots::testing {

// Serves `wav` as a file whose bytes `badFrom` to `badTo` - 1 fail to read.
class FailingDisk {
 public:
  FailingDisk(const ScratchDir& dir, const Bytes& wav, std::uint64_t badFrom,
              std::uint64_t badTo = UINT64_MAX)
      : mount_(dir.Path("mnt")) {
#ifdef AMPDOTS_FAILING_FS
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
      why_ = "no /dev/fuse on this machine";
      return;
    }
    const std::string backing = dir.Write("backing.wav", wav);
    mkdir(mount_.c_str(), 0700);
    std::vector<std::string> args = {AMPDOTS_FAILING_FS, mount_, backing, std::to_string(badFrom)};
    if (badTo != UINT64_MAX) args.push_back(std::to_string(badTo));
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    // Mounted once the file shows through, with its whole length.
    for (int i = 0; i < 500; ++i) {
      struct stat st {};
      if (stat(Path().c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) == wav.size()) {
        return;
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        why_ = "the FUSE filesystem could not be mounted here";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    why_ = "the FUSE filesystem did not come up in 5 s";
#else
    (void)wav;
    (void)badFrom;
    (void)badTo;
    why_ = "built without libfuse3";
#endif
  }

  ~FailingDisk() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);  // it unmounts as it ends
    int status = 0;
    waitpid(pid_, &status, 0);
    umount2(mount_.c_str(), MNT_DETACH);  // in case it could not
  }
  FailingDisk(const FailingDisk&) = delete;
  FailingDisk& operator=(const FailingDisk&) = delete;

  /// Why the disk cannot be had here; empty when it serves.
  const std::string& Unavailable() const { return why_; }
  std::string Path() const { return mount_ + "/take.wav"; }

 private:
  std::string mount_;
  std::string why_;
  pid_t pid_ = -1;
};

}  // namespace ampdots::testing

/// Skips the test, saying why, where the failing disk cannot be had.
#define SKIP_WITHOUT(disk) \
  if (!(disk).Unavailable().empty()) GTEST_SKIP() << (disk).Unavailable()

#endif  // AMPDOTS_TESTS_SUPPORT_FAILING_DISK_H_
